// Message and confirmation boxes, their text shown as plain text.
#include "ui/dialogs.h"

#include <QMessageBox>
#include <QPushButton>

#include "ui/application.h"

void ShowMessage(const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, Application().Title(), text, QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

TModalResult MessageDlgYesNo(const QString& text) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), text);
  box.setTextFormat(Qt::PlainText);
  QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
  box.setDefaultButton(yes);
  box.setEscapeButton(no);
  box.exec();
  return box.clickedButton() == yes ? mrYes : mrNo;
}
