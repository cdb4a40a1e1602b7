#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace mendrake {

// What a file's directories say about the photo it holds, each record as the
// first walk from the root meets it. Names are as stored, up to their first
// zero byte; nothing here is checked to be a usable file name.
struct CrwRecords {
  std::uint32_t fileNumber = 0;  // 0: no file number record
  std::string originalFileName;
  std::string thumbnailFileName;
  // The camera's clock when the photo was taken: seconds since 1970 counted
  // as if its wall clock were UTC (the camera records no zone). None when the
  // record is missing or holds no plausible time (a clock never set reads 0).
  std::optional<std::int64_t> shotTime;
  // The JPEG record (CrwTag::kJpegThumbnail: the camera's full-size JPEG of
  // the photo), from the file's start; size 0 when there is none inside the file.
  std::uint32_t jpegStart = 0;
  std::uint32_t jpegSize = 0;
};

// Visits the heaps of the CRW file in bytes from its root (after the header of
// headerLength bytes) with VisitCiffEntries (CiffHeap.h), never outside them.
// A file whose root pointer is lost gives empty records.
CrwRecords ReadCrwRecords(std::span<const std::uint8_t> file, bool bigEndian, std::uint32_t headerLength);

}  // namespace mendrake
