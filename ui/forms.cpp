#include "ui/forms.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QPushButton>
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
  // A dialog would make its first auto-default push button the default one
  // once the form is visible, so that Enter anywhere pressed it. Buttons the
  // form made default themselves keep that.
  for (QPushButton* button : findChildren<QPushButton*>())
    if (!button->isDefault()) button->setAutoDefault(false);
  QDialog::showEvent(event);
  if (!event->spontaneous()) Guarded(this, [this] { FormShow(); });
}

void TForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    if (cancelButton_ != nullptr && cancelButton_->isEnabled()) cancelButton_->click();
    return;
  }
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    // A push button that is no default button passes Enter on to its form.
    if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button != nullptr && button->isEnabled()) {
      button->click();
      return;
    }
  }
  QDialog::keyPressEvent(event);
}
