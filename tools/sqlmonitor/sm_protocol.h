// The SQL monitor's wire format and presence marker, shared by the monitor
// program and the client library it installs.
//
// Client and monitor talk over a local socket in frames: a 32-bit big-endian
// body length, then the body, whose first byte is the frame kind.
//   client -> monitor  'R' register: 32-bit process id, then the title (UTF-8)
//   client -> monitor  'L' one trace line (UTF-8)
//   monitor -> client  'A' accepted: the 16-bit category set
//   monitor -> client  'N' refused
//   monitor -> client  'C' the 16-bit category set changed
// The presence marker is a file of this user's runtime folder holding
// TSMMarker; it names the socket, in the same folder, to connect to.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtEndian>
#include <cstdint>

namespace sm {

inline constexpr char kRegister = 'R';
inline constexpr char kLine = 'L';
inline constexpr char kAccepted = 'A';
inline constexpr char kRefused = 'N';
inline constexpr char kCategories = 'C';

// A larger length can only be a broken peer: the connection is dropped.
inline constexpr std::uint32_t kMaxFrame = 16u << 20;

inline constexpr char kMarkerMagic[8] = {'Q', 'N', 'L', 'S', 'M', 'O', 'N', '1'};

struct TSMMarker {
  char magic[8];
  std::int32_t pid;            // the monitor's process
  char server[512];            // full name of its local socket, NUL-terminated
};

inline QByteArray Frame(char kind, const QByteArray& payload = {}) {
  QByteArray frame(4, '\0');
  qToBigEndian<std::uint32_t>(static_cast<std::uint32_t>(payload.size() + 1), frame.data());
  frame.append(kind);
  frame.append(payload);
  return frame;
}

inline QByteArray CategoriesPayload(std::uint16_t categories) {
  QByteArray payload(2, '\0');
  qToBigEndian<std::uint16_t>(categories, payload.data());
  return payload;
}

inline std::uint16_t PayloadCategories(const QByteArray& payload) {
  return payload.size() >= 2 ? qFromBigEndian<std::uint16_t>(payload.constData()) : 0;
}

enum class TakeResult { Frame, Incomplete, Broken };

// Takes the first complete frame off the front of `buffer`.
inline TakeResult TakeFrame(QByteArray& buffer, char& kind, QByteArray& payload) {
  if (buffer.size() < 4) return TakeResult::Incomplete;
  const std::uint32_t length = qFromBigEndian<std::uint32_t>(buffer.constData());
  if (length == 0 || length > kMaxFrame) return TakeResult::Broken;
  if (static_cast<std::uint64_t>(buffer.size()) < 4ull + length) return TakeResult::Incomplete;
  kind = buffer.at(4);
  payload = buffer.mid(5, static_cast<qsizetype>(length) - 1);
  buffer.remove(0, static_cast<qsizetype>(length) + 4);
  return TakeResult::Frame;
}

// Reads the marker at `path` (SMMarkerPath()); false when there is none, or
// it is not this user's own or not a monitor's.
bool ReadMarker(const QString& path, TSMMarker& marker);

}  // namespace sm
