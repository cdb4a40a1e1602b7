#pragma once

#include "tests/support/CrwBuilder.h"

#include <string>
#include <utility>
#include <vector>

namespace mendrake::testing {

// A FAT16 card image made by mkfs.vfat and filled by mtools, never mounted.
// mtools gives a file the first free clusters, as a camera does, so a file
// written after a deletion fills the hole and continues after the files that
// follow it.
class FatCard {
 public:
  // An image of mib MiB with clusters of sectorsPerCluster sectors at path;
  // files to copy are staged in scratchFolder.
  FatCard(std::string path, std::string scratchFolder, int mib, int sectorsPerCluster);

  void Write(const std::string& name, const Bytes& bytes);
  void Delete(const std::string& name);
  // mkfs.vfat over the card again: empty tables, the clusters left as they are.
  void QuickFormat();
  // The runs of clusters (first, last) that the FAT gives the file.
  std::vector<std::pair<int, int>> Runs(const std::string& name) const;
  // Where a cluster begins in the image.
  std::int64_t ClusterStart(int cluster) const;
  std::int64_t ClusterSize() const;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::string scratch_;
  int sectorsPerCluster_;
};

}  // namespace mendrake::testing
