#include "ocisim/tnsnames.h"

#include "ocisim/ora_errors.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace ocisim {

namespace {

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string trimmed(std::string_view s) {
  const auto isBlank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return std::string(s);
}

std::string parentOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string envOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return (value && *value) ? std::string(value) : fallback;
}

enum class Tok { Word, Open, Close, Equals, Comma };

struct Token {
  Tok kind;
  std::string text;
  bool lineStart;  // first thing on its line, in column 0
};

std::vector<Token> tokenize(std::string_view text) {
  std::vector<Token> out;
  bool column0 = true;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\n' || c == '\r') {
      column0 = true;
      ++i;
      continue;
    }
    if (c == '#') {  // comment to the end of the line
      while (i < text.size() && text[i] != '\n' && text[i] != '\r') ++i;
      continue;
    }
    if (std::isspace(static_cast<unsigned char>(c)) || c == '\0') {
      column0 = false;
      ++i;
      continue;
    }
    const bool atStart = column0;
    column0 = false;
    switch (c) {
      case '(': out.push_back({Tok::Open, {}, atStart}); ++i; continue;
      case ')': out.push_back({Tok::Close, {}, atStart}); ++i; continue;
      case '=': out.push_back({Tok::Equals, {}, atStart}); ++i; continue;
      case ',': out.push_back({Tok::Comma, {}, atStart}); ++i; continue;
      default: break;
    }
    size_t end = i;
    while (end < text.size()) {
      const char d = text[end];
      if (d == '(' || d == ')' || d == '=' || d == ',' || d == '#' || d == '\0' ||
          std::isspace(static_cast<unsigned char>(d)))
        break;
      ++end;
    }
    out.push_back({Tok::Word, std::string(text.substr(i, end - i)), atStart});
    i = end;
  }
  return out;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::string clientHome() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&clientHome), &info) == 0 || !info.dli_fname) return ".";
  std::string path = info.dli_fname;
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved)) path = resolved;
  return parentOf(parentOf(path));
}

std::vector<std::string> tnsnamesFiles() {
  if (const char* admin = std::getenv("TNS_ADMIN"); admin && *admin)
    return {std::string(admin) + "/tnsnames.ora"};
  const std::string home = clientHome();
  return {home + "/network/admin/tnsnames.ora", home + "/net80/admin/tnsnames.ora"};
}

std::string oradataDir() { return envOr("OCISIM_ORADATA", clientHome() + "/oradata"); }

bool isValidSid(std::string_view sid) {
  if (sid.empty() || sid.size() > 30) return false;
  return std::all_of(sid.begin(), sid.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '#';
  });
}

std::vector<TnsEntry> parseTnsnames(std::string_view text) {
  const std::vector<Token> toks = tokenize(text);
  std::vector<TnsEntry> entries;
  size_t i = 0;
  while (i < toks.size()) {
    if (toks[i].kind != Tok::Word) {
      ++i;
      continue;
    }
    // One or more aliases separated by commas, then "=".
    std::vector<std::string> aliases{upper(toks[i].text)};
    size_t j = i + 1;
    while (j + 1 < toks.size() && toks[j].kind == Tok::Comma && toks[j + 1].kind == Tok::Word) {
      aliases.push_back(upper(toks[j + 1].text));
      j += 2;
    }
    if (j + 1 >= toks.size() || toks[j].kind != Tok::Equals || toks[j + 1].kind != Tok::Open) {
      i = j > i + 1 ? j : i + 1;
      continue;
    }
    // The description: walk its parentheses with a stack of parameter names,
    // looking for SID (preferred) or SERVICE_NAME inside CONNECT_DATA.
    std::vector<std::string> keys;
    std::string sid, service;
    bool complete = false;
    size_t k = j + 1;
    while (k < toks.size()) {
      const Token& t = toks[k];
      if (t.lineStart && t.kind == Tok::Word) break;  // a new entry: this one is broken
      if (t.kind == Tok::Open) {
        if (k + 2 < toks.size() && toks[k + 1].kind == Tok::Word && toks[k + 2].kind == Tok::Equals) {
          keys.push_back(upper(toks[k + 1].text));
          k += 3;
        } else {
          keys.emplace_back();
          ++k;
        }
        continue;
      }
      if (t.kind == Tok::Close) {
        if (!keys.empty()) keys.pop_back();
        ++k;
        if (keys.empty()) {
          complete = true;
          break;
        }
        continue;
      }
      if (t.kind == Tok::Word && !keys.empty() &&
          std::find(keys.begin(), keys.end(), "CONNECT_DATA") != keys.end()) {
        if (keys.back() == "SID" && sid.empty()) sid = upper(t.text);
        if (keys.back() == "SERVICE_NAME" && service.empty()) {
          // A service name such as DEMO.WORLD designates the instance DEMO.
          service = upper(t.text.substr(0, t.text.find('.')));
        }
      }
      ++k;
    }
    i = k;
    if (!complete) continue;
    const std::string& target = sid.empty() ? service : sid;
    if (target.empty()) continue;
    for (const std::string& alias : aliases) {
      const bool known = std::any_of(entries.begin(), entries.end(),
                                     [&](const TnsEntry& e) { return e.alias == alias; });
      if (!known) entries.push_back({alias, target});
    }
  }
  return entries;
}

Resolution resolveConnectString(std::string_view connect) {
  const std::string name = trimmed(connect);
  if (name.empty()) {
    std::string sid = upper(envOr("ORACLE_SID", "DEMO"));
    if (!isValidSid(sid)) return {kOraSidUnknown, {}};
    return {0, sid};
  }
  const std::string alias = upper(name);
  for (const std::string& file : tnsnamesFiles()) {
    for (const TnsEntry& entry : parseTnsnames(readFile(file))) {
      if (entry.alias != alias) continue;
      if (!isValidSid(entry.sid)) return {kOraSidUnknown, {}};
      return {0, entry.sid};
    }
  }
  return {kOraTnsUnresolved, {}};
}

}  // namespace ocisim
