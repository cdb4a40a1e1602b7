#pragma once

#include <cstdint>

namespace mendrake {

// Which file a name led to when it was read, and that file's size and
// modification time to the nanosecond: a file replaced, or rewritten in place
// at the same size, since then no longer has the same identity.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = -1;
  std::int64_t modifiedSeconds = 0;
  std::int64_t modifiedNanoseconds = 0;

  bool operator==(const FileIdentity&) const = default;
};

}  // namespace mendrake
