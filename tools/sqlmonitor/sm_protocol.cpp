// The SQL monitor's wire format and presence marker, shared by the monitor and
// its client library.
#include "sm_protocol.h"

#include <unistd.h>

#include <cstring>

#include "oralib/O_SMCli_intf.h"

namespace sm {

bool ReadMarker(const QString& path, TSMMarker& marker) {
  const int fd = SMOpenOwnMarker(path);
  if (fd < 0) return false;
  // Read, not mapped: a file that shrinks under a mapping would end the program.
  const bool ok = pread(fd, &marker, sizeof marker, 0) == static_cast<ssize_t>(sizeof marker);
  close(fd);
  marker.server[sizeof marker.server - 1] = '\0';
  return ok && std::memcmp(marker.magic, kMarkerMagic, sizeof kMarkerMagic) == 0;
}

}  // namespace sm
