// The general exception type: every failure of the program is an exception
// carrying a message text. The data-access library's own errors derive from it.
#pragma once

#include <QString>
#include <exception>
#include <string>

class Exception : public std::exception {
 public:
  explicit Exception(QString message) : message_(std::move(message)), utf8_(message_.toStdString()) {}

  const QString& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return utf8_.c_str(); }

 private:
  QString message_;
  std::string utf8_;  // what() must return storage that outlives the call
};

// The message of any exception as text: Exception's own message, or what().
inline QString ExceptionMessage(const std::exception& e) {
  if (auto* ex = dynamic_cast<const Exception*>(&e)) return ex->Message();
  return QString::fromUtf8(e.what());
}
