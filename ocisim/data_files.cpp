// The data-file folder and an instance's data file: where they are, and
// making them safe to open (this user's alone) before SQLite opens them.

#include "ocisim/instance.h"

#include "ocisim/tnsnames.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace ocisim {

namespace {

std::string systemError(int error) { return std::strerror(error); }

// Creates the folders leading to the data-file folder as `mkdir -p` would, and
// the data-file folder itself for this user alone (0700, whatever the umask).
// An existing data-file folder must be a folder of this user; one that others
// may enter, as earlier clients made it, is closed to them.
void prepareDataFolder(const std::string& path) {
  if (path.empty()) throw notAvailable("No folder for the instance's data: neither XDG_DATA_HOME nor HOME is set");
  const auto cannotCreate = [&path](int error) {
    return notAvailable("Cannot create the data folder " + path + ": " + systemError(error));
  };
  for (size_t at = 1; at < path.size(); ++at) {
    if (path[at] != '/') continue;
    const std::string part = path.substr(0, at);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) throw cannotCreate(errno);
  }
  const bool made = mkdir(path.c_str(), 0700) == 0;
  if (!made && errno != EEXIST) throw cannotCreate(errno);
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) throw cannotCreate(errno);
  if (!S_ISDIR(st.st_mode)) throw notAvailable("The data folder " + path + " is not a folder");
  if (st.st_uid != geteuid()) throw notAvailable("The data folder " + path + " belongs to another user");
  if ((made || (st.st_mode & 077) != 0) && (st.st_mode & 07777) != 0700 && chmod(path.c_str(), 0700) != 0)
    throw notAvailable("Cannot close the data folder " + path + " to other users: " + systemError(errno));
}

}  // namespace

std::string instanceFilePath(const std::string& sid) { return oradataDir() + "/" + sid + ".dbf"; }

void prepareDataFile(const std::string& path) {
  prepareDataFolder(oradataDir());
  // Files that exist are judged by their path, never opened here: closing a
  // descriptor of a file drops every lock this process holds on it, those of
  // the SQLite connections it already has open on the instance among them, and
  // another process would then take their files for unused (a last connection
  // checkpoints and removes the write-ahead log under them). The folder is
  // this user's alone, so the file judged is the file SQLite opens.
  const auto judge = [](const std::string& file, const std::string& what) {
    struct stat st {};
    if (lstat(file.c_str(), &st) != 0) {
      if (errno == ENOENT) return false;
      throw notAvailable(what + " cannot be used: " + systemError(errno));
    }
    if (S_ISLNK(st.st_mode)) throw notAvailable(what + " is a symbolic link");
    if (!S_ISREG(st.st_mode)) throw notAvailable(what + " is not a regular file");
    if (st.st_uid != geteuid()) throw notAvailable(what + " belongs to another user");
    if ((st.st_mode & 07777) != 0600 && chmod(file.c_str(), 0600) != 0)
      throw notAvailable("Cannot close the " + what.substr(4) + " to other users: " + systemError(errno));
    return true;
  };
  const std::string main = "The data file " + path;
  if (!judge(path, main)) {
    // The main file is made here, 0600: SQLite gives the -wal, -shm and -journal
    // files it creates beside it the main file's mode, so they come out 0600 too.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) close(fd);  // new: no connection of this process has it open
    else if (errno != EEXIST) throw notAvailable("Cannot open the data file " + path + ": " + systemError(errno));
    if (!judge(path, main)) throw notAvailable("Cannot open the data file " + path + ": " + systemError(ENOENT));
  }
  // Those files as left by earlier clients: this user's regular files, closed to others.
  for (const char* suffix : {"-wal", "-shm", "-journal"}) {
    const std::string companion = path + suffix;
    try {
      judge(companion, "The file " + companion + " beside the data file");
    } catch (const OraError& e) {
      if (e.detail.find("symbolic link") != std::string::npos || e.detail.find("cannot be used") != std::string::npos)
        throw;
      throw notAvailable("The file " + companion + " beside the data file is not a regular file of this user");
    }
  }
}

}  // namespace ocisim
