// Control hints: the short part as tooltip, the long part as the application's
// hint.
#include "ui/hint.h"

#include <QEvent>
#include <QTextDocument>
#include <QWidget>

#include "ui/application.h"

namespace {

// Holds a control's hint and passes it to the application while the pointer
// is over the control. A child of the control, so it goes away with it.
class THintFilter : public QObject {
 public:
  THintFilter(QWidget* control, QString hint) : QObject(control), hint_(std::move(hint)) {
    control->installEventFilter(this);
  }

  const QString& Hint() const { return hint_; }
  void SetHint(const QString& hint) { hint_ = hint; }

  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::Enter:
        Guarded(watched, [this] { Application().SetHint(hint_); });
        break;
      case QEvent::Leave:
      case QEvent::Hide:
        // Only clear what this control put there.
        Guarded(watched, [this] {
          if (Application().Hint() == hint_) Application().SetHint(QString());
        });
        break;
      default:
        break;
    }
    return false;
  }

 private:
  QString hint_;
};

THintFilter* FilterOf(const QWidget* control) {
  return control->findChild<THintFilter*>(QString(), Qt::FindDirectChildrenOnly);
}

}  // namespace

QString GetShortHint(const QString& hint) {
  const qsizetype bar = hint.indexOf(QLatin1Char('|'));
  return bar < 0 ? hint : hint.left(bar);
}

QString GetLongHint(const QString& hint) {
  const qsizetype bar = hint.indexOf(QLatin1Char('|'));
  return bar < 0 ? hint : hint.mid(bar + 1);
}

void SetControlHint(QWidget* control, const QString& hint, bool showHint) {
  if (THintFilter* filter = FilterOf(control))
    filter->SetHint(hint);
  else
    new THintFilter(control, hint);
  control->setToolTip(showHint ? PlainToolTip(GetShortHint(hint)) : QString());
}

QString PlainToolTip(const QString& text) {
  if (!Qt::mightBeRichText(text)) return text;
  return QStringLiteral("<p style='white-space:pre-wrap'>") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

QString ControlHint(const QWidget* control) {
  const THintFilter* filter = FilterOf(control);
  return filter != nullptr ? filter->Hint() : QString();
}
