// The application object: title, hint, the one replaceable exception handler,
// termination and the top-most window pair, over QApplication.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <exception>
#include <functional>
#include <utility>

class QWidget;

class TApplication : public QObject {
  Q_OBJECT

 public:
  // The exception handler: receives the object whose handler raised and the exception.
  using TExceptionEvent = std::function<void(QObject* sender, const std::exception& e)>;

  static TApplication& Instance();

  QString Title() const;
  void SetTitle(const QString& title);

  // The current hint ("short|long"); setting it to a new value runs OnHint.
  QString Hint() const { return hint_; }
  void SetHint(const QString& hint);
  std::function<void()> OnHint;

  // Whether the event loop shows the main window by itself (the main window
  // shows itself at the end of its creation instead).
  bool ShowMainForm = true;

  // The one exception handler. Whoever installs a handler saves the one it
  // replaces and puts it back when it goes away.
  const TExceptionEvent& OnException() const { return onException_; }
  void SetOnException(TExceptionEvent handler) { onException_ = std::move(handler); }

  // Hands an exception to the installed handler, or, when none is installed,
  // shows its message in a plain message box. Never throws.
  void HandleException(QObject* sender, const std::exception& e) noexcept;
  // Same for an exception caught as a pointer (for catch (...) boundaries).
  void HandleException(QObject* sender, std::exception_ptr e) noexcept;
  // The default display of an exception: its message in a plain message box.
  void ShowException(const std::exception& e);

  // Asks the event loop to end. Before the loop runs, Run() remembers it and
  // returns at once.
  void Terminate();
  bool Terminated() const { return terminated_; }

  // Runs the event loop until the application terminates; returns the exit code.
  int Run();

  // Lets a modal window come in front of windows that stay on top, and puts them back.
  void NormalizeTopMosts();
  void RestoreTopMosts();

 private:
  TApplication() = default;

  QString hint_;
  TExceptionEvent onException_;
  bool terminated_ = false;
  int topMostLevel_ = 0;
  QList<QPointer<QWidget>> normalized_;  // a window may go away before RestoreTopMosts
};

inline TApplication& Application() { return TApplication::Instance(); }

// A handler installed in front of the application's current one for the life
// of this object (an error window's). Going away, it puts back the handler it
// displaced; when another link was installed in front of it meanwhile, that
// link takes over the displaced handler instead, so that no link is ever left
// holding the handler of one that is gone.
class TExceptionHandlerLink {
 public:
  explicit TExceptionHandlerLink(TApplication::TExceptionEvent handler);
  ~TExceptionHandlerLink();
  TExceptionHandlerLink(const TExceptionHandlerLink&) = delete;
  TExceptionHandlerLink& operator=(const TExceptionHandlerLink&) = delete;

  // The handler that was installed before this one.
  const TApplication::TExceptionEvent& Saved() const { return saved_; }

 private:
  TApplication::TExceptionEvent saved_;
  TExceptionHandlerLink* below_ = nullptr;  // the link whose handler this one displaced
  TExceptionHandlerLink* above_ = nullptr;  // the link installed in front of this one
  static TExceptionHandlerLink* top_;
};

// Runs `handler` where Qt calls our code (a slot, an event override, a form's
// creation): any exception that leaves it goes to the application's exception
// handler exactly once and never unwinds through Qt. Returns false when one was raised.
template <class F>
bool Guarded(QObject* sender, F&& handler) noexcept {
  try {
    std::forward<F>(handler)();
    return true;
  } catch (...) {
    Application().HandleException(sender, std::current_exception());
    return false;
  }
}
