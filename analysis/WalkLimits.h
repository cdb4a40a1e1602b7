#pragma once

#include <cstddef>
#include <cstdint>

namespace mendrake {

// Bounds on the work that one file can cause, against crafted and random input.
// A walk that would pass a bound stops there, like any other implausible value;
// genuine files never come near any of them.
struct WalkLimits {
  // Sub-heap nesting below the root. Camera files nest three deep.
  static constexpr int kMaxHeapDepth = 8;
  // Sub-heaps entered during one walk of the root heap. Camera files hold about
  // ten; a directory of 256 entries naming one sub-heap, repeated a few levels
  // down, would otherwise mean 256^depth walks.
  static constexpr int kMaxSubHeapsPerRootWalk = 64;
  // Directory entries visited during one walk of the root heap. A camera file's
  // whole walk visits about fifty (an EOS DIGITAL REBEL's: 49 in seven heaps).
  // Without it the sub-heap bound above still lets one walk visit 65 x 256
  // entries, and a file whose every fourth candidate leads to another directory
  // naming such a fan-out made a 6.6 KB file walk four million entries.
  static constexpr int kMaxEntriesPerRootWalk = 1024;
  // Directory entries visited over the whole size search of one file. A camera
  // file visits about fifty per walk that passes the directory checks; random
  // junk lets at most one candidate in five hundred pass them (in a 2 GiB
  // file; far fewer in smaller ones), for a few entries each. The count grows
  // with the square of the junk's length (measured: 16 thousand after 64 MiB,
  // 5.5 million after 1 GiB, 26 million after 1.9 GiB), so random junk reaches
  // this bound, and a genuine file before it is no longer found, only past
  // about 2.7 GiB. It caps a crafted file at about a second of walking.
  static constexpr std::int64_t kMaxEntriesPerFile = std::int64_t{1} << 26;
  // Bytes scanned for the terminating zero of make and model strings over one
  // file. Camera strings are a few dozen bytes; a record in junk without a zero
  // could otherwise make every walk read to the end of the image.
  static constexpr std::int64_t kMaxNameBytesPerFile = std::int64_t{1} << 30;
  // Longest make or model shown in the log; the rest is elided.
  static constexpr std::size_t kMaxNameShown = 1024;
  // Lines that the walks of one file may add to the log.
  static constexpr long kMaxLogLinesPerFile = 10000;
  // Distinct root directories whose walk is remembered and replayed when a later
  // candidate leads to the same directory (a tail of zeros leads every
  // candidate to one), and the lines one remembered walk may hold.
  static constexpr std::size_t kRememberedWalks = 16;
  static constexpr std::size_t kMaxRememberedLines = 256;
};

}  // namespace mendrake
