// Forms: top-level windows built from a layout of named controls, shown
// modeless or modally with a modal result.
#pragma once

#include <QDialog>

class QAbstractButton;

// Gives a top-level window an outer size, its frame included, as far as the
// platform reports the frame: until the window is shown the whole size goes to
// its client area; from then on the client area is the size less the frame.
// A size the user gives the window afterwards stays. (Its place, set with
// move(), is already that of the frame.)
void SetOuterSize(QWidget* window, QSize size);

// The result a modal form closes with; mrNone keeps it open.
using TModalResult = int;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = 1;
constexpr TModalResult mrCancel = 2;
constexpr TModalResult mrAbort = 3;
constexpr TModalResult mrRetry = 4;
constexpr TModalResult mrIgnore = 5;
constexpr TModalResult mrYes = 6;
constexpr TModalResult mrNo = 7;

// A dialog-style form. Closing it by its frame gives mrCancel; Escape does
// nothing unless the form names a cancel button. No push button is a default
// button unless the form makes it one: Enter presses the push button that has
// the focus and does nothing on other controls. Derived forms run their
// creation code guarded at the end of their constructor and override
// FormShow, which runs guarded each time the form becomes visible.
class TForm : public QDialog {
  Q_OBJECT

 public:
  explicit TForm(QWidget* owner = nullptr);

  QString Caption() const { return windowTitle(); }
  void SetCaption(const QString& caption) { setWindowTitle(caption); }

  TModalResult ModalResult() const { return modalResult_; }
  // Any result but mrNone closes the form when it is shown modally.
  void SetModalResult(TModalResult result);

  // Shows the form modally and returns the result it closed with (mrNone when
  // the application ended the loop first, or the form was released meanwhile).
  TModalResult ShowModal();

  // The button that Escape clicks; none by default.
  void SetCancelButton(QAbstractButton* button) { cancelButton_ = button; }

  void done(int result) override;

 protected:
  virtual void FormShow() {}

  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  TModalResult modalResult_ = mrNone;
  QAbstractButton* cancelButton_ = nullptr;
};
