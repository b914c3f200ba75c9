// A list of text lines that tells its owner about every change.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class TStrings {
 public:
  std::function<void()> OnChange;

  void Clear() {
    lines_.clear();
    Changed();
  }
  void Add(const QString& line) {
    lines_.append(line);
    Changed();
  }
  // Replaces every line: one change notice for the whole copy.
  void Assign(const QStringList& lines) {
    lines_ = lines;
    Changed();
  }
  // The lines, each followed by carriage return and line feed.
  QString Text() const {
    QString text;
    for (const QString& line : lines_) text += line + QStringLiteral("\r\n");
    return text;
  }
  int Count() const { return static_cast<int>(lines_.size()); }
  const QString& operator[](int index) const { return lines_[index]; }
  const QStringList& Lines() const { return lines_; }

 private:
  void Changed() {
    if (OnChange) OnChange();
  }
  QStringList lines_;
};
