// Tests of the application object: the exception handler, its chain and guarded
// slots.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "tests/support/modal.h"
#include "ui/application.h"
#include "ui/exception.h"
#include "ui/forms.h"

namespace {

// Records what reaches the handler it installs, and puts back the one it displaced.
class RecordingHandler {
 public:
  RecordingHandler() : saved_(Application().OnException()) {
    Application().SetOnException([this](QObject* sender, const std::exception& e) {
      senders.append(sender);
      messages.append(ExceptionMessage(e));
    });
  }
  ~RecordingHandler() { Application().SetOnException(saved_); }

  QList<QObject*> senders;
  QStringList messages;

 private:
  TApplication::TExceptionEvent saved_;
};

}  // namespace

TEST(ExceptionHandling, ExceptionFromAGuardedSlotReachesTheHandlerOnceAndStopsThere) {
  RecordingHandler handler;
  QPushButton button;
  bool after = false;
  QObject::connect(&button, &QPushButton::clicked, &button, [&] {
    const bool ok = Guarded(&button, [] { throw Exception(QStringLiteral("boom")); });
    after = !ok;
  });

  button.click();

  EXPECT_EQ(handler.messages, QStringList{QStringLiteral("boom")});
  EXPECT_EQ(handler.senders, QList<QObject*>{&button});
  EXPECT_TRUE(after) << "Guarded reports the failure and lets the slot go on";
}

TEST(ExceptionHandling, ExceptionsOfAnyKindReachTheHandlerWithAMessage) {
  RecordingHandler handler;
  Guarded(nullptr, [] { throw std::runtime_error("standard"); });
  Guarded(nullptr, [] { throw 42; });
  ASSERT_EQ(handler.messages.size(), 2);
  EXPECT_EQ(handler.messages[0], QStringLiteral("standard"));
  EXPECT_FALSE(handler.messages[1].isEmpty());
}

TEST(ExceptionHandling, AHandlerThatDisplacesAnotherCanPassOnAndPutItBack) {
  RecordingHandler outer;
  {
    // Like an error window: handles some exceptions, passes the others on.
    const TApplication::TExceptionEvent displaced = Application().OnException();
    int handledHere = 0;
    Application().SetOnException([&](QObject* sender, const std::exception& e) {
      if (ExceptionMessage(e) == QStringLiteral("mine"))
        ++handledHere;
      else
        displaced(sender, e);
    });
    Guarded(nullptr, [] { throw Exception(QStringLiteral("mine")); });
    Guarded(nullptr, [] { throw Exception(QStringLiteral("other")); });
    EXPECT_EQ(handledHere, 1);
    Application().SetOnException(displaced);
  }
  Guarded(nullptr, [] { throw Exception(QStringLiteral("after")); });
  EXPECT_EQ(outer.messages, (QStringList{QStringLiteral("other"), QStringLiteral("after")}));
}

TEST(ExceptionHandling, AHandlerMayRemoveItselfWhileItRuns) {
  const TApplication::TExceptionEvent saved = Application().OnException();
  auto calls = std::make_shared<int>(0);
  Application().SetOnException([calls, saved](QObject*, const std::exception&) {
    Application().SetOnException(saved);  // destroys the installed copy of this handler
    ++*calls;
  });
  Guarded(nullptr, [] { throw Exception(QStringLiteral("x")); });
  EXPECT_EQ(*calls, 1);
}

TEST(ExceptionHandling, WithoutAHandlerTheMessageIsShownInABoxCaptionedWithTheTitle) {
  Application().SetOnException(nullptr);
  Application().SetTitle(QStringLiteral("Quenlow"));
  QString text, caption;
  modal::AnswerNext([&](QWidget* window) {
    auto* box = qobject_cast<QMessageBox*>(window);
    ASSERT_NE(box, nullptr);
    text = box->text();
    caption = box->windowTitle();
    box->button(QMessageBox::Ok)->click();
  });
  Guarded(nullptr, [] { throw Exception(QStringLiteral("Something failed")); });
  EXPECT_EQ(text, QStringLiteral("Something failed"));
  EXPECT_EQ(caption, QStringLiteral("Quenlow"));
}

TEST(ExceptionHandling, AFailingHandlerFallsBackToTheMessageBox) {
  RecordingHandler recorder;  // restores whatever was installed before
  Application().SetOnException([](QObject*, const std::exception&) { throw Exception(QStringLiteral("handler broke")); });
  QString text;
  modal::AnswerNext([&](QWidget* window) {
    auto* box = qobject_cast<QMessageBox*>(window);
    ASSERT_NE(box, nullptr);
    text = box->text();
    box->button(QMessageBox::Ok)->click();
  });
  Guarded(nullptr, [] { throw Exception(QStringLiteral("original")); });
  EXPECT_EQ(text, QStringLiteral("handler broke"));
}

TEST(ApplicationHint, RunsOnHintOnlyWhenTheHintChanges) {
  int calls = 0;
  Application().OnHint = [&] { ++calls; };
  Application().SetHint(QStringLiteral("a|b"));
  Application().SetHint(QStringLiteral("a|b"));
  Application().SetHint(QString());
  Application().OnHint = nullptr;
  EXPECT_EQ(calls, 2);
}

TEST(ApplicationTerminate, EndsARunningLoopAndEndsALaterOneAtOnce) {
  bool stuck = false;
  QTimer::singleShot(0, [] { Application().Terminate(); });
  QTimer::singleShot(5000, [&] { stuck = true; QCoreApplication::exit(1); });
  EXPECT_EQ(Application().Run(), 0);
  EXPECT_FALSE(stuck);
  EXPECT_TRUE(Application().Terminated());

  // Terminated before the loop: Run returns without running it.
  bool ran = false;
  QTimer::singleShot(0, [&] { ran = true; QCoreApplication::exit(1); });
  EXPECT_EQ(Application().Run(), 0);
  EXPECT_FALSE(ran);
}

TEST(ApplicationTopMosts, AreLoweredForTheOutermostPairAndPutBack) {
  QWidget onTop(nullptr, Qt::Window | Qt::WindowStaysOnTopHint);
  QWidget hiddenOnTop(nullptr, Qt::Window | Qt::WindowStaysOnTopHint);
  QWidget plain;
  onTop.show();
  plain.show();
  auto goneBeforeRestore = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::WindowStaysOnTopHint);
  goneBeforeRestore->show();

  Application().NormalizeTopMosts();
  Application().NormalizeTopMosts();
  EXPECT_FALSE(onTop.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(onTop.isVisible());
  EXPECT_TRUE(hiddenOnTop.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  goneBeforeRestore.reset();

  Application().RestoreTopMosts();
  EXPECT_FALSE(onTop.windowFlags().testFlag(Qt::WindowStaysOnTopHint)) << "inner pair leaves it lowered";
  Application().RestoreTopMosts();
  EXPECT_TRUE(onTop.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(onTop.isVisible());
  EXPECT_FALSE(plain.windowFlags().testFlag(Qt::WindowStaysOnTopHint));

  Application().RestoreTopMosts();  // unbalanced: nothing to put back
  EXPECT_TRUE(onTop.windowFlags().testFlag(Qt::WindowStaysOnTopHint));

  // A modal form that stays on top keeps running while an error window lowers it.
  TForm form;
  form.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  bool stillShown = false;
  QTimer::singleShot(20, &form, [] {
    Application().NormalizeTopMosts();
    Application().RestoreTopMosts();
  });
  QTimer::singleShot(200, &form, [&] {
    stillShown = form.isVisible();
    form.SetModalResult(mrOk);
  });
  EXPECT_EQ(form.ShowModal(), mrOk);
  EXPECT_TRUE(stillShown);
}
