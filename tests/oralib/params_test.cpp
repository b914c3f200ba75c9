// Tests of parameters and macros: storage, text and array elements, indicators,
// names and expansion.
#include <gtest/gtest.h>

#include <QLocale>
#include <cstring>

#include "oralib/o_class_params.h"
#include "oralib/o_error.h"
#include "oralib/o_utils.h"
#include "ui/exception.h"

namespace {

// The message of what `action` raises; empty when it raises nothing.
template <class Action>
QString RaisedBy(Action action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return {};
}

QString TypeError(TOParams& params, const QString& name, TFieldType type) {
  try {
    params.CreateParam(name, type, optIn);
  } catch (const EOError& e) {
    return e.Message();
  }
  return {};
}

}  // namespace

TEST(Param, SetDataTypeNormalisesAndBuildsStorage) {
  TOParams params(nullptr);
  TOParam& flag = params.CreateParam(QStringLiteral("flag"), ftBoolean, optIn);
  EXPECT_EQ(flag.DataType(), ftInteger);
  EXPECT_EQ(flag.ElementSize(), 4u);
  TOParam& memo = params.CreateParam(QStringLiteral("memo"), ftMemo, optIn);
  EXPECT_EQ(memo.DataType(), ftBlob);
  EXPECT_EQ(memo.Values(), nullptr);
  ASSERT_NE(memo.LOB(), nullptr);
  EXPECT_EQ(memo.LOB()->LobType(), SQLT_BLOB);
  EXPECT_EQ(params.CreateParam(QStringLiteral("d"), ftDate, optIn).DataType(), ftDateTime);
  EXPECT_EQ(params.CreateParam(QStringLiteral("u"), ftUnknown, optIn).BindType(), SQLT_STR);

  EXPECT_EQ(TypeError(params, QStringLiteral("w"), ftWideString),
            QStringLiteral("TOParam: parameter 'w' is of unsupported 24 type"));
  EXPECT_EQ(TypeError(params, QString(), ftString), QStringLiteral("Can not define parameter without name."));
}

TEST(Param, ArraySizeRebuildsOnlyOnChange) {
  TOParams params(nullptr);
  TOParam& p = params.CreateParam(QStringLiteral("n"), ftInteger, optIn);
  p.SetArraySize(10);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(p.Indicators()[i], -1);
    EXPECT_EQ(p.Lengths()[i], 0);
  }
  const std::vector<char> zeros(40, 0);
  EXPECT_EQ(std::memcmp(p.Values(), zeros.data(), 40), 0);
  p.SetAsInteger(7, 3);
  const int32_t allocs = AllocCount();
  p.SetArraySize(10);
  EXPECT_EQ(AllocCount(), allocs);
  EXPECT_EQ(p.Indicators()[3], 0);
}

TEST(Param, TextFillsAnElementToItsLastByteAndNoFurther) {
  TOParams params(nullptr);
  TOParam& text = params.CreateParam(QStringLiteral("p1"), ftString, optIn);
  // 3999 bytes and the terminator fill the 4000-byte element; bytes count, not characters.
  const QString widest = QString(1999, u'\u00fc') + QLatin1Char('a');  // 3999 bytes of UTF-8
  for (const QString& value : {QString(3999, QLatin1Char('x')), widest}) {
    text.SetAsString(value);
    EXPECT_EQ(text.GetValue().toString(), value);
    EXPECT_EQ(text.Lengths()[0], 4000);
    EXPECT_EQ(text.Indicators()[0], 0);
    EXPECT_EQ(static_cast<const char*>(text.Values())[3999], '\0');
  }
  for (const QString& value : {QString(4000, QLatin1Char('x')), QString(2000, u'\u00fc')}) {
    try {
      text.SetAsString(value);
      ADD_FAILURE() << value.size() << " characters taken";
    } catch (const EOError& e) {
      EXPECT_EQ(e.Message(), QStringLiteral("TOParam: value of parameter 'p1' is longer than 3999 bytes"));
    }
    EXPECT_EQ(text.GetValue().toString(), widest);  // nothing lost
  }
}

TEST(Param, ArraysHoldAtLeastOneElementAndTablesCountThoseSet) {
  TOParams params(nullptr);
  TOParam& n = params.CreateParam(QStringLiteral("n"), ftInteger, optIn);
  n.SetArraySize(3);
  for (const sb4 size : {0, -1}) {
    EXPECT_THROW(n.SetArraySize(size), EOError) << size;
    EXPECT_EQ(n.ArraySize(), 3);
  }
  n.SetArraySize(1);
  EXPECT_EQ(n.ArraySize(), 1);
  n.SetAsInteger(5);
  EXPECT_EQ(n.GetValue(), QVariant(5));
  for (const int index : {1, -1})
    EXPECT_EQ(RaisedBy([&] { n.SetAsInteger(1, index); }),
              QStringLiteral("TOParam: parameter 'n' has no element %1").arg(index));

  TOParam& table = params.CreateParam(QStringLiteral("t"), ftInteger, optIn);
  table.IsTable = true;
  table.SetArraySize(5);
  const std::pair<int, ub4> steps[] = {{0, 1}, {2, 3}, {1, 3}, {4, 5}};
  for (const auto& [index, count] : steps) {
    table.SetAsInteger(10 * (index + 1), index);
    EXPECT_EQ(table.ElementCount, count) << index;
  }
  EXPECT_EQ(table.GetValue().value<TVariantArray>().Items,
            (QVariantList{10, 20, 30, QVariant(), 50}));
}

TEST(Param, OnlyIndicatorMinusOneMakesAValueNull) {
  // What OCI leaves after an output: -1 null, 0 whole, above 0 the length of
  // a value cut to fit, -2 a cut value too long for the indicator.
  TOParams params(nullptr);
  TOParam& single = params.CreateParam(QStringLiteral("r"), ftString, optOut);
  single.SetAsString(QStringLiteral("cut"));
  for (const sb2 indicator : {sb2(0), sb2(5000), sb2(-2)}) {
    single.Indicators()[0] = indicator;
    EXPECT_EQ(single.GetValue(), QVariant(QStringLiteral("cut"))) << indicator;
    EXPECT_EQ(single.ValueAsText(), QStringLiteral("cut")) << indicator;
  }
  single.Indicators()[0] = -1;
  EXPECT_FALSE(single.GetValue().isValid());

  TOParam& array = params.CreateParam(QStringLiteral("a"), ftInteger, optOut);
  array.SetArraySize(4);
  for (int i = 0; i < 4; ++i) array.SetAsInteger(i + 1, i);
  const sb2 indicators[] = {0, 3, -2, -1};
  std::copy(std::begin(indicators), std::end(indicators), array.Indicators());
  EXPECT_EQ(array.GetValue().value<TVariantArray>().Items, (QVariantList{1, 2, 3, QVariant()}));
}

TEST(Param, ValuesReadBackAsVariants) {
  TOParams params(nullptr);
  TOParam& fresh = params.CreateParam(QStringLiteral("p1"), ftString, optIn);
  EXPECT_FALSE(fresh.GetValue().isValid());
  EXPECT_TRUE(fresh.ValueIsEmpty());
  EXPECT_TRUE(fresh.ValueAsText().isEmpty());
  fresh.SetAsString(QStringLiteral("two\nlines"));
  EXPECT_EQ(fresh.GetValue().toString(), QStringLiteral("two\r\nlines"));

  TOParam& numbers = params.CreateParam(QStringLiteral("a"), ftFloat, optIn);
  numbers.SetArraySize(3);
  numbers.LowBound = 1;
  numbers.SetAsFloat(1.5, 0);
  numbers.SetAsFloat(3.5, 2);
  const QVariant array = numbers.GetValue();
  ASSERT_TRUE(VarIsArray(array));
  const auto items = array.value<TVariantArray>();
  EXPECT_EQ(items.LowBound, 1);
  ASSERT_EQ(items.Items.size(), 3);
  EXPECT_EQ(items.Items[0].toDouble(), 1.5);
  EXPECT_FALSE(items.Items[1].isValid());
  EXPECT_EQ(items.Items[2].toDouble(), 3.5);

  TOParam& table = params.CreateParam(QStringLiteral("t"), ftInteger, optOut);
  table.IsTable = true;
  table.SetArraySize(5);
  EXPECT_FALSE(table.GetValue().isValid());  // ElementCount 0
  table.ElementCount = 99;                   // more than the storage holds
  EXPECT_EQ(table.GetValue().value<TVariantArray>().Items.size(), 5);

  TOParam& when = params.CreateParam(QStringLiteral("when"), ftDateTime, optIn);
  const unsigned char date[7] = {120, 101, 3, 4, 6, 7, 8};
  when.SetAsDateTime(OraDateToDateTime(date));
  EXPECT_EQ(std::memcmp(when.Values(), date, 7), 0);
  EXPECT_FALSE(when.ValueAsText().isEmpty());
}

TEST(Param, CursorElementsHoldWholeStatementHandles) {
  TOParams params(nullptr);
  TOParam& cursors = params.CreateParam(QStringLiteral("cur"), ftCursor, optOut);
  EXPECT_EQ(cursors.BindType(), SQLT_RSET);
  ASSERT_EQ(cursors.ElementSize(), sizeof(OCIStmt*));
  cursors.SetArraySize(3);
  // OCI writes a statement handle into each element it fills.
  int statements[3];
  for (int i = 0; i < 3; ++i) {
    OCIStmt* handle = reinterpret_cast<OCIStmt*>(&statements[i]);
    std::memcpy(static_cast<char*>(cursors.Values()) + i * cursors.ElementSize(), &handle, sizeof handle);
    cursors.Indicators()[i] = 0;
  }
  const auto items = cursors.GetValue().value<TVariantArray>().Items;
  ASSERT_EQ(items.size(), 3);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(items[i].toULongLong(), static_cast<qulonglong>(reinterpret_cast<quintptr>(&statements[i]))) << i;
}

TEST(Params, FindIsCaseInsensitiveAndTakesTheLastMatch) {
  TOParams params(nullptr);
  params.CreateParam(QStringLiteral("P1"), ftString, optIn);
  EXPECT_EQ(params.FindParam(QStringLiteral("p1")), &params[0]);
  // Reusing a name rebuilds the same parameter.
  params.CreateParam(QStringLiteral("p1"), ftInteger, optOut);
  EXPECT_EQ(params.Count(), 1);
  EXPECT_EQ(params[0].DataType(), ftInteger);
  EXPECT_EQ(params.FindParam(QStringLiteral("nothing")), nullptr);
}

TEST(Params, ParseNamesFollowsTheMarker) {
  TOParams macros(nullptr);
  macros.ParseNames(QLatin1Char('%'), {QStringLiteral("select %A"), QStringLiteral("from t%B")});
  ASSERT_EQ(macros.Count(), 2);
  EXPECT_EQ(macros[0].Name, QStringLiteral("A"));
  EXPECT_EQ(macros[1].Name, QStringLiteral("B"));
  macros.ParseNames(QLatin1Char('%'), {QStringLiteral("%A%B % %COLS from %TAB %COLS")});
  QStringList names;
  for (int i = 0; i < macros.Count(); ++i) names << macros[i].Name;
  EXPECT_EQ(names, (QStringList{QStringLiteral("A"), QStringLiteral("COLS"), QStringLiteral("TAB")}));
}

TEST(Params, AMacroReplacesOnlyItsWholeName) {
  TOParams macros(nullptr);
  macros.ParseNames(QLatin1Char('&'), {QStringLiteral("select * from &TAB where x = &T")});
  ASSERT_EQ(macros.Count(), 2);
  macros[0].SetAsString(QStringLiteral("emp"));
  macros[1].SetAsString(QStringLiteral("1"));
  EXPECT_EQ(ExpandMacros(QStringLiteral("select * from &TAB where x = &T"), QLatin1Char('&'), macros),
            QStringLiteral("select * from emp where x = 1"));
  // With the longer name first in the text the shorter one still finds its own place.
  EXPECT_EQ(ExpandMacros(QStringLiteral("&T_X &T"), QLatin1Char('&'), macros), QStringLiteral("&T_X 1"));
}

TEST(Param, DateTextIsTheDateFieldsTextWithoutTimeZone) {
  // A locale whose long time format names the time zone.
  const QLocale saved;
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  ASSERT_TRUE(QLocale().timeFormat(QLocale::LongFormat).contains(QLatin1Char('t')));
  TOParams macros(nullptr);
  TOParam& when = macros.CreateParam(QStringLiteral("WHEN"), ftDateTime, optIn);
  const unsigned char date[7] = {120, 101, 3, 4, 14, 7, 8};  // 4 March 2001, 13:06:07
  when.SetAsDateTime(OraDateToDateTime(date));
  // Short date and long time, nothing after the time.
  const QString text = QStringLiteral("3/4/01 1:06:07 PM");
  EXPECT_EQ(when.ValueAsText(), text);
  EXPECT_EQ(ExpandMacros(QStringLiteral("select %WHEN from dual"), QLatin1Char('%'), macros),
            QStringLiteral("select ") + text + QStringLiteral(" from dual"));
  QLocale::setDefault(saved);
}
