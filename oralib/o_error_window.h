// The error-window layout shared by the Oracle error window and the
// application's fatal error window, and the Oracle error window itself.
#pragma once

#include <exception>

#include "ui/application.h"
#include "ui/forms.h"

class QLabel;
class QPushButton;
class QTextEdit;
class QFrame;
class EOError;

// Top panel with the error icon, the first error text and the Close button;
// below it a detail area that the window shows once the user enlarges it. A
// form of the framework: FormShow runs guarded each time the window is shown.
class TErrorWindow : public TForm {
  Q_OBJECT

 public:
  explicit TErrorWindow(QWidget* parent = nullptr);

  bool DetailsShown() const { return detailsShown_; }
  void SetDetailsShown(bool shown);
  void DetailBtnClick() { SetDetailsShown(!detailsShown_); }

  // Escape (Button1 is the cancel button) and the frame's close command act as
  // Button1 (Close).
  void reject() override { accept(); }

  QFrame* TopPanel;
  QLabel* ErrIcon;
  QLabel* FirstErrLbl;
  QFrame* RightPanel;
  QPushButton* Button1;
  QPushButton* DetailBtn;
  QFrame* BottomPanel;
  QTextEdit* RichEdit;

  static constexpr int kTopPanelHeight = 89;
  static constexpr int kBottomPanelHeight = 122;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  // The framework's show, then the window is centred on the screen.
  void showEvent(QShowEvent* event) override;
  void FormShow() override = 0;

 private:
  void LayOut();
  bool detailsShown_ = false;
};

// Shows EOError exceptions; every other exception goes to the handler that
// was installed before this window.
class TOraErrorFrm : public TErrorWindow {
  Q_OBJECT

 public:
  explicit TOraErrorFrm(QWidget* parent = nullptr);
  ~TOraErrorFrm() override;  // puts the displaced handler back

  void HandleOracleException(QObject* sender, const std::exception& e) noexcept;
  const EOError* ShownException() const { return shownException_; }

 protected:
  void FormShow() override;

 private:
  TExceptionHandlerLink handler_;  // SavedOnException is handler_.Saved()
  const EOError* shownException_ = nullptr;
};

// The text of the label: the first error's text without "ORA-nnnnn: ", up to the next "ORA-".
QString FirstErrorText(const QString& message);

// The process-wide Oracle error window: created by the first Connect, released
// by the application's clean-up.
TOraErrorFrm* OracleErrorWindow();
void CreateOracleErrorWindow();
void ReleaseOracleErrorWindow();
