// The application's fatal error window.
#include "app/u_errorfrm.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTextEdit>

#include "oralib/o_lang.h"
#include "ui/exception.h"
#include "ui/screen.h"

TErrorFrm* ApplicationErrorWindow = nullptr;

TErrorFrm::TErrorFrm(QWidget* parent)
    : TErrorWindow(parent),
      handler_([this](QObject* sender, const std::exception& e) { HandleAppException(sender, e); }) {
  setObjectName(QStringLiteral("ErrorFrm"));
}

TErrorFrm::~TErrorFrm() {
  if (ApplicationErrorWindow == this) ApplicationErrorWindow = nullptr;
}

void TErrorFrm::HandleAppException(QObject*, const std::exception& e) noexcept {
  try {
    if (ExceptionMessage(e) == QStringLiteral("Not connected to Oracle")) {
      ReleaseAndTerminate();
      return;
    }
    // A second fatal error while this window is open ends with the first.
    if (isVisible()) return;
    Screen::SetCursor(crDefault);
    Application().NormalizeTopMosts();
    shownException_ = &e;
    const QPointer<TErrorFrm> self(this);
    try {
      ShowModal();
    } catch (...) {
    }
    if (self) shownException_ = nullptr;
    Application().RestoreTopMosts();
    ReleaseAndTerminate();
  } catch (...) {
    Application().Terminate();
  }
}

void TErrorFrm::ReleaseAndTerminate() {
  // Releasing the database objects releases this window too: the step is
  // taken out of it first, and nothing of the window is used afterwards.
  const TReleaseAndTerminate step = releaseAndTerminate_;
  if (step)
    step();
  else
    Application().Terminate();
}

void TErrorFrm::FormShow() {
  setWindowTitle(QStringLiteral("Fatal ") + LoadStr(SErrorCaption));
  Button1->setText(LoadStr(SCloseCaption));
  SetDetailsShown(false);
  RichEdit->clear();
  FirstErrLbl->setText(shownException_ != nullptr ? ExceptionMessage(*shownException_) : QString());
}
