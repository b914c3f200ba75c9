// Tests of forms: modal results, Escape, the frame's close command and default
// buttons.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "tests/support/modal.h"
#include "tests/support/shown_text.h"
#include "ui/application.h"
#include "ui/dialogs.h"
#include "ui/exception.h"
#include "ui/forms.h"
#include "ui/statusbar.h"

TEST(ModalForm, ReturnsTheResultItWasClosedWith) {
  TForm form;
  QTimer::singleShot(0, &form, [&] { form.SetModalResult(mrOk); });
  EXPECT_EQ(form.ShowModal(), mrOk);
  EXPECT_FALSE(form.isVisible());

  QTimer::singleShot(0, &form, [&] { form.SetModalResult(mrCancel); });
  EXPECT_EQ(form.ShowModal(), mrCancel);

  // Each showing starts without a result: closing by the frame after an OK is a cancel.
  QTimer::singleShot(0, &form, [&] { form.SetModalResult(mrOk); });
  EXPECT_EQ(form.ShowModal(), mrOk);
  QTimer::singleShot(0, &form, [&] { form.close(); });
  EXPECT_EQ(form.ShowModal(), mrCancel);
}

TEST(ModalForm, ClosingByTheFrameGivesCancelAndEscapeDoesNothing) {
  TForm form;
  QTimer::singleShot(0, &form, [&] {
    QTest::keyClick(&form, Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible());
    form.close();
  });
  EXPECT_EQ(form.ShowModal(), mrCancel);
}

TEST(ModalForm, EscapeClicksTheCancelButtonWhenThereIsOne) {
  TForm form;
  QPushButton close(QStringLiteral("Close"), &form);
  QObject::connect(&close, &QPushButton::clicked, &form, [&] { form.SetModalResult(mrAbort); });
  form.SetCancelButton(&close);
  QTimer::singleShot(0, &form, [&] { QTest::keyClick(&form, Qt::Key_Escape); });
  EXPECT_EQ(form.ShowModal(), mrAbort);
}

TEST(ModalForm, EnterPressesTheFocusedButtonOrOneTheFormMadeDefault) {
  TForm form;
  QCheckBox box(QStringLiteral("box"), &form);
  QPushButton ok(QStringLiteral("OK"), &form);
  QPushButton other(QStringLiteral("Other"), &form);
  QObject::connect(&ok, &QPushButton::clicked, &form, [&] { form.SetModalResult(mrOk); });
  QObject::connect(&other, &QPushButton::clicked, &form, [&] { form.SetModalResult(mrRetry); });
  QTimer::singleShot(0, &form, [&] {
    QTest::keyClick(&box, Qt::Key_Return);  // no default button: nothing happens
    EXPECT_TRUE(form.isVisible());
    other.setFocus();
    QTest::keyClick(&other, Qt::Key_Enter, Qt::KeypadModifier);  // the keypad's Enter too
  });
  EXPECT_EQ(form.ShowModal(), mrRetry);

  ok.setDefault(true);
  QTimer::singleShot(0, &form, [&] { QTest::keyClick(&box, Qt::Key_Return); });
  EXPECT_EQ(form.ShowModal(), mrOk);
}

namespace {

class ShowCountingForm : public TForm {
 public:
  int shown = 0;

 protected:
  void FormShow() override {
    ++shown;
    throw Exception(QStringLiteral("show failed"));
  }
};

}  // namespace

TEST(ModalForm, AFailingFormShowIsReportedAndTheFormStillOpens) {
  QStringList messages;
  const auto saved = Application().OnException();
  Application().SetOnException([&](QObject*, const std::exception& e) { messages.append(ExceptionMessage(e)); });
  ShowCountingForm form;
  form.show();
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.shown, 1);
  EXPECT_EQ(messages, QStringList{QStringLiteral("show failed")});
  Application().SetOnException(saved);
}

TEST(MessageBoxes, PlainMessageIsCaptionedWithTheTitle) {
  Application().SetTitle(QStringLiteral("Quenlow"));
  QString caption, text;
  modal::AnswerNext([&](QWidget* window) {
    auto* box = qobject_cast<QMessageBox*>(window);
    ASSERT_NE(box, nullptr);
    caption = box->windowTitle();
    text = box->text();
    box->button(QMessageBox::Ok)->click();
  });
  ShowMessage(QStringLiteral("Do not kill yourself!"));
  EXPECT_EQ(caption, QStringLiteral("Quenlow"));
  EXPECT_EQ(text, QStringLiteral("Do not kill yourself!"));
}

TEST(MessageBoxes, ConfirmationAnswersYesOnlyForYes) {
  QStringList buttons;
  QString caption;
  modal::AnswerNext([&](QWidget* window) {
    auto* box = qobject_cast<QMessageBox*>(window);
    ASSERT_NE(box, nullptr);
    caption = box->windowTitle();
    for (QAbstractButton* button : box->buttons()) buttons.append(button->text());
    box->defaultButton()->click();
  });
  EXPECT_EQ(MessageDlgYesNo(QStringLiteral("Do you really want to kill this session!")), mrYes);
  EXPECT_EQ(caption, QStringLiteral("Confirm"));
  buttons.sort();
  EXPECT_EQ(buttons, (QStringList{QStringLiteral("&No"), QStringLiteral("&Yes")}));

  modal::AnswerNext([](QWidget* window) { QTest::keyClick(window, Qt::Key_Escape); });
  EXPECT_EQ(MessageDlgYesNo(QStringLiteral("Sure?")), mrNo);
}

TEST(MessageBoxes, ShowTheirTextAsItIsNeverAsMarkup) {
  QStringList shown;
  const auto record = [&](QWidget* window) {
    auto* box = qobject_cast<QMessageBox*>(window);
    ASSERT_NE(box, nullptr);
    shown << ShownText(box->text(), box->textFormat());
    box->close();
  };
  modal::AnswerNext(record);
  ShowMessage(MarkupLike());
  modal::AnswerNext(record);
  MessageDlgYesNo(MarkupLike());
  // The default display of an exception when no handler is installed.
  const auto saved = Application().OnException();
  Application().SetOnException(nullptr);
  modal::AnswerNext(record);
  Application().HandleException(nullptr, Exception(MarkupLike()));
  Application().SetOnException(saved);
  EXPECT_EQ(shown, (QStringList{MarkupLike(), MarkupLike(), MarkupLike()}));
}

TEST(StatusBar, PanelsHaveFixedWidthsAndTheirOwnTexts) {
  TStatusBar bar;
  EXPECT_EQ(bar.AddPanel(350), 0);
  EXPECT_EQ(bar.AddPanel(60), 1);
  EXPECT_EQ(bar.Panel(0)->width(), 350);
  EXPECT_EQ(bar.Panel(1)->maximumWidth(), 60);
  bar.SetPanelText(1, QStringLiteral("SYSTEM"));
  EXPECT_EQ(bar.PanelText(1), QStringLiteral("SYSTEM"));
  EXPECT_EQ(bar.PanelText(0), QString());
  bar.SetPanelText(0, MarkupLike());  // texts from the server are shown as text
  EXPECT_EQ(ShownText(bar.Panel(0)->text(), bar.Panel(0)->textFormat()), MarkupLike());
  EXPECT_THROW(bar.SetPanelText(2, QStringLiteral("x")), Exception);
  EXPECT_THROW(bar.Panel(-1), Exception);
}
