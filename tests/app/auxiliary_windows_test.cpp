#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "app/u_options.h"
#include "app/u_sqlstatement.h"
#include "tests/support/modal.h"

namespace {

QString FocusName() {
  QWidget* focus = QApplication::focusWidget();
  return focus != nullptr ? focus->objectName() : QString();
}

// Waits until the opened window is the active one, as it is once the user sees it.
void WaitUntilActive(QWidget* window) { EXPECT_TRUE(QTest::qWaitForWindowActive(window)); }

// Presses `key` on the control that has the focus, as the keyboard would.
void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  ASSERT_NE(QApplication::focusWidget(), nullptr);
  QTest::keyClick(QApplication::focusWidget(), key, modifiers);
}

// Closes a window that the keys failed to close, so that the test goes on.
void CloseIfOpen(QWidget* window) {
  if (window->isVisible()) window->close();
}

}  // namespace

TEST(OptionsDialog, OpensWithOkFocusedAndEnterPressesOnlyAFocusedButton) {
  TForm2 form;
  QString focusedOnOpen;
  bool openAfterEnterOnBoxes = false, openAfterEscape = false;
  modal::AnswerNext([&](QWidget* window) {
    WaitUntilActive(window);
    focusedOnOpen = FocusName();
    form.CheckBox1->setFocus();
    Press(Qt::Key_Return);
    Press(Qt::Key_Tab);  // to the second box
    Press(Qt::Key_Enter, Qt::KeypadModifier);
    openAfterEnterOnBoxes = form.isVisible();
    Press(Qt::Key_Escape);
    openAfterEscape = form.isVisible();
    Press(Qt::Key_Tab);  // to OK
    Press(Qt::Key_Tab);  // to Cancel
    Press(Qt::Key_Return);
    CloseIfOpen(window);
  });
  EXPECT_EQ(form.ShowModal(), mrCancel);
  EXPECT_EQ(focusedOnOpen, QStringLiteral("BitBtn1"));
  EXPECT_TRUE(openAfterEnterOnBoxes);
  EXPECT_TRUE(openAfterEscape);
  EXPECT_FALSE(form.CheckBox1->isChecked());
  EXPECT_FALSE(form.CheckBox2->isChecked());

  // Opened again, OK has the focus again, and Enter presses it.
  modal::AnswerNext([&](QWidget* window) {
    WaitUntilActive(window);
    focusedOnOpen = FocusName();
    Press(Qt::Key_Return);
    CloseIfOpen(window);
  });
  EXPECT_EQ(form.ShowModal(), mrOk);
  EXPECT_EQ(focusedOnOpen, QStringLiteral("BitBtn1"));
  EXPECT_FALSE(form.BitBtn1->isDefault());
  EXPECT_FALSE(form.BitBtn2->isDefault());
}

TEST(SqlWindow, OpensWithOkFocusedAndEnterOnItCloses) {
  TForm3 form;
  form.Memo1->setPlainText(QStringLiteral("select * from dual"));
  QString focusedOnOpen;
  modal::AnswerNext([&](QWidget* window) {
    WaitUntilActive(window);
    focusedOnOpen = FocusName();
    Press(Qt::Key_Return);
    CloseIfOpen(window);
  });
  EXPECT_EQ(form.ShowModal(), mrOk);
  EXPECT_EQ(focusedOnOpen, QStringLiteral("BitBtn1"));
}

