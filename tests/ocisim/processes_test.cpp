// Tests of several client processes on one instance: their session rows, kills,
// and processes that end.
#include "oci_fixture.h"

#include "ocisim/ocisim_controls.h"

#include <unistd.h>

#include <memory>

using namespace ocisim_test;

using ProcessTest = OciSimTest;

namespace {

// Starts a helper logged on as SCOTT and checks that it reported success.
std::unique_ptr<HelperProcess> loggedOnHelper() {
  auto helper = std::make_unique<HelperProcess>(std::vector<std::string>{"DEMO", "scott", "tiger"});
  const std::string line = helper->readLine();
  EXPECT_EQ(line, "OK " + std::to_string(helper->pid()));
  return helper;
}

}  // namespace

TEST_F(ProcessTest, TwoProcessesLoggedOnToOneInstanceEachHaveTheirOwnRow) {
  Connection mine;
  mine.open();
  auto helper = loggedOnHelper();
  EXPECT_EQ(ocisim_session_count("DEMO", getpid()), 1);
  EXPECT_EQ(ocisim_session_count("DEMO", helper->pid()), 1);
  EXPECT_EQ(ocisim_session_count("DEMO", 0), 2);

  helper->send("end");
  EXPECT_EQ(helper->wait(), 0);
  EXPECT_EQ(ocisim_session_count("DEMO", 0), 1);
}

TEST_F(ProcessTest, TheRowOfAKilledProcessIsRemovedOnTheNextAttach) {
  auto helper = loggedOnHelper();
  const pid_t child = helper->pid();
  helper->killHard();
  helper->wait();
  ASSERT_EQ(ocisim_session_count("DEMO", child), 1);

  Connection c;
  ASSERT_EQ(c.attach(), OCI_SUCCESS);
  EXPECT_EQ(ocisim_session_count("DEMO", child), 0);
}

TEST_F(ProcessTest, AProcessThatExitsWithoutLoggingOffLeavesNoRow) {
  auto helper = loggedOnHelper();
  helper->send("exit");
  EXPECT_EQ(helper->wait(), 0);
  EXPECT_EQ(ocisim_session_count("DEMO", 0), 0);
}

TEST_F(ProcessTest, ProcessesCreatingANewInstanceAtOnceAllLogOnWithDistinctSids) {
  std::vector<std::unique_ptr<HelperProcess>> helpers;
  for (int i = 0; i < 4; ++i)
    helpers.push_back(
        std::make_unique<HelperProcess>(std::vector<std::string>{"DEMO", "system", "manager"}));
  for (auto& h : helpers) EXPECT_EQ(h->readLine(), "OK " + std::to_string(h->pid()));
  const auto rows = userSessions();
  ASSERT_EQ(rows.size(), 4u);
  for (size_t i = 1; i < rows.size(); ++i) EXPECT_NE(rows[i].sid, rows[i - 1].sid);
}
