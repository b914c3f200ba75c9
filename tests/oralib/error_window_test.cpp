// Tests of the Oracle error window: the first error's text and the marked word
// of the failing statement.
#include <gtest/gtest.h>

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTextBlock>
#include <QTest>
#include <QTextEdit>
#include <QWindow>
#include <functional>

#include "oralib/o_error.h"
#include "oralib/o_error_window.h"
#include "tests/support/modal.h"
#include "tests/support/shown_text.h"
#include "ui/application.h"

namespace {

struct Shown {
  QString caption, label, text;
  QString labelOnScreen;  // the label's text as it reads on the screen
  int height = 0;
  std::vector<std::pair<QString, QColor>> runs;  // consecutive text of one colour and underline
  QString underlined;
};

// Raises `error` into the application's handling with the Oracle error window
// in front, and records what the window showed before closing it.
Shown ShowThroughHandler(const std::exception& error) {
  Shown shown;
  CreateOracleErrorWindow();
  modal::AnswerNext([&](QWidget* window) {
    auto* frm = qobject_cast<TOraErrorFrm*>(window);
    EXPECT_NE(frm, nullptr);
    if (frm == nullptr) return window->close();
    shown.caption = frm->windowTitle();
    shown.label = frm->FirstErrLbl->text();
    shown.labelOnScreen = ShownText(frm->FirstErrLbl->text(), frm->FirstErrLbl->textFormat());
    shown.text = frm->RichEdit->toPlainText();
    shown.height = frm->height();
    for (QTextBlock block = frm->RichEdit->document()->begin(); block.isValid(); block = block.next())
      for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        shown.runs.emplace_back(fragment.text(), fragment.charFormat().foreground().color());
        if (fragment.charFormat().fontUnderline()) shown.underlined += fragment.text();
      }
    frm->Button1->click();
    return true;
  });
  Application().HandleException(nullptr, error);
  ReleaseOracleErrorWindow();
  return shown;
}

const QString kBanner = QStringLiteral("****************** Problem SQL ******************");

}  // namespace

TEST(FirstErrorText, SkipsTheCodeAndStopsAtTheNextError) {
  EXPECT_EQ(FirstErrorText(QStringLiteral("ORA-00942: table or view does not exist")),
            QStringLiteral("table or view does not exist"));
  EXPECT_EQ(FirstErrorText(QStringLiteral("ORA-06550: line 1\nORA-00942: table")),
            QStringLiteral("line 1\n"));
  // A first error without text of its own stays empty rather than taking the next one's.
  EXPECT_EQ(FirstErrorText(QStringLiteral("ORA-06550: ORA-00942: table")), QString());
  EXPECT_EQ(FirstErrorText(QStringLiteral("Session is not assigned")),
            QStringLiteral("Session is not assigned"));
}

TEST(OracleErrorWindow, MarksTheWordWhereTheServerStopped) {
  const Shown shown = ShowThroughHandler(EOError(
      QStringLiteral("ORA-00942: table or view does not exist\n"), 14,
      QStringLiteral("select * from nosuchtable")));
  EXPECT_EQ(shown.caption, QStringLiteral("Oracle Error"));
  EXPECT_EQ(shown.label, QStringLiteral("table or view does not exist\n"));
  EXPECT_EQ(shown.text, QStringLiteral("ORA-00942: table or view does not exist\n\n") + kBanner +
                            QStringLiteral("\nselect * from nosuchtable \n") + kBanner);
  EXPECT_EQ(shown.underlined, QStringLiteral("nosuchtable "));
  for (const auto& [text, colour] : shown.runs) {
    if (text == QStringLiteral("nosuchtable ")) {
      EXPECT_EQ(colour, QColor(255, 0, 0));
    } else if (text.contains(QStringLiteral("select")) || text.contains(QStringLiteral("****"))) {
      EXPECT_EQ(colour, QColor(0, 128, 0)) << text.toStdString();
    }
  }
  EXPECT_EQ(shown.height, TErrorWindow::kTopPanelHeight);  // opens collapsed
}

TEST(OracleErrorWindow, OffsetZeroMarksTheFirstWordAcrossLines) {
  const Shown shown = ShowThroughHandler(
      EOError(QStringLiteral("ORA-00900: invalid SQL statement"), 0, QStringLiteral("selct\n*")));
  EXPECT_EQ(shown.underlined, QStringLiteral("selct* "));  // both lines, underlined
}

TEST(OracleErrorWindow, AnErrorWithoutStatementShowsOnlyTheMessage) {
  const Shown shown = ShowThroughHandler(
      EOError(QStringLiteral("ORA-01017: invalid username/password; logon denied")));
  EXPECT_EQ(shown.text, QStringLiteral("ORA-01017: invalid username/password; logon denied"));
  EXPECT_TRUE(shown.underlined.isEmpty());
}

TEST(OracleErrorWindow, PassesOtherErrorsToTheDisplacedHandler) {
  std::vector<QString> seen;
  Application().SetOnException(
      [&](QObject*, const std::exception& e) { seen.push_back(ExceptionMessage(e)); });
  CreateOracleErrorWindow();
  Application().HandleException(nullptr, Exception(QStringLiteral("plain failure")));
  EXPECT_EQ(seen, std::vector<QString>{QStringLiteral("plain failure")});
  ReleaseOracleErrorWindow();
  // Released, the window puts the displaced handler back.
  Application().HandleException(nullptr, EOError(QStringLiteral("ORA-00001: x")));
  EXPECT_EQ(seen.size(), 2u);
  Application().SetOnException(nullptr);
}

TEST(OracleErrorWindow, WithoutADisplacedHandlerUsesTheDefaultDisplay) {
  Application().SetOnException(nullptr);
  QString boxText;
  modal::AnswerNext([&](QWidget* window) {
    if (auto* label = window->findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
      boxText = label->text();
    window->close();
  });
  CreateOracleErrorWindow();
  Application().HandleException(nullptr, Exception(QStringLiteral("plain failure")));
  ReleaseOracleErrorWindow();
  EXPECT_EQ(boxText, QStringLiteral("plain failure"));
}

TEST(OracleErrorWindow, ShowsTheMessageAndTheStatementAsTextNeverAsMarkup) {
  const QString message = QStringLiteral("ORA-20001: ") + MarkupLike();
  const QString sql = QStringLiteral("select '<i>a</i> &amp;' from dual");
  const Shown shown = ShowThroughHandler(EOError(message, 7, sql));
  EXPECT_EQ(shown.labelOnScreen, MarkupLike());
  EXPECT_EQ(shown.text, message + QStringLiteral("\n") + kBanner + QStringLiteral("\n") + sql +
                            QStringLiteral(" \n") + kBanner);
  EXPECT_EQ(shown.underlined, QStringLiteral("'<i>a</i> "));
}

TEST(OracleErrorWindow, KeepsTheFramesCloseCommandWhichActsAsClose) {
  CreateOracleErrorWindow();
  TOraErrorFrm* window = OracleErrorWindow();
  EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowCloseButtonHint));
  EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowSystemMenuHint));
  EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));

  // The close command of the frame, Escape and Button1 all close it the same way.
  const std::vector<std::function<void(TOraErrorFrm*)>> ways = {
      [](TOraErrorFrm* frm) { frm->windowHandle()->close(); },
      [](TOraErrorFrm* frm) { QTest::keyClick(frm, Qt::Key_Escape); },
      [](TOraErrorFrm* frm) { frm->Button1->click(); },
  };
  for (const auto& close : ways) {
    bool answered = false;
    modal::AnswerNext([&](QWidget* shown) {
      answered = shown == window;
      close(window);
    });
    Application().HandleException(nullptr, EOError(QStringLiteral("ORA-00001: unique constraint violated")));
    EXPECT_TRUE(answered);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), QDialog::Accepted);
    EXPECT_EQ(window->ShownException(), nullptr);
  }
  ReleaseOracleErrorWindow();
}
