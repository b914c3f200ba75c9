// The framework's stream: read, write and seek over a zero-based position.
#pragma once

#include <cstdint>

enum TSeekOrigin : int { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

class TStream {
 public:
  virtual ~TStream() = default;
  // Each returns the number of bytes moved.
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  // Moves the position and returns it; positions are not clamped.
  virtual int32_t Seek(int32_t offset, int origin) = 0;
  // The size, found by seeking to the end and back.
  int32_t Size() {
    const int32_t position = Seek(0, soFromCurrent);
    const int32_t size = Seek(0, soFromEnd);
    Seek(position, soFromBeginning);
    return size;
  }
};
