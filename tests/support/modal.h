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
  struct State {
    std::function<void(QWidget*)> answer;
    int remaining;
  };
  // Each poll schedules a copy of itself: the state lives exactly as long as a
  // poll is pending, whether it is answered, gives up or the program ends.
  struct Poll {
    std::shared_ptr<State> state;
    void operator()() const {
      if (QWidget* window = QApplication::activeModalWidget(); window != nullptr && window->isVisible()) {
        state->answer(window);
        return;
      }
      if (--state->remaining > 0) QTimer::singleShot(10, Poll{state});
    }
  };
  QTimer::singleShot(0, Poll{std::make_shared<State>(State{std::move(answer), timeoutMs / 10})});
}

}  // namespace modal
