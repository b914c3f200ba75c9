// Oracle dates: the seven-byte internal form, ISO text as SQLite keeps dates,
// and formatting and parsing with a date format model.
#include "ocisim/oracle_values.h"

#include "ocisim/ora_errors.h"
#include "ocisim/sql_lexer.h"

#include <sqlite3.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace ocisim {

namespace {

constexpr const char* kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                   "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
constexpr const char* kMonthNames[] = {"JANUARY", "FEBRUARY", "MARCH",     "APRIL",
                                       "MAY",     "JUNE",     "JULY",      "AUGUST",
                                       "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};
constexpr const char* kDays[] = {"SUNDAY", "MONDAY", "TUESDAY", "WEDNESDAY",
                                 "THURSDAY", "FRIDAY", "SATURDAY"};

// Reads n digits (1..n when n is negative: at least one, at most -n).
bool digits(std::string_view s, size_t& at, int n, int& out) {
  const int most = n < 0 ? -n : n;
  int got = 0;
  out = 0;
  while (got < most && at < s.size() && std::isdigit(static_cast<unsigned char>(s[at]))) {
    out = out * 10 + (s[at++] - '0');
    ++got;
  }
  return n < 0 ? got > 0 : got == n;
}

int weekday(const DateTime& d) {
  std::tm t{};
  t.tm_year = d.year - 1900;
  t.tm_mon = d.month - 1;
  t.tm_mday = d.day;
  t.tm_hour = 12;
  timegm(&t);
  return t.tm_wday;
}

// Oracle's century rule for two-digit years read with YY: the current century.
int fullYear(int yy) { return (now().year / 100) * 100 + yy; }

// Whether the model at i starts with element e (case-insensitive).
bool starts(std::string_view model, size_t i, std::string_view e) {
  if (model.size() - i < e.size()) return false;
  for (size_t k = 0; k < e.size(); ++k)
    if (upperAscii(model[i + k]) != e[k]) return false;
  return true;
}

}  // namespace

std::string isoText(const DateTime& d) {
  char out[32];
  std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day, d.hour,
                d.minute, d.second);
  return out;
}

bool validDate(const DateTime& d) {
  static constexpr int kDaysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (d.year < -4712 || d.year > 9999 || d.year == 0 || d.month < 1 || d.month > 12) return false;
  const bool leap = (d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0;
  const int days = kDaysIn[d.month - 1] + (d.month == 2 && leap ? 1 : 0);
  return d.day >= 1 && d.day <= days && d.hour >= 0 && d.hour < 24 && d.minute >= 0 &&
         d.minute < 60 && d.second >= 0 && d.second < 60;
}

std::optional<DateTime> parseDate(std::string_view text) {
  DateTime d;
  size_t at = 0;
  if (text.size() >= 10 && text[4] == '-') {
    if (!digits(text, at, 4, d.year) || text[at++] != '-' || !digits(text, at, 2, d.month) ||
        text[at++] != '-' || !digits(text, at, 2, d.day))
      return std::nullopt;
    if (at < text.size()) {
      if ((text[at] != ' ' && text[at] != 'T') || !digits(text, ++at, 2, d.hour) ||
          at >= text.size() || text[at++] != ':' || !digits(text, at, 2, d.minute) ||
          at >= text.size() || text[at++] != ':' || !digits(text, at, 2, d.second))
        return std::nullopt;
    }
    if (at != text.size() || !validDate(d)) return std::nullopt;
    return d;
  }
  auto viaModel = parseDateWith(text, "DD-MON-YYYY");
  if (!viaModel) viaModel = parseDateWith(text, "DD-MON-YY");
  return viaModel;
}

void toOracleDate(const DateTime& d, unsigned char out[7]) {
  out[0] = static_cast<unsigned char>(d.year / 100 + 100);
  out[1] = static_cast<unsigned char>(d.year % 100 + 100);
  out[2] = static_cast<unsigned char>(d.month);
  out[3] = static_cast<unsigned char>(d.day);
  out[4] = static_cast<unsigned char>(d.hour + 1);
  out[5] = static_cast<unsigned char>(d.minute + 1);
  out[6] = static_cast<unsigned char>(d.second + 1);
}

std::optional<DateTime> fromOracleDate(const unsigned char in[7]) {
  DateTime d;
  d.year = (in[0] - 100) * 100 + (in[1] - 100);
  d.month = in[2];
  d.day = in[3];
  d.hour = in[4] - 1;
  d.minute = in[5] - 1;
  d.second = in[6] - 1;
  if (!validDate(d)) return std::nullopt;
  return d;
}

DateTime now() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
          local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::string formatDate(const DateTime& d, std::string_view model) {
  std::string out;
  char buf[16];
  for (size_t i = 0; i < model.size();) {
    const auto put = [&](const char* fmt, int v, size_t len) {
      std::snprintf(buf, sizeof buf, fmt, v);
      out += buf;
      i += len;
    };
    if (starts(model, i, "YYYY")) put("%04d", d.year, 4);
    else if (starts(model, i, "YY")) put("%02d", d.year % 100, 2);
    else if (starts(model, i, "MONTH")) { out += kMonthNames[d.month - 1]; i += 5; }
    else if (starts(model, i, "MON")) { out += kMonths[d.month - 1]; i += 3; }
    else if (starts(model, i, "MM")) put("%02d", d.month, 2);
    else if (starts(model, i, "MI")) put("%02d", d.minute, 2);
    else if (starts(model, i, "DDD")) {
      std::tm t{};
      t.tm_year = d.year - 1900; t.tm_mon = d.month - 1; t.tm_mday = d.day; t.tm_hour = 12;
      timegm(&t);
      put("%03d", t.tm_yday + 1, 3);
    }
    else if (starts(model, i, "DAY")) { out += kDays[weekday(d)]; i += 3; }
    else if (starts(model, i, "DY")) { out += std::string(kDays[weekday(d)], 3); i += 2; }
    else if (starts(model, i, "DD")) put("%02d", d.day, 2);
    else if (starts(model, i, "HH24")) put("%02d", d.hour, 4);
    else if (starts(model, i, "HH12")) put("%02d", d.hour % 12 == 0 ? 12 : d.hour % 12, 4);
    else if (starts(model, i, "HH")) put("%02d", d.hour % 12 == 0 ? 12 : d.hour % 12, 2);
    else if (starts(model, i, "SS")) put("%02d", d.second, 2);
    else if (starts(model, i, "AM") || starts(model, i, "PM")) { out += d.hour < 12 ? "AM" : "PM"; i += 2; }
    else if (model[i] == '"') {
      const size_t end = model.find('"', i + 1);
      out += model.substr(i + 1, end == std::string_view::npos ? std::string_view::npos : end - i - 1);
      i = end == std::string_view::npos ? model.size() : end + 1;
    } else {
      out += model[i++];
    }
  }
  return out;
}

std::optional<DateTime> parseDateWith(std::string_view text, std::string_view model) {
  DateTime d;
  bool pm = false, twelve = false;
  size_t at = 0;
  const auto word = [&](const char* const* names, int count, size_t len, int& out) {
    for (int k = 0; k < count; ++k) {
      const std::string_view n(names[k]);
      const size_t take = len ? len : n.size();
      if (text.size() - at >= take && upperAscii(text.substr(at, take)) == n.substr(0, take)) {
        out = k + 1;
        at += take;
        return true;
      }
    }
    return false;
  };
  for (size_t i = 0; i < model.size();) {
    bool ok = true;
    if (starts(model, i, "YYYY")) { ok = digits(text, at, -4, d.year); i += 4; }
    else if (starts(model, i, "YY")) { ok = digits(text, at, -2, d.year); d.year = fullYear(d.year); i += 2; }
    else if (starts(model, i, "MONTH")) { ok = word(kMonthNames, 12, 0, d.month); i += 5; }
    else if (starts(model, i, "MON")) { ok = word(kMonths, 12, 3, d.month); i += 3; }
    else if (starts(model, i, "MM")) { ok = digits(text, at, -2, d.month); i += 2; }
    else if (starts(model, i, "MI")) { ok = digits(text, at, -2, d.minute); i += 2; }
    else if (starts(model, i, "DD")) { ok = digits(text, at, -2, d.day); i += 2; }
    else if (starts(model, i, "HH24")) { ok = digits(text, at, -2, d.hour); i += 4; }
    else if (starts(model, i, "HH12") || starts(model, i, "HH")) {
      ok = digits(text, at, -2, d.hour);
      twelve = true;
      i += starts(model, i, "HH12") ? 4 : 2;
    }
    else if (starts(model, i, "SS")) { ok = digits(text, at, -2, d.second); i += 2; }
    else if (starts(model, i, "AM") || starts(model, i, "PM")) {
      const std::string m = upperAscii(text.substr(at, 2));
      ok = m == "AM" || m == "PM";
      pm = m == "PM";
      at += 2;
      i += 2;
    } else {
      // Punctuation in the model matches any one punctuation or blank in the text.
      if (at < text.size() && !std::isalnum(static_cast<unsigned char>(text[at]))) ++at;
      else ok = false;
      ++i;
    }
    if (!ok) return std::nullopt;
  }
  if (at != text.size()) return std::nullopt;
  if (twelve) {
    if (d.hour < 1 || d.hour > 12) return std::nullopt;
    d.hour = d.hour % 12 + (pm ? 12 : 0);
  }
  if (!validDate(d)) return std::nullopt;
  return d;
}

}  // namespace ocisim
