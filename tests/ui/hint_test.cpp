// Tests of control hints: short and long parts, the application hint and
// tooltips as plain text.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEnterEvent>
#include <QEvent>
#include <QToolButton>

#include "tests/support/shown_text.h"
#include "ui/application.h"
#include "ui/hint.h"

TEST(HintParts, SplitAtTheFirstBarOrAreBothTheWholeHint) {
  EXPECT_EQ(GetShortHint(QStringLiteral("a|b|c")), QStringLiteral("a"));
  EXPECT_EQ(GetLongHint(QStringLiteral("a|b|c")), QStringLiteral("b|c"));
  EXPECT_EQ(GetShortHint(QStringLiteral("Exit")), QStringLiteral("Exit"));
  EXPECT_EQ(GetLongHint(QStringLiteral("Exit")), QStringLiteral("Exit"));
  EXPECT_EQ(GetShortHint(QStringLiteral("|long")), QString());
  EXPECT_EQ(GetLongHint(QStringLiteral("short|")), QString());
}

namespace {

void Enter(QWidget& control) {
  QEnterEvent event(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
  QCoreApplication::sendEvent(&control, &event);
}

void Leave(QWidget& control) {
  QEvent event(QEvent::Leave);
  QCoreApplication::sendEvent(&control, &event);
}

}  // namespace

TEST(ControlHint, FollowsThePointerAndShowsTheShortPartAsTooltip) {
  QToolButton refresh;
  QToolButton exit;
  SetControlHint(&refresh, QStringLiteral("Refresh|Retrieve all"));
  SetControlHint(&exit, QStringLiteral("Exit|Exit"));
  EXPECT_EQ(refresh.toolTip(), QStringLiteral("Refresh"));

  Enter(refresh);
  EXPECT_EQ(Application().Hint(), QStringLiteral("Refresh|Retrieve all"));
  Leave(refresh);
  EXPECT_EQ(Application().Hint(), QString());

  // Entering the next control before the previous one's leave arrives.
  Enter(refresh);
  Enter(exit);
  Leave(refresh);
  EXPECT_EQ(Application().Hint(), QStringLiteral("Exit|Exit"));
  Leave(exit);
  EXPECT_EQ(Application().Hint(), QString());

  // A control that goes away under the pointer takes its hint with it.
  refresh.show();
  Enter(refresh);
  ASSERT_EQ(Application().Hint(), QStringLiteral("Refresh|Retrieve all"));
  refresh.hide();
  EXPECT_EQ(Application().Hint(), QString());
}

TEST(ControlHint, ATooltipThatLooksLikeMarkupShowsItsCharactersAsTheyAre) {
  QToolButton button;
  SetControlHint(&button, MarkupLike() + QStringLiteral("|long"));
  EXPECT_EQ(ShownText(button.toolTip()), MarkupLike());
  EXPECT_EQ(ControlHint(&button), MarkupLike() + QStringLiteral("|long"));
  // Blanks and line breaks stay as they are too.
  EXPECT_EQ(ShownText(PlainToolTip(QStringLiteral("<b>a</b>  b\n  c"))), QStringLiteral("<b>a</b>  b\n  c"));
}
