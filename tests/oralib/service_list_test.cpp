// Tests of reading service names from tnsnames.ora text.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <random>

#include "oralib/o_login.h"

namespace {

QStringList NamesOfFile(const QByteArray& content) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("tnsnames.ora"));
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(content);
  file.close();
  return ServiceNamesOf(ReadTnsNamesFile(path));
}

}  // namespace

TEST(ServiceList, AliasWithADescriptionAcrossLinesIsOneName) {
  EXPECT_EQ(NamesOfFile("ORCL.WORLD =\n"
                        "  (DESCRIPTION =\n"
                        "    (ADDRESS_LIST =\n"
                        "      (ADDRESS = (PROTOCOL = TCP)(HOST = db-1.example)(PORT = 1521))\n"
                        "    )\n"
                        "    (CONNECT_DATA = (SID = ORCL))\n"
                        "  )\n"
                        "MY-DB = (DESCRIPTION = (ADDRESS = (PROTOCOL = BEQ)))\r\n"),
            (QStringList{QStringLiteral("ORCL.WORLD"), QStringLiteral("MYDB")}));
}

TEST(ServiceList, CommentLinesAreDroppedButTrailingCommentsStick) {
  EXPECT_EQ(NamesOfFile("# whole line comment = (x)\n"
                        "   \t# indented comment = y\n"
                        "A = (D) # note\n"
                        "B = (D)\n"),
            (QStringList{QStringLiteral("A"), QStringLiteral("noteB")}));
}

TEST(ServiceList, TextWithoutEqualsGivesNoNames) {
  EXPECT_TRUE(NamesOfFile("just some words (and = parens)\n").isEmpty());
  EXPECT_TRUE(NamesOfFile("").isEmpty());
  // An empty alias before "=" is still a name; text after the last "=" is not.
  EXPECT_EQ(NamesOfFile("= (x)\nA = trailing"), (QStringList{QString(), QStringLiteral("A")}));
}

TEST(ServiceList, MissingOrUnreadableFilesContributeNothing) {
  EXPECT_TRUE(ReadTnsNamesFile(QStringLiteral("/nonexistent/tnsnames.ora")).isEmpty());
  QTemporaryDir dir;
  EXPECT_TRUE(ReadTnsNamesFile(dir.path()).isEmpty());  // a folder, not a file
}

TEST(ServiceList, HostileContentNeverBreaksTheParser) {
  // Unbalanced parentheses either way, non-ASCII text, NUL and binary bytes,
  // a last line without end.
  EXPECT_EQ(NamesOfFile("A = ((((\nB = (x)"), QStringList{QStringLiteral("B")});
  EXPECT_EQ(NamesOfFile("A = ))))\nB = (x)"), QStringList{QStringLiteral("B")});
  EXPECT_EQ(NamesOfFile(QByteArray("D\xc3\xa9MO\0X = (x)", 10)), QStringList{QStringLiteral("DMOX")});

  std::mt19937 random(7);
  QByteArray noise(1 << 20, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  const QStringList names = NamesOfFile(noise);
  for (const QString& name : names)
    for (const QChar c : name) EXPECT_TRUE(c.isLetterOrNumber() || c == u'.' || c == u'_');
}

TEST(ServiceList, NetworkAdminNamesComeBeforeNet80Names) {
  QTemporaryDir home;
  QDir(home.path()).mkpath(QStringLiteral("network/admin"));
  QDir(home.path()).mkpath(QStringLiteral("net80/admin"));
  auto write = [&](const char* relative, const QByteArray& content) {
    QFile file(home.filePath(QLatin1String(relative)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
  };
  write("net80/admin/tnsnames.ora", "OLD = (x)\nSAME = (x)\n");
  write("network/admin/tnsnames.ora", "SAME = (x)\nNEW = (x)");
  const QByteArray joined =
      ReadTnsNamesFile(home.filePath(QStringLiteral("network/admin/tnsnames.ora"))) +
      ReadTnsNamesFile(home.filePath(QStringLiteral("net80/admin/tnsnames.ora")));
  EXPECT_EQ(ServiceNamesOf(joined),
            (QStringList{QStringLiteral("SAME"), QStringLiteral("NEW"), QStringLiteral("OLD"),
                         QStringLiteral("SAME")}));
}
