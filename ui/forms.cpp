#include "ui/forms.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QShowEvent>

#include "ui/application.h"

TForm::TForm(QWidget* owner) : QDialog(owner) {}

void TForm::SetModalResult(TModalResult result) {
  modalResult_ = result;
  if (result != mrNone && isVisible()) QDialog::done(result);
}

TModalResult TForm::ShowModal() {
  modalResult_ = mrNone;
  exec();
  // When the application ends the loop, exec returns with the form still up.
  if (isVisible()) hide();
  return modalResult_;
}

void TForm::done(int result) {
  // QDialog's own paths (reject on closing by the frame, accept) arrive here
  // without a modal result of ours.
  if (modalResult_ == mrNone) modalResult_ = result == QDialog::Accepted ? mrOk : mrCancel;
  QDialog::done(result);
}

void TForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) Guarded(this, [this] { FormShow(); });
}

void TForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    if (cancelButton_ != nullptr && cancelButton_->isEnabled()) cancelButton_->click();
    return;
  }
  QDialog::keyPressEvent(event);
}
