// Text crossing the client library in the character set NLS_LANG names. Each
// scenario is a process of its own (the set is read once per process); this
// program's own file name holds non-ASCII letters, so that the server's
// record of its program name has some to carry.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QPushButton>
#include <QTextBlock>
#include <QTextEdit>
#include <memory>

#include "oralib/o_charset.h"
#include "oralib/o_class.h"
#include "oralib/o_class_query.h"
#include "oralib/o_error.h"
#include "oralib/o_error_window.h"
#include "tests/support/modal.h"
#include "tests/support/stand_in.h"
#include "ui/application.h"
#include "ui/exception.h"

namespace {

stand_in::PrivateInstance instance;

using stand_in::LoggedOn;

const QString kUser = QStringLiteral("MÜLLER");
const QString kPassword = QStringLiteral("Grüße");

void SetSql(TOQuery& query, const QString& sql) {
  query.SQL().Clear();
  query.SQL().Add(sql);
}

void Execute(TOSession& session, const QString& sql) {
  TOQuery query;
  query.SetSession(&session);
  SetSql(query, sql);
  query.ExecuteStatement();
}

// The first row of a query, its fields as text.
QStringList FirstRow(TOSession& session, const QString& sql) {
  TOQuery query;
  query.SetSession(&session);
  SetSql(query, sql);
  query.Open();
  QStringList row;
  if (!query.IsEmpty())
    for (const auto& field : query.Fields()) row << field->AsString();
  return row;
}

// What the client set makes of a text: the characters it cannot hold as '?'.
QString AsTheClientHoldsIt(const QString& text) {
  const TOCharset& charset = TOCharset::Client();
  return charset.Decode(charset.Encode(text));
}

// A user whose name and password are not ASCII, and SCOTT's table of texts,
// made once for the process.
class ClientCharset : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static bool created = false;
    if (created) return;
    created = true;
    auto system = LoggedOn(QStringLiteral("SYSTEM"), QStringLiteral("MANAGER"));
    Execute(*system, QStringLiteral("create user \"%1\" identified by \"%2\"").arg(kUser, kPassword));
    auto scott = LoggedOn(QStringLiteral("SCOTT"), QStringLiteral("TIGER"));
    Execute(*scott, QStringLiteral("create table cs_texts (n number(5), v varchar2(40), c clob)"));
  }
};

}  // namespace

TEST(ClientCharsetChoice, NlsLangNamesTheSet) {
  EXPECT_EQ(TOCharset::NlsLangCharset(QStringLiteral("AMERICAN_AMERICA.WE8ISO8859P1")),
            QStringLiteral("WE8ISO8859P1"));
  EXPECT_TRUE(TOCharset::NlsLangCharset(QStringLiteral("AMERICAN_AMERICA")).isEmpty());
  ASSERT_NE(TOCharset::Named(QStringLiteral("we8iso8859p1")), nullptr);
  EXPECT_EQ(TOCharset::Named(QStringLiteral("we8iso8859p1"))->Kind(), TOCharset::csWE8ISO8859P1);
  EXPECT_EQ(TOCharset::Named(QStringLiteral("WE8MSWIN1252")), nullptr);
  const QString named = TOCharset::NlsLangCharset(qEnvironmentVariable("NLS_LANG"));
  EXPECT_EQ(TOCharset::Client().Name(), named.isEmpty() ? QStringLiteral("AL32UTF8") : named.toUpper());
}

TEST(ClientCharsetChoice, EachSetEncodesAndCountsItsOwnWay) {
  const QString text = QStringLiteral("Grüße 😀");
  const TOCharset latin(TOCharset::csWE8ISO8859P1), cesu(TOCharset::csUTF8), utf8(TOCharset::csAL32UTF8);
  EXPECT_EQ(latin.Encode(text), QByteArray("Gr\xfc\xdf" "e ?"));
  EXPECT_EQ(cesu.Encode(text), QByteArray("Gr\xc3\xbc\xc3\x9f" "e \xed\xa0\xbd\xed\xb8\x80"));
  EXPECT_EQ(cesu.Decode(cesu.Encode(text)), text);
  EXPECT_EQ(TOCharset(TOCharset::csUS7ASCII).Decode(QByteArray("a\xfc")), QStringLiteral("a?"));
  // A byte offset into the encoding, as a position in the text.
  for (const TOCharset* set : {&latin, &cesu, &utf8}) {
    const QByteArray bytes = set->Encode(text + QStringLiteral(" x"));
    EXPECT_EQ(set->TextPosition(text + QStringLiteral(" x"), static_cast<std::size_t>(bytes.size() - 1)),
              text.size() + 1);
  }
  // Characters of a CLOB read in each set.
  EXPECT_EQ(latin.CharBytes("\xa7\xbd" "ab", 4, 3), 3u);
  EXPECT_EQ(latin.CharBytes("\xa7\xbd" "ab", 4, 4), 4u);  // every byte, and no more
  EXPECT_EQ(latin.CharBytes("\xa7\xbd" "ab", 4, 9), 4u);
  EXPECT_EQ(cesu.CharBytes("\xed\xa0\xbd\xed\xb8\x80" "a", 7, 1), 6u);
  EXPECT_EQ(utf8.CharBytes("\xc2\xa7" "a", 3, 1), 2u);
}

TEST(ClientCharsetChoice, CharactersAtTheEdgesOfEachEncodingLength) {
  const TOCharset latin(TOCharset::csWE8ISO8859P1), cesu(TOCharset::csUTF8), utf8(TOCharset::csAL32UTF8),
      ascii(TOCharset::csUS7ASCII);
  // The last character of each UTF-8 length and the first of the next; bytes in AL32UTF8, UTF8, Latin-1.
  struct Edge {
    char32_t character;
    int al32utf8, utf8, latin;
  };
  for (const Edge& edge : {Edge{0x7F, 1, 1, 1}, Edge{0x80, 2, 2, 1}, Edge{0xFF, 2, 2, 1}, Edge{0x100, 2, 2, 1},
                           Edge{0x7FF, 2, 2, 1}, Edge{0x800, 3, 3, 1}, Edge{0xFFFF, 3, 3, 1},
                           Edge{0x10000, 4, 6, 1}, Edge{0x10FFFF, 4, 6, 1}}) {
    SCOPED_TRACE(static_cast<unsigned>(edge.character));
    const QString character = QString::fromUcs4(&edge.character, 1);
    const QString text = QStringLiteral("a") + character + QStringLiteral("b");
    const std::pair<const TOCharset*, int> sets[] = {{&utf8, edge.al32utf8}, {&cesu, edge.utf8}, {&latin, edge.latin}};
    for (const auto& [set, bytes] : sets) {
      SCOPED_TRACE(set->Name().toStdString());
      const QByteArray encoded = set->Encode(text);
      EXPECT_EQ(encoded.size(), bytes + 2);
      // The byte offset of "b" is the position of "b"; one byte into the character is the character's end.
      EXPECT_EQ(set->TextPosition(text, static_cast<std::size_t>(bytes + 1)), character.size() + 1);
      EXPECT_EQ(set->TextPosition(text, 2), character.size() + 1);
      EXPECT_EQ(set->TextPosition(text, 1), 1);
      EXPECT_EQ(set->CharBytes(encoded.constData(), static_cast<std::size_t>(encoded.size()), 2),
                static_cast<std::size_t>(bytes + 1));
      EXPECT_EQ(set->Decode(encoded), set == &latin && edge.character > 0xFF ? QStringLiteral("a?b") : text);
      // Fetched text in the set becomes the UTF-8 the record keeps.
      const QByteArray asUtf8 = set == &latin && edge.character > 0xFF ? QByteArray("a?b") : text.toUtf8();
      ASSERT_EQ(set->Utf8Size(encoded.constData(), static_cast<std::size_t>(encoded.size())),
                static_cast<std::size_t>(asUtf8.size()));
      QByteArray out(asUtf8.size(), '\0');
      EXPECT_EQ(set->ToUtf8(encoded.constData(), static_cast<std::size_t>(encoded.size()), out.data()),
                static_cast<std::size_t>(asUtf8.size()));
      EXPECT_EQ(out, asUtf8);
    }
    EXPECT_EQ(ascii.Encode(text), edge.character < 0x80 ? text.toLatin1() : QByteArray("a?b"));
  }
  // Bytes past 0x7F are no ASCII: a client in US7ASCII shows them as '?'.
  const char high[] = {'\x7f', '\x80', '\xff'};
  EXPECT_EQ(ascii.Decode(high, 3), QStringLiteral("\x7f??"));
  char out[3];
  EXPECT_EQ(ascii.ToUtf8(high, 3, out), 3u);
  EXPECT_EQ(QByteArray(out, 3), QByteArray("\x7f??"));
}

TEST_F(ClientCharset, CredentialsProgramAndSqlTextRoundTrip) {
  auto muller = LoggedOn(kUser, kPassword);
  EXPECT_EQ(FirstRow(*muller, QStringLiteral("select user from dual")), QStringList{kUser});

  // A statement whose non-ASCII letters fall where the server cuts its text into pieces.
  const QString statement = QStringLiteral("select 'Grüße, %1 Müller' greeting from dual").arg(QString(44, u'x'));
  TOQuery running;
  running.SetSession(muller.get());
  SetSql(running, statement);
  running.Open();
  EXPECT_EQ(running.FieldByName(QStringLiteral("GREETING"))->AsString(),
            QStringLiteral("Grüße, %1 Müller").arg(QString(44, u'x')));

  auto system = LoggedOn(QStringLiteral("SYSTEM"), QStringLiteral("MANAGER"));
  const QStringList row = FirstRow(*system, QStringLiteral("select username, length(username), program, "
                                                           "length(program), sid, serial# from v$session "
                                                           "where username = '%1'").arg(kUser));
  ASSERT_EQ(row.size(), 6);
  EXPECT_EQ(row[0], kUser);
  EXPECT_EQ(row[1], QStringLiteral("6"));  // characters, as the database keeps them
  const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
  EXPECT_EQ(row[2], program);
  EXPECT_EQ(row[3], QString::number(program.size()));

  TOQuery pieces;
  pieces.SetSession(system.get());
  SetSql(pieces, QStringLiteral("select s.sql_text from v$sqltext s, v$session sn where s.address = sn.sql_address "
                                "and s.hash_value = sn.sql_hash_value and sn.sid = %1 and sn.serial# = %2 "
                                "order by piece").arg(row[4], row[5]));
  pieces.Open();
  QString text;
  for (; !pieces.Eof(); pieces.Next()) text += pieces.Fields()[0]->AsString();
  EXPECT_EQ(text, running.ExpandedSQL());
}

TEST_F(ClientCharset, TextAndClobValuesRoundTrip) {
  auto scott = LoggedOn(QStringLiteral("SCOTT"), QStringLiteral("TIGER"));
  // "§" and "½" are bytes that UTF-8 takes for the middle of a character.
  const QString clob = QStringLiteral("Grüße, Müller § ½");
  Execute(*scott, QStringLiteral("insert into cs_texts values (1, 'Müller', '%1')").arg(clob));
  {
    TOQuery insert;
    insert.SetSession(scott.get());
    SetSql(insert, QStringLiteral("insert into cs_texts values (2, :v, :c)"));
    insert.Params().CreateParam(QStringLiteral("v"), ftString, optIn).SetAsString(QStringLiteral("Grüße €"));
    insert.Params().CreateParam(QStringLiteral("c"), ftString, optIn).SetAsString(QStringLiteral("Grüße €"));
    insert.ExecuteStatement();
  }

  TOQuery query;
  query.SetSession(scott.get());
  SetSql(query, QStringLiteral("select n, v, c, length(v), length(c) from cs_texts order by n"));
  query.Open();
  EXPECT_EQ(query.FieldByName(QStringLiteral("V"))->AsString(), QStringLiteral("Müller"));
  EXPECT_EQ(query.FieldByName(QStringLiteral("C"))->AsString(), clob);
  EXPECT_EQ(query.Fields()[3]->AsInteger(), 6);
  EXPECT_EQ(query.Fields()[4]->AsInteger(), clob.size());
  query.Next();
  EXPECT_EQ(query.FieldByName(QStringLiteral("V"))->AsString(), AsTheClientHoldsIt(QStringLiteral("Grüße €")));
  EXPECT_EQ(query.FieldByName(QStringLiteral("C"))->AsString(), AsTheClientHoldsIt(QStringLiteral("Grüße €")));
  EXPECT_EQ(query.Fields()[3]->AsInteger(), 7);
  query.Close();

  // An output parameter is read back in the client's set too.
  TOQuery block;
  block.SetSession(scott.get());
  SetSql(block, QStringLiteral("begin :r := 'Grüße'; end;"));
  TOParam& result = block.Params().CreateParam(QStringLiteral("r"), ftString, optOut);
  block.ExecuteStatement();
  EXPECT_EQ(result.ValueAsText(), QStringLiteral("Grüße"));
}

TEST_F(ClientCharset, LongAndClobValuesAndFullColumnsComeBackWhole) {
  auto scott = LoggedOn(QStringLiteral("SCOTT"), QStringLiteral("TIGER"));
  // Longer than one piece of a LONG value, with a character beyond U+FFFF
  // across the cut (4 bytes in AL32UTF8, 6 in UTF8) and letters after it.
  const QString text = QString(1021, u'x') + QStringLiteral("😀 Grüße § ½ ") + QString(1000, u'ü');
  const QString held = AsTheClientHoldsIt(text);
  Execute(*scott, QStringLiteral("create table cs_longs (n number(5), w varchar2(12), l long, c clob)"));
  // The database counts a column's width in bytes of its own UTF-8: six
  // umlauts fill twelve bytes, whatever the client's set.
  const QString full = QStringLiteral("ÄÖÜäöü");
  Execute(*scott, QStringLiteral("insert into cs_longs values (1, '%1', '%2', '%2')").arg(full, text));
  TOQuery query;
  query.SetSession(scott.get());
  SetSql(query, QStringLiteral("select w, l, length(l), c, length(c) from cs_longs"));
  query.Open();
  // The record keeps text as UTF-8: room for two bytes per byte of Latin-1.
  EXPECT_EQ(query.FieldDefs()[0].Size, TOCharset::Client().Kind() == TOCharset::csWE8ISO8859P1 ? 25 : 13);
  EXPECT_EQ(query.Fields()[0]->AsString(), full);
  EXPECT_EQ(query.Fields()[1]->AsString(), held);
  EXPECT_EQ(query.Fields()[2]->AsInteger(), held.toUcs4().size());
  EXPECT_EQ(query.Fields()[3]->AsString(), held);
  EXPECT_EQ(query.Fields()[4]->AsInteger(), held.toUcs4().size());
}

TEST_F(ClientCharset, TheErrorWindowMarksTheWordAfterNonAsciiText) {
  auto scott = LoggedOn(QStringLiteral("SCOTT"), QStringLiteral("TIGER"));
  TOQuery query;
  query.SetSession(scott.get());
  const QString statement = QStringLiteral("select 'Grüße 😀 €' greeting from nosuchtable");
  SetSql(query, statement);
  try {
    query.Open();
    FAIL() << "the table does not exist";
  } catch (const EOError& error) {
    EXPECT_EQ(error.ProblemSQL, query.ExpandedSQL());
    EXPECT_EQ(error.ErrorPos, statement.indexOf(QStringLiteral("nosuchtable")));

    QString underlined;
    CreateOracleErrorWindow();
    modal::AnswerNext([&](QWidget* window) {
      auto* frm = qobject_cast<TOraErrorFrm*>(window);
      EXPECT_NE(frm, nullptr);
      if (frm == nullptr) return void(window->close());
      for (QTextBlock block = frm->RichEdit->document()->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
          if (it.fragment().charFormat().fontUnderline()) underlined += it.fragment().text();
      frm->Button1->click();
    });
    Application().HandleException(nullptr, error);
    ReleaseOracleErrorWindow();
    EXPECT_EQ(underlined, QStringLiteral("nosuchtable "));
  }
}

// A set the client has no data for fails the environment, as a real client does.
TEST(UnknownClientCharset, ConnectFailsWithOra12705AndKeepsNothing) {
  TOSession session;
  session.UserInfo().Username = QStringLiteral("SCOTT");
  session.UserInfo().Password = QStringLiteral("TIGER");
  session.UserInfo().ShowLogin = false;
  try {
    session.Connect();
    FAIL() << "connected under an unknown character set";
  } catch (const EOError& error) {
    EXPECT_EQ(ExceptionMessage(error),
              QStringLiteral("ORA-12705: Cannot access NLS data files or invalid environment specified"));
  }
  EXPECT_FALSE(session.Connected());
  EXPECT_EQ(session.hEnvironment(), nullptr);
}

// A message naming non-ASCII text reads the same through the session's status
// check, through a statement's and through the reader both of them use.
TEST_F(ClientCharset, EveryStatusCheckReadsTheSameErrorTextInTheClientSet) {
  auto system = LoggedOn(QStringLiteral("SYSTEM"), QStringLiteral("MANAGER"));
  // The user exists already: the server names it in its refusal.
  const QString statement = QStringLiteral("create user \"%1\" identified by \"%2\"").arg(kUser, kPassword);
  TOQuery query;
  query.SetSession(system.get());
  SetSql(query, statement);
  QString fromStatement;
  try {
    query.ExecuteStatement();
    FAIL() << "the user was made twice";
  } catch (const EOError& error) {
    fromStatement = error.Message();
  }
  EXPECT_TRUE(fromStatement.startsWith(QStringLiteral("ORA-01920"))) << fromStatement.toStdString();
  EXPECT_TRUE(fromStatement.contains(AsTheClientHoldsIt(kUser))) << fromStatement.toStdString();

  // The same refusal, its status handed to the session's check.
  OCIStmt* statementHandle = nullptr;
  ASSERT_EQ(oci.OCIHandleAlloc(system->hEnvironment(), reinterpret_cast<void**>(&statementHandle), OCI_HTYPE_STMT,
                               0, nullptr),
            OCI_SUCCESS);
  const QByteArray text = TOCharset::Client().Encode(statement);
  ASSERT_EQ(oci.OCIStmtPrepare(statementHandle, system->hError(), reinterpret_cast<const ::text*>(text.constData()),
                               static_cast<ub4>(text.size()), OCI_NTV_SYNTAX, OCI_DEFAULT),
            OCI_SUCCESS);
  const sword failed = oci.OCIStmtExecute(system->hService(), statementHandle, system->hError(), 1, 0, nullptr,
                                          nullptr, OCI_DEFAULT);
  EXPECT_EQ(OracleErrorText(system->hError(), OCI_HTYPE_ERROR), fromStatement);
  QString fromSession;
  try {
    system->CheckStatus(system->hError(), failed);
    ADD_FAILURE() << "accepted a failure";
  } catch (const EOError& error) {
    fromSession = error.Message();
  }
  oci.OCIHandleFree(statementHandle, OCI_HTYPE_STMT);
  EXPECT_EQ(fromSession, fromStatement);
  EXPECT_EQ(OracleErrorText(nullptr, OCI_HTYPE_ERROR), QString());
}
