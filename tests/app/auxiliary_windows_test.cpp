// Tests of the options dialog, the SQL window and the About window: focus,
// keys, pictures and results.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QIcon>
#include <QImage>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "app/u_about.h"
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

enum class Hue { Green, Red };

struct Pixels {
  int green = 0, red = 0, coloured = 0, opaque = 0;
};

Pixels Count(const QImage& picture) {
  const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
  Pixels pixels;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.alpha() < 128) continue;
      ++pixels.opaque;
      if (c.red() != c.green() || c.green() != c.blue()) ++pixels.coloured;
      if (c.green() > c.red() + 60 && c.green() > c.blue() + 60) ++pixels.green;
      if (c.red() > c.green() + 60 && c.red() > c.blue() + 60) ++pixels.red;
    }
  return pixels;
}

// The button shows a picture of `hue` beside its caption, and a greyed form of
// its own while it is disabled.
void ExpectPicture(QPushButton* button, Hue hue) {
  SCOPED_TRACE(button->window()->objectName().toStdString() + "." + button->objectName().toStdString());
  const QIcon icon = button->icon();
  ASSERT_FALSE(icon.isNull());
  const Pixels normal = Count(icon.pixmap(16, 16, QIcon::Normal).toImage());
  EXPECT_GT(hue == Hue::Green ? normal.green : normal.red, 10);
  EXPECT_EQ(hue == Hue::Green ? normal.red : normal.green, 0);
  EXPECT_FALSE(icon.availableSizes(QIcon::Disabled).isEmpty());
  const Pixels greyed = Count(icon.pixmap(16, 16, QIcon::Disabled).toImage());
  EXPECT_GT(greyed.opaque, 10);
  EXPECT_EQ(greyed.coloured, 0);

  // Painted on the button: in colour while enabled, in grey while disabled.
  const Pixels shown = Count(button->grab().toImage());
  EXPECT_GT(hue == Hue::Green ? shown.green : shown.red, 10);
  button->setEnabled(false);
  const Pixels shownDisabled = Count(button->grab().toImage());
  EXPECT_EQ(shownDisabled.green + shownDisabled.red, 0);
  button->setEnabled(true);
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

TEST(ButtonPictures, OkCancelAndAboutButtonsShowTheirPicturesWithGreyedForms) {
  TForm2 options;
  TForm3 sql;
  TFrmAbout about;
  ExpectPicture(options.BitBtn1, Hue::Green);
  ExpectPicture(options.BitBtn2, Hue::Red);
  ExpectPicture(sql.BitBtn1, Hue::Green);
  ExpectPicture(about.BitBtn1, Hue::Red);
}
