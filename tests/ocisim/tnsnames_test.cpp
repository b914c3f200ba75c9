// Tests of the stand-in's tnsnames.ora reader: aliases, broken entries, limits
// and file checks.
#include "oci_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace ocisim_test;

using TnsnamesTest = OciSimTest;

TEST_F(TnsnamesTest, AliasesResolveThroughCommentsNestingAndServiceNames) {
  useTnsnames(
      "# comment line (with parentheses\n"
      "ORCL.WORLD =\n"
      "  (DESCRIPTION = # trailing comment\n"
      "    (ADDRESS_LIST = (ADDRESS = (PROTOCOL = TCP)(HOST = db-1.example.com)(PORT = 1521)))\n"
      "    (CONNECT_DATA = (SERVICE_NAME = prod.example.com)))\n"
      "one, two = (DESCRIPTION=(CONNECT_DATA=(SID=pair)))\n");
  Connection orcl, two;
  orcl.open("scott", "tiger", "orcl.world");
  two.open("scott", "tiger", "TWO");
  EXPECT_EQ(userSessions("ORCL.WORLD").size(), 1u);
  EXPECT_EQ(userSessions("one").size(), 1u);
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/oradata/PROD.dbf"));
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/oradata/PAIR.dbf"));
}

TEST_F(TnsnamesTest, ABrokenEntryDoesNotHideTheEntriesAfterIt) {
  useTnsnames(
      "BROKEN = (DESCRIPTION = (CONNECT_DATA = (SID = X)\n"
      "GOOD = (DESCRIPTION = (CONNECT_DATA = (SID = GOOD)))\n"
      "NOSID = (DESCRIPTION = (ADDRESS = (PROTOCOL = BEQ)))\n");
  Connection good, broken, nosid;
  EXPECT_EQ(good.attach("GOOD"), OCI_SUCCESS) << good.error();
  EXPECT_EQ(broken.attach("BROKEN"), OCI_ERROR);
  EXPECT_EQ(nosid.attach("NOSID"), OCI_ERROR);
  EXPECT_EQ(nosid.error(), "ORA-12154: TNS:could not resolve service name");
}

TEST_F(TnsnamesTest, TheFirstEntryOfANameAndItsSidBeforeItsServiceNameCount) {
  const std::string longest(30, 'L');
  useTnsnames(
      "BOTH = (DESCRIPTION = (CONNECT_DATA = (SERVICE_NAME = svc.world)(SID = bysid)))\n"
      "SVC = (DESCRIPTION = (CONNECT_DATA = (SERVICE_NAME = svc.world)))\n"
      "TWICE = (DESCRIPTION = (CONNECT_DATA = (SID = first)))\n"
      "twice = (DESCRIPTION = (CONNECT_DATA = (SID = second)))\n"
      "LONGEST = (DESCRIPTION = (CONNECT_DATA = (SID = " + longest + ")))\n"
      "TOOLONG = (DESCRIPTION = (CONNECT_DATA = (SID = " + longest + "X)))\n");
  Connection both, svc, twice, longestSid, tooLong;
  both.open("scott", "tiger", "both");
  svc.open("scott", "tiger", "svc");
  twice.open("scott", "tiger", "TWICE");
  // The longest instance name there is, and one character more.
  longestSid.open("scott", "tiger", "LONGEST");
  EXPECT_EQ(tooLong.attach("TOOLONG"), OCI_ERROR);
  EXPECT_EQ(tooLong.error(), "ORA-12505: TNS:listener could not resolve SID given in connect descriptor");
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir_ + "/oradata"))
    if (entry.path().extension() == ".dbf" && entry.path().stem().extension().empty())
      files.push_back(entry.path().filename().string());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"BYSID.dbf", "FIRST.dbf", longest + ".dbf", "SVC.dbf"}));
}

TEST_F(TnsnamesTest, GarbageNeverCrashesAndResolvesNothing) {
  std::string garbage = ")))(((= = ,,, =(\n\x01\xff\x80 DEMO ( = ) # (\n";
  garbage += std::string(10000, '(') + "X" + std::string(5000, ')');
  garbage.push_back('\0');
  garbage += "=";
  useTnsnames(garbage);
  Connection c;
  EXPECT_EQ(c.attach("DEMO"), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-12154: TNS:could not resolve service name");
}

TEST_F(TnsnamesTest, AnInstanceNameThatCannotBeAFileNameIsRefused) {
  useTnsnames("EVIL = (DESCRIPTION = (CONNECT_DATA = (SID = ../../escape)))\n");
  Connection c;
  EXPECT_EQ(c.attach("EVIL"), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-12505: TNS:listener could not resolve SID given in connect descriptor");
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/oradata"));
}

TEST_F(TnsnamesTest, TheInstalledServiceListNamesTheDemoInstance) {
  Connection c;  // without TNS_ADMIN: the client home's network/admin/tnsnames.ora
  EXPECT_EQ(c.attach("DEMO"), OCI_SUCCESS) << c.error();
}

TEST_F(TnsnamesTest, OnlyARegularFileIsReadAndNoMoreThanSixteenMegabytesOfIt) {
  // A FIFO in place of the file: the client neither waits for a writer nor
  // reads what one sends.
  const std::string admin = dir_ + "/admin";
  std::filesystem::create_directories(admin);
  const std::string fifo = admin + "/tnsnames.ora";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  setenv("TNS_ADMIN", admin.c_str(), 1);
  std::atomic<bool> attached{false};
  std::thread writer([&] {
    while (!attached) {
      const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd >= 0) {
        const std::string entry = "FIFO = (DESCRIPTION = (CONNECT_DATA = (SID = DEMO)))\n";
        EXPECT_EQ(write(fd, entry.data(), entry.size()), static_cast<ssize_t>(entry.size()));
        close(fd);
        return;
      }
      usleep(1000);
    }
  });
  Connection c;
  EXPECT_EQ(c.attach("FIFO"), OCI_ERROR);
  attached = true;
  writer.join();
  EXPECT_EQ(c.error(), "ORA-12154: TNS:could not resolve service name");

  // Entries past the first 16 MiB are not read.
  std::filesystem::remove(fifo);
  std::string text = "FIRST = (DESCRIPTION = (CONNECT_DATA = (SID = DEMO)))\n";
  const std::string filler = "# " + std::string(1021, '-') + "\n";
  while (text.size() <= 16u * 1024 * 1024) text += filler;
  text += "LAST = (DESCRIPTION = (CONNECT_DATA = (SID = DEMO)))\n";
  useTnsnames(text);
  Connection first, last;
  EXPECT_EQ(first.attach("FIRST"), OCI_SUCCESS) << first.error();
  EXPECT_EQ(last.attach("LAST"), OCI_ERROR);
  EXPECT_EQ(last.error(), "ORA-12154: TNS:could not resolve service name");
}

TEST_F(TnsnamesTest, EveryChangeOfTheFileIsSeenAtTheNextAttach) {
  // Of two entries with one name, the first counts.
  useTnsnames("ONE = (DESCRIPTION = (CONNECT_DATA = (SID = AAA)))\n"
              "ONE = (DESCRIPTION = (CONNECT_DATA = (SID = BBB)))\n");
  Connection a;
  ASSERT_EQ(a.attach("ONE"), OCI_SUCCESS) << a.error();
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/oradata/AAA.dbf"));

  // Rewritten in place at once, with the same size: the same inode and, on a
  // coarse clock, the same modification time.
  const std::string file = dir_ + "/admin/tnsnames.ora";
  {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(0);
    f << "TWO";
  }
  Connection b, c;
  ASSERT_EQ(b.attach("ONE"), OCI_SUCCESS) << b.error();  // now the second entry's
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/oradata/BBB.dbf"));
  ASSERT_EQ(c.attach("TWO"), OCI_SUCCESS) << c.error();

  // Replaced by another file.
  const std::string next = dir_ + "/admin/next.ora";
  std::ofstream(next, std::ios::binary) << "THREE = (DESCRIPTION = (CONNECT_DATA = (SID = CCC)))\n";
  std::filesystem::rename(next, file);
  Connection d, e;
  EXPECT_EQ(d.attach("TWO"), OCI_ERROR);
  ASSERT_EQ(e.attach("THREE"), OCI_SUCCESS) << e.error();
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/oradata/CCC.dbf"));

  // Gone.
  std::filesystem::remove(file);
  Connection f;
  EXPECT_EQ(f.attach("THREE"), OCI_ERROR);

  // An old file whose time was set back: a change of its size still shows.
  useTnsnames("FOUR = (DESCRIPTION = (CONNECT_DATA = (SID = DDD)))\n");
  const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), old, 0), 0);
  Connection g;
  ASSERT_EQ(g.attach("FOUR"), OCI_SUCCESS) << g.error();
  std::ofstream(file, std::ios::binary | std::ios::app) << "FIVE = (DESCRIPTION = (CONNECT_DATA = (SID = EEE)))\n";
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), old, 0), 0);
  Connection h;
  EXPECT_EQ(h.attach("FIVE"), OCI_SUCCESS) << h.error();
}
