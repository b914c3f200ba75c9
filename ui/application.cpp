// The application object: title, hint, the one replaceable exception handler
// and termination.
#include "ui/application.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <QWidget>
#include <QWindow>
#include <cstdio>

#include "ui/exception.h"

namespace {

// The fallback when no handler is installed, or the installed one failed:
// a message box captioned with the application title, or standard error when
// there is no GUI to show one.
void ShowPlainError(const QString& message) noexcept {
  try {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
      std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
      return;
    }
    QMessageBox box(QMessageBox::Critical, Application().Title(), message, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);  // an error's text may come from anywhere
    box.exec();
  } catch (...) {
    // Nothing is left to report to; never let it unwind through Qt.
  }
}

}  // namespace

TApplication& TApplication::Instance() {
  static TApplication application;
  return application;
}

// The title is the application name only: a display name would make the
// platform append it to every window caption.
QString TApplication::Title() const { return QCoreApplication::applicationName(); }

void TApplication::SetTitle(const QString& title) { QCoreApplication::setApplicationName(title); }

void TApplication::SetHint(const QString& hint) {
  if (hint == hint_) return;
  hint_ = hint;
  if (OnHint) OnHint();
}

void TApplication::ShowException(const std::exception& e) { ShowPlainError(ExceptionMessage(e)); }

void TApplication::HandleException(QObject* sender, const std::exception& e) noexcept {
  if (!onException_) {
    ShowPlainError(ExceptionMessage(e));
    return;
  }
  try {
    // Run a copy: a handler may replace itself (an error window that goes away
    // reinstalls the handler it displaced) while it is still running.
    const TExceptionEvent handler = onException_;
    handler(sender, e);
  } catch (const std::exception& failure) {
    ShowPlainError(ExceptionMessage(failure));
  } catch (...) {
    ShowPlainError(ExceptionMessage(e));
  }
}

void TApplication::HandleException(QObject* sender, std::exception_ptr e) noexcept {
  try {
    if (e) std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    HandleException(sender, ex);
  } catch (...) {
    HandleException(sender, Exception(QStringLiteral("Unknown exception")));
  }
}

void TApplication::Terminate() {
  terminated_ = true;
  // QCoreApplication::exit also makes every event loop started afterwards
  // return at once, so it is only called while a loop runs; before that,
  // Run() sees the flag.
  if (QCoreApplication::instance() != nullptr && QThread::currentThread()->loopLevel() > 0)
    QCoreApplication::exit(0);
}

int TApplication::Run() {
  if (terminated_ || QCoreApplication::instance() == nullptr) return 0;
  return QCoreApplication::exec();
}

namespace {

// Changes a window's stays-on-top flag in place. setWindowFlag would hide a
// visible window first, and hiding a dialog ends its modal loop.
void SetStaysOnTop(QWidget* window, bool on) {
  Qt::WindowFlags flags = window->windowFlags();
  flags.setFlag(Qt::WindowStaysOnTopHint, on);
  window->overrideWindowFlags(flags);
  if (QWindow* handle = window->windowHandle()) handle->setFlags(flags);
}

}  // namespace

void TApplication::NormalizeTopMosts() {
  if (topMostLevel_++ > 0) return;
  normalized_.clear();
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (!window->isVisible() || !window->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) continue;
    normalized_.append(window);
    SetStaysOnTop(window, false);
  }
}

void TApplication::RestoreTopMosts() {
  if (topMostLevel_ == 0 || --topMostLevel_ > 0) return;
  for (const QPointer<QWidget>& window : std::as_const(normalized_))
    if (!window.isNull()) SetStaysOnTop(window, true);
  normalized_.clear();
}

TExceptionHandlerLink* TExceptionHandlerLink::top_ = nullptr;

TExceptionHandlerLink::TExceptionHandlerLink(TApplication::TExceptionEvent handler)
    : saved_(Application().OnException()), below_(top_) {
  if (below_ != nullptr) below_->above_ = this;
  top_ = this;
  Application().SetOnException(std::move(handler));
}

TExceptionHandlerLink::~TExceptionHandlerLink() {
  if (above_ == nullptr) {
    Application().SetOnException(saved_);
    top_ = below_;
  } else {
    above_->saved_ = saved_;
    above_->below_ = below_;
  }
  if (below_ != nullptr) below_->above_ = above_;
}
