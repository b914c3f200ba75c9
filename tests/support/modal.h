// Answers modal windows from a timer, the way a user would close them.
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

namespace modal {

// Waits (polling the event loop) for the next modal window to open, then hands
// it to `answer`, which must close it. Gives up after `timeoutMs`.
inline void AnswerNext(std::function<void(QWidget*)> answer, int timeoutMs = 10000) {
  auto remaining = std::make_shared<int>(timeoutMs / 10);
  auto poll = std::make_shared<std::function<void()>>();
  *poll = [answer = std::move(answer), remaining, poll]() {
    if (QWidget* window = QApplication::activeModalWidget(); window != nullptr && window->isVisible()) {
      answer(window);
      *poll = nullptr;  // break the self-reference
      return;
    }
    if (--*remaining > 0) QTimer::singleShot(10, *poll);
  };
  QTimer::singleShot(0, *poll);
}

}  // namespace modal
