// Forms: outer sizes, modal results and the guarded show and key handling of
// dialog-style forms.
#include "ui/forms.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QWindow>

#include "ui/application.h"

namespace {

// Keeps a window's client area at its outer size less the frame that the
// platform reports. Platforms that learn the frame only after the window
// is mapped report it later; the window follows while the user has not
// resized it.
class OuterSizeKeeper : public QObject {
 public:
  OuterSizeKeeper(QWidget* window, QSize outer) : QObject(window), outer_(outer) {
    setObjectName(QStringLiteral("OuterSizeKeeper"));
    window->installEventFilter(this);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == parent() && (event->type() == QEvent::Show || event->type() == QEvent::Move))
      Apply(static_cast<QWidget*>(watched));
    return false;
  }

 private:
  QSize ClientSize(const QMargins& frame) const {
    return outer_.shrunkBy(frame).expandedTo(QSize(1, 1));
  }

  void Apply(QWidget* window) {
    const QWindow* handle = window->windowHandle();
    if (handle == nullptr) return;
    const QMargins frame = handle->frameMargins();
    if (frame == applied_ || window->size() != ClientSize(applied_)) return;
    applied_ = frame;
    window->resize(ClientSize(frame));
  }

  QSize outer_;
  QMargins applied_;
};

}  // namespace

void SetOuterSize(QWidget* window, QSize size) {
  delete window->findChild<OuterSizeKeeper*>(QStringLiteral("OuterSizeKeeper"), Qt::FindDirectChildrenOnly);
  window->resize(size);
  new OuterSizeKeeper(window, size);
}

TForm::TForm(QWidget* owner) : QDialog(owner) {}

void TForm::SetModalResult(TModalResult result) {
  modalResult_ = result;
  if (result != mrNone && isVisible()) QDialog::done(result);
}

TModalResult TForm::ShowModal() {
  modalResult_ = mrNone;
  // A handler of a fatal error may release the form while its loop runs.
  const QPointer<TForm> self(this);
  exec();
  if (!self) return mrNone;
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
