// The millisecond tick counter: monotonic milliseconds cut to 32 bits, so it wraps after about
// 49.7 days as callers that take unsigned differences expect.
#pragma once

#include <cstdint>

namespace zentra {

std::uint32_t GetTickCount();

}  // namespace zentra
