#include "oci_fixture.h"

#include <filesystem>

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
