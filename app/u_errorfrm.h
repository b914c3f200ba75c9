// The application's last-resort error window: every exception that reaches it
// is fatal.
#pragma once

#include <exception>

#include "oralib/o_error_window.h"

class TErrorFrm : public TErrorWindow {
  Q_OBJECT

 public:
  explicit TErrorFrm(QWidget* parent = nullptr);
  ~TErrorFrm() override;

  // A cancelled log-on ends the program quietly; anything else is shown once,
  // then the program releases its database objects and terminates.
  virtual void HandleAppException(QObject* sender, const std::exception& e) noexcept;

  const std::exception* ShownException() const { return shownException_; }

 protected:
  void FormShow() override;

 private:
  TExceptionHandlerLink handler_;
  const std::exception* shownException_ = nullptr;
};

// The one application error window; created by the main window's creation.
extern TErrorFrm* ApplicationErrorWindow;
