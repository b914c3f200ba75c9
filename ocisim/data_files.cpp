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
  // The main file is made here, 0600: SQLite gives the -wal, -shm and -journal
  // files it creates beside it the main file's mode, so they come out 0600 too.
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
  if (fd < 0) {
    if (errno == ELOOP) throw notAvailable("The data file " + path + " is a symbolic link");
    throw notAvailable("Cannot open the data file " + path + ": " + systemError(errno));
  }
  struct stat st {};
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const bool ours = regular && st.st_uid == geteuid();
  const int modeError = ours && (st.st_mode & 07777) != 0600 && fchmod(fd, 0600) != 0 ? errno : 0;
  close(fd);
  if (!regular) throw notAvailable("The data file " + path + " is not a regular file");
  if (!ours) throw notAvailable("The data file " + path + " belongs to another user");
  if (modeError != 0)
    throw notAvailable("Cannot close the data file " + path + " to other users: " + systemError(modeError));
  // Those files as left by earlier clients: this user's regular files, closed to others.
  for (const char* suffix : {"-wal", "-shm", "-journal"}) {
    const std::string companion = path + suffix;
    const int cfd = open(companion.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (cfd < 0) {
      if (errno == ENOENT) continue;
      if (errno == ELOOP) throw notAvailable("The file " + companion + " beside the data file is a symbolic link");
      throw notAvailable("The file " + companion + " beside the data file cannot be used: " + systemError(errno));
    }
    struct stat cst {};
    const bool fine = fstat(cfd, &cst) == 0 && S_ISREG(cst.st_mode) && cst.st_uid == geteuid() &&
                      ((cst.st_mode & 077) == 0 || fchmod(cfd, 0600) == 0);
    close(cfd);
    if (!fine) throw notAvailable("The file " + companion + " beside the data file is not a regular file of this user");
  }
}

}  // namespace ocisim
