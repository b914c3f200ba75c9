// A list of pictures of one size, addressed by index.
#include "ui/imagelist.h"

#include "ui/exception.h"

int TImageList::Add(const QPixmap& image) {
  if (image.size() != imageSize_)
    throw Exception(QStringLiteral("Invalid image size"));
  images_.append(image);
  return Count() - 1;
}

const QPixmap& TImageList::Image(int index) const {
  if (index < 0 || index >= Count())
    throw Exception(QStringLiteral("List index out of bounds (%1)").arg(index));
  return images_.at(index);
}
