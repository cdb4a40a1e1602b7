#pragma once

#include "tests/support/CrwBuilder.h"

#include <string>
#include <utility>
#include <vector>

namespace mendrake::testing {

// A memory card image as a camera leaves it: a FAT file system (made by
// mkfs.vfat, files copied in with mtools under DCIM/100CANON), optionally
// inside a partition of an MBR partition table as cards come from the shop.
struct CardImageOptions {
  std::string label = "EOS_DIGITAL";
  std::size_t mebibytes = 16;
  bool partitioned = false;
  std::vector<std::pair<std::string, Bytes>> files;  // name in DCIM/100CANON, bytes
  // The files are deleted again (mdel), as a computer deletes them: their
  // bytes stay, the FAT no longer lists them.
  bool deleted = false;
  // The card is formatted again after the files were copied (mkfs.vfat, a
  // quick format): new tables and an empty root directory; the data area,
  // the DCIM folders' clusters among it, stays as it was.
  bool formatted = false;
};

// Writes the image to path; false (with why) when a tool failed or is missing.
bool MakeFatCardImage(const std::string& path, const CardImageOptions& options, std::string* why = nullptr);

// An empty ext4 file system image of the size (mkfs.ext4).
bool MakeExt4Image(const std::string& path, std::size_t mebibytes);

}  // namespace mendrake::testing
