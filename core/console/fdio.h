// Descriptor-level writing shared by the console classes.
#pragma once

#include <cstddef>
#include <string>

namespace zentra::detail {

// Writes all `size` bytes to `fd`, retrying after interruptions and partial writes and waiting
// while a non-blocking descriptor is full. Returns false when the write failed (a closed pipe,
// a full disk, a bad descriptor). Writing into a closed pipe neither raises SIGPIPE to the
// process nor leaves one pending: SIGPIPE is blocked in the calling thread for the write and a
// SIGPIPE it caused is consumed.
bool WriteAll(int fd, const char* data, size_t size);

// Keeps the bytes that WriteAll writes to `fd` after the last line break (or carriage return),
// at most 1 Ki of them: for a terminal, the start of the line the cursor stands on, which a line
// editor draws again as its prompt. One descriptor at a time; -1 stops the tracking. Each call
// starts with an empty line (the caller knows the cursor is at the start of a line).
void TrackLineTail(int fd);
// The kept bytes for `fd` ("" when `fd` is not the tracked descriptor).
std::string LineTail(int fd);

}  // namespace zentra::detail
