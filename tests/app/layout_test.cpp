// Tests of the windows' layouts: sizes, places, and captions that fit their
// controls.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>

#include "app/u_about.h"
#include "app/u_options.h"
#include "app/u_sqlstatement.h"
#include "oralib/o_class.h"
#include "oralib/o_login.h"
#include "ui/fonts.h"
#include "ui/statusbar.h"

namespace {

QString Plain(QString caption) { return caption.remove(QLatin1Char('&')); }

// A push button's caption and picture fit between the style's margins.
void ExpectButtonFits(const QPushButton* button) {
  const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
  int needs = button->fontMetrics().horizontalAdvance(Plain(button->text())) + 2 * margin;
  if (!button->icon().isNull()) needs += button->iconSize().width() + 4;
  EXPECT_LE(needs, button->width()) << button->objectName().toStdString();
  EXPECT_LE(button->fontMetrics().height(), button->height()) << button->objectName().toStdString();
}

// A check box or label shows its whole caption in the box the layout gives it.
void ExpectCaptionFits(const QWidget* control) {
  const QSize needs = control->sizeHint();
  EXPECT_LE(needs.width(), control->width()) << control->objectName().toStdString();
  EXPECT_LE(needs.height(), control->height()) << control->objectName().toStdString();
}

void ExpectTitleFits(const QGroupBox* group) {
  // The title starts a few pixels in and must end before the frame's far side.
  EXPECT_LE(group->fontMetrics().horizontalAdvance(group->title()) + 16, group->width())
      << group->objectName().toStdString();
}

// Inside its group box, clear of the frame.
void ExpectInside(const QWidget* control) {
  const QRect inner = control->parentWidget()->rect().adjusted(2, 2, -2, -2);
  EXPECT_TRUE(inner.contains(control->geometry())) << control->objectName().toStdString();
}

}  // namespace

TEST(DesignFont, TheLayoutsFontStandsForAFontOfCloseMetrics) {
  ASSERT_EQ(SubstituteDesignFont(), QStringLiteral("Tahoma")) << "is fonts-wine installed?";
  const QFont font(kDesignFontFamily, 8);
  EXPECT_EQ(QFontInfo(font).family(), QStringLiteral("Tahoma"));
  // Within a few per cent of the design's own widths (197 pixels for this
  // caption, 172 for the other), where the default sans needs about 17 % more.
  const QFontMetrics metrics(font);
  EXPECT_NEAR(metrics.horizontalAdvance(QStringLiteral("Show all sessions(siclude server sessions)")), 197, 8);
  EXPECT_NEAR(metrics.horizontalAdvance(QStringLiteral("Show sessions that have been killed")), 172, 7);
}

TEST(DesignFont, AFontFileOthersCouldHaveWrittenIsNotLoaded) {
  QTemporaryDir dir;
  const QString copy = dir.filePath(QStringLiteral("design.ttf"));
  ASSERT_TRUE(QFile::copy(kDesignFontSubstituteFile, copy));
  QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::WriteOther);
  EXPECT_EQ(RegisterTrustedFont(copy), QString());
  QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
  EXPECT_EQ(RegisterTrustedFont(copy), QStringLiteral("Tahoma"));
  // Nor through a link, nor in a folder that others may write.
  const QString link = dir.filePath(QStringLiteral("link.ttf"));
  ASSERT_TRUE(QFile::link(copy, link));
  EXPECT_EQ(RegisterTrustedFont(link), QString());
  QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::WriteOther |
                                        QFile::ExeOther | QFile::ReadOther);
  EXPECT_EQ(RegisterTrustedFont(copy), QString());
  EXPECT_EQ(RegisterTrustedFont(dir.filePath(QStringLiteral("missing.ttf"))), QString());
}

TEST(Layouts, TheOptionsDialogHasItsOuterSizeAndPlaceAndEveryCaptionFits) {
  TForm2 form;
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  EXPECT_EQ(form.frameGeometry(), QRect(206, 207, 330, 214));
  ExpectTitleFits(form.GroupBox1);
  ExpectCaptionFits(form.CheckBox1);
  ExpectCaptionFits(form.CheckBox2);
  ExpectInside(form.CheckBox1);
  ExpectInside(form.CheckBox2);
  ExpectButtonFits(form.BitBtn1);
  ExpectButtonFits(form.BitBtn2);
  // Shown again, it keeps its size.
  form.hide();
  form.show();
  EXPECT_EQ(form.frameGeometry(), QRect(206, 207, 330, 214));
}

TEST(Layouts, TheAboutWindowHasItsOuterSizeAndPlaceAndItsTextsFitTheirFrame) {
  TFrmAbout form;
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  EXPECT_EQ(form.frameGeometry(), QRect(234, 182, 364, 238));
  ExpectInside(form.Label1);
  ExpectInside(form.Label2);
  ExpectCaptionFits(form.Label1);
  ExpectCaptionFits(form.Label2);
  ExpectButtonFits(form.BitBtn1);
}

TEST(Layouts, TheSqlWindowsAndTheLoginDialogsCaptionsFit) {
  TForm3 sql;
  ExpectButtonFits(sql.BitBtn1);
  TOSession session;
  ToraLoginFrm login(session);
  ExpectTitleFits(login.GroupBox1);
  for (const QLabel* label : {login.UserLbl, login.PasswordLbl, login.ServiceLbl}) ExpectCaptionFits(label);
  ExpectButtonFits(login.Button1);
  ExpectButtonFits(login.Button2);
}

TEST(Layouts, TheSessionCountFitsItsStatusPanel) {
  TStatusBar bar;
  bar.setFont(QFont(kDesignFontFamily, 8));
  bar.AddPanel(350);
  bar.AddPanel(120);
  bar.SetPanelText(1, QStringLiteral("Total sessions: 99999"));
  const QLabel* panel = bar.Panel(1);
  EXPECT_LE(panel->fontMetrics().horizontalAdvance(panel->text()) + 2 * panel->frameWidth(), panel->width());
}
