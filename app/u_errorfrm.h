// The application's last-resort error window: every exception that reaches it
// is fatal.
#pragma once

#include <exception>
#include <functional>

#include "oralib/o_error_window.h"

class TErrorFrm : public TErrorWindow {
  Q_OBJECT

 public:
  // What ends the program after a fatal error: the owner's release of its
  // database objects, then termination. The main window sets it.
  using TReleaseAndTerminate = std::function<void()>;

  explicit TErrorFrm(QWidget* parent = nullptr);
  ~TErrorFrm() override;

  // Without a step set, a fatal error only terminates the application.
  void SetReleaseAndTerminate(TReleaseAndTerminate step) { releaseAndTerminate_ = std::move(step); }

  // A cancelled log-on ends the program quietly; anything else is shown once,
  // then the program releases its database objects and terminates.
  virtual void HandleAppException(QObject* sender, const std::exception& e) noexcept;

  const std::exception* ShownException() const { return shownException_; }

 protected:
  void FormShow() override;

 private:
  void ReleaseAndTerminate();

  TExceptionHandlerLink handler_;
  TReleaseAndTerminate releaseAndTerminate_;
  const std::exception* shownException_ = nullptr;
};

// The one application error window; created by the main window's creation.
extern TErrorFrm* ApplicationErrorWindow;
