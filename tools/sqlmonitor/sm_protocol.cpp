#include "sm_protocol.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cstring>

namespace sm {

bool ReadMarker(const QString& name, TSMMarker& marker) {
  const int fd = shm_open(QFile::encodeName(name).constData(), O_RDONLY, 0);
  if (fd < 0) return false;
  struct stat info {};
  bool ok = fstat(fd, &info) == 0 && info.st_size >= static_cast<off_t>(sizeof marker);
  if (ok) {
    void* view = mmap(nullptr, sizeof marker, PROT_READ, MAP_SHARED, fd, 0);
    ok = view != MAP_FAILED;
    if (ok) {
      std::memcpy(&marker, view, sizeof marker);
      munmap(view, sizeof marker);
    }
  }
  close(fd);
  marker.server[sizeof marker.server - 1] = '\0';
  return ok && std::memcmp(marker.magic, kMarkerMagic, sizeof kMarkerMagic) == 0;
}

}  // namespace sm
