// A list of pictures of one size, addressed by index (tool button images).
#pragma once

#include <QIcon>
#include <QList>
#include <QPixmap>
#include <QSize>

class TImageList {
 public:
  explicit TImageList(QSize imageSize = QSize(16, 16)) : imageSize_(imageSize) {}

  QSize ImageSize() const { return imageSize_; }
  int Count() const { return static_cast<int>(images_.size()); }

  // Appends a picture of the list's size; raises Exception for another size.
  int Add(const QPixmap& image);

  // The picture at `index`; raises Exception for an index out of range.
  const QPixmap& Image(int index) const;
  QIcon Icon(int index) const { return QIcon(Image(index)); }

 private:
  QSize imageSize_;
  QList<QPixmap> images_;
};
