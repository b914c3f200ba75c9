// The client installation's folders, and resolving connect strings through
// tnsnames.ora into SIDs, with the parsed files kept while they do not change.
#include "ocisim/tnsnames.h"

#include "ocisim/ascii.h"
#include "ocisim/ora_errors.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <deque>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace ocisim {

namespace {

// Blanks, whatever the process's locale (as letter case, see ascii.h): the
// file's names are ASCII, and a locale's idea of blanks must not change which
// alias a connect string finds.

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

std::string trimmed(std::string_view s) {
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
  std::string_view text;  // a part of the text tokenized
  bool lineStart;  // first thing on its line, in column 0
};

// The tokens of a text, read as the parser asks for them: it looks a few
// tokens ahead and never back, so only those are held (a file of 60,000
// entries has millions of tokens).
class TokenStream {
 public:
  explicit TokenStream(std::string_view text) : text_(text) {}

  // The token n places ahead, or null past the end. Valid until it is skipped.
  const Token* peek(size_t n) {
    while (ahead_.size() <= n)
      if (!readToken()) return nullptr;
    return &ahead_[n];
  }
  void skip(size_t n) {
    peek(n ? n - 1 : 0);
    ahead_.erase(ahead_.begin(), ahead_.begin() + static_cast<std::ptrdiff_t>(std::min(n, ahead_.size())));
  }

 private:
  bool readToken() {
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (c == '\n' || c == '\r') {
        column0_ = true;
        ++at_;
        continue;
      }
      if (c == '#') {  // comment to the end of the line
        while (at_ < text_.size() && text_[at_] != '\n' && text_[at_] != '\r') ++at_;
        continue;
      }
      if (isBlank(c) || c == '\0') {
        column0_ = false;
        ++at_;
        continue;
      }
      const bool atStart = column0_;
      column0_ = false;
      switch (c) {
        case '(': ahead_.push_back({Tok::Open, {}, atStart}); ++at_; return true;
        case ')': ahead_.push_back({Tok::Close, {}, atStart}); ++at_; return true;
        case '=': ahead_.push_back({Tok::Equals, {}, atStart}); ++at_; return true;
        case ',': ahead_.push_back({Tok::Comma, {}, atStart}); ++at_; return true;
        default: break;
      }
      size_t end = at_;
      while (end < text_.size()) {
        const char d = text_[end];
        if (d == '(' || d == ')' || d == '=' || d == ',' || d == '#' || d == '\0' || isBlank(d)) break;
        ++end;
      }
      ahead_.push_back({Tok::Word, text_.substr(at_, end - at_), atStart});
      at_ = end;
      return true;
    }
    return false;
  }

  std::string_view text_;
  size_t at_ = 0;
  bool column0_ = true;
  std::deque<Token> ahead_;
};

// A tnsnames.ora is a few kilobytes. As in the library's service list, only
// a regular file is read (a FIFO or a device could block or never end) and no
// more than this of it.
constexpr size_t kMaxTnsnamesBytes = 16 * 1024 * 1024;

// What tells a file's versions apart: a change of content moves its size or its
// modification time, a replacement its inode.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{}, changed{};
  bool operator==(const FileIdentity& o) const {
    return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec && changed.tv_sec == o.changed.tv_sec &&
           changed.tv_nsec == o.changed.tv_nsec;
  }
};

FileIdentity identityOf(const struct stat& st) {
  return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

// The aliases of one file, each with the instance of its first entry.
struct ParsedFile {
  FileIdentity identity;
  // False while the file's modification time is too recent to tell a later
  // change of the same size apart (file times have a coarse grain): such a
  // file is read again at the next lookup.
  bool settled = false;
  std::unordered_map<std::string, std::string> sids;
};

std::optional<ParsedFile> readTnsnamesFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return std::nullopt;
  }
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::string text;
  text.resize(std::min<size_t>(static_cast<size_t>(std::max<off_t>(st.st_size, 0)), kMaxTnsnamesBytes));
  size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = read(fd, text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  close(fd);
  text.resize(got);
  ParsedFile parsed;
  parsed.identity = identityOf(st);
  parsed.settled = st.st_mtim.tv_sec + 2 < now.tv_sec;
  parsed.sids = parseTnsnames(text);
  return parsed;
}

// The files read so far, by path: each is parsed again only once it changed.
class ParsedFiles {
 public:
  // The instance an alias names in a file; empty when the file has no such
  // alias, or is no regular file.
  std::optional<std::string> lookUp(const std::string& path, const std::string& alias) {
    struct stat st {};
    const bool present = stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!present) {
      files_.erase(path);
      return std::nullopt;
    }
    auto found = files_.find(path);
    if (found == files_.end() || !found->second.settled || !(found->second.identity == identityOf(st))) {
      std::optional<ParsedFile> parsed = readTnsnamesFile(path);
      if (!parsed) {
        files_.erase(path);
        return std::nullopt;
      }
      if (found == files_.end() && files_.size() >= kMaxFiles) files_.clear();
      found = files_.insert_or_assign(path, std::move(*parsed)).first;
    }
    const auto entry = found->second.sids.find(alias);
    if (entry == found->second.sids.end()) return std::nullopt;
    return entry->second;
  }

 private:
  static constexpr size_t kMaxFiles = 16;
  std::mutex mutex_;
  std::unordered_map<std::string, ParsedFile> files_;
};

ParsedFiles& parsedFiles() {
  // Destroyed at process exit or when the library is unloaded.
  static ParsedFiles files;
  return files;
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

std::string userDataHome() {
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/') return data;
  std::string home;
  if (const char* h = std::getenv("HOME"); h && *h == '/') {
    home = h;
  } else {
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
        found->pw_dir[0] == '/')
      home = found->pw_dir;
  }
  return home.empty() ? std::string() : home + "/.local/share";
}

std::string oradataDir() {
  if (const char* chosen = std::getenv("OCISIM_ORADATA"); chosen && *chosen) return chosen;
  // The home's own folder, where a build keeps its demo instance, when this
  // user may keep an instance there. An installed client has none: each user
  // then keeps instances of their own in their own data folder.
  const std::string own = clientHome() + "/oradata";
  struct stat st {};
  if (stat(own.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
      faccessat(AT_FDCWD, own.c_str(), W_OK | X_OK, AT_EACCESS) == 0)
    return own;
  const std::string data = userDataHome();
  return data.empty() ? std::string() : data + "/quenlow/oradata";
}

bool isValidSid(std::string_view sid) {
  if (sid.empty() || sid.size() > 30) return false;
  return std::all_of(sid.begin(), sid.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '#';
  });
}

std::unordered_map<std::string, std::string> parseTnsnames(std::string_view text) {
  TokenStream toks(text);
  std::unordered_map<std::string, std::string> sids;
  while (const Token* first = toks.peek(0)) {
    if (first->kind != Tok::Word) {
      toks.skip(1);
      continue;
    }
    // One or more aliases separated by commas, then "=".
    std::vector<std::string> aliases{upperAscii(first->text)};
    size_t j = 1;
    while (toks.peek(j + 1) && toks.peek(j)->kind == Tok::Comma && toks.peek(j + 1)->kind == Tok::Word) {
      aliases.push_back(upperAscii(toks.peek(j + 1)->text));
      j += 2;
    }
    if (!toks.peek(j + 1) || toks.peek(j)->kind != Tok::Equals || toks.peek(j + 1)->kind != Tok::Open) {
      toks.skip(j);
      continue;
    }
    toks.skip(j + 1);
    // The description: walk its parentheses with a stack of parameter names,
    // looking for SID (preferred) or SERVICE_NAME inside CONNECT_DATA.
    std::vector<std::string> keys;
    size_t connectData = 0;  // how many of the open parameters are CONNECT_DATA
    std::string sid, service;
    bool complete = false;
    while (const Token* t = toks.peek(0)) {
      if (t->lineStart && t->kind == Tok::Word) break;  // a new entry: this one is broken
      if (t->kind == Tok::Open) {
        const Token* name = toks.peek(1);
        const Token* equals = toks.peek(2);
        if (name && equals && name->kind == Tok::Word && equals->kind == Tok::Equals) {
          keys.push_back(upperAscii(name->text));
          if (keys.back() == "CONNECT_DATA") ++connectData;
          toks.skip(3);
        } else {
          keys.emplace_back();
          toks.skip(1);
        }
        continue;
      }
      if (t->kind == Tok::Close) {
        if (!keys.empty()) {
          if (keys.back() == "CONNECT_DATA") --connectData;
          keys.pop_back();
        }
        toks.skip(1);
        if (keys.empty()) {
          complete = true;
          break;
        }
        continue;
      }
      if (t->kind == Tok::Word && connectData > 0) {
        if (keys.back() == "SID" && sid.empty()) sid = upperAscii(t->text);
        if (keys.back() == "SERVICE_NAME" && service.empty()) {
          // A service name such as DEMO.WORLD designates the instance DEMO.
          service = upperAscii(t->text.substr(0, t->text.find('.')));
        }
      }
      toks.skip(1);
    }
    if (!complete) continue;
    const std::string& target = sid.empty() ? service : sid;
    if (target.empty()) continue;
    // Of two entries with one name, the first counts.
    for (std::string& alias : aliases) sids.try_emplace(std::move(alias), target);
  }
  return sids;
}

Resolution resolveConnectString(std::string_view connect) {
  const std::string name = trimmed(connect);
  if (name.empty()) {
    std::string sid = upperAscii(envOr("ORACLE_SID", "DEMO"));
    if (!isValidSid(sid)) return {kOraSidUnknown, {}};
    return {0, sid};
  }
  const std::string alias = upperAscii(name);
  for (const std::string& file : tnsnamesFiles()) {
    const std::optional<std::string> sid = parsedFiles().lookUp(file, alias);
    if (!sid) continue;
    if (!isValidSid(*sid)) return {kOraSidUnknown, {}};
    return {0, *sid};
  }
  return {kOraTnsUnresolved, {}};
}

}  // namespace ocisim
