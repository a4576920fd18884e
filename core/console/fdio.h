// Descriptor-level writing shared by the console classes.
#pragma once

#include <cstddef>

namespace zentra::detail {

// Writes all `size` bytes to `fd`, retrying after interruptions and partial writes and waiting
// while a non-blocking descriptor is full. Returns false when the write failed (a closed pipe,
// a full disk, a bad descriptor). Writing into a closed pipe neither raises SIGPIPE to the
// process nor leaves one pending: SIGPIPE is blocked in the calling thread for the write and a
// SIGPIPE it caused is consumed.
bool WriteAll(int fd, const char* data, size_t size);

}  // namespace zentra::detail
