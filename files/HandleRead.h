#pragma once

#include <cstdint>

namespace mendrake {

// Windows: reads up to count bytes at offset from an open file or device
// handle, without moving its file pointer; the count read, 0 at the end, -1
// on an error. One read is at most 1 GiB, the most a single call may ask.
std::int64_t ReadHandleAt(void* handle, std::int64_t offset, std::uint8_t* buffer, std::int64_t count);

}  // namespace mendrake
