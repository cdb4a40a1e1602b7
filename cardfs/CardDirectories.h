#pragma once

#include "cardfs/BootSector.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace mendrake {

// The cluster number that a directory entry gives the file whose first
// cluster begins at position; none where no cluster of the volume begins
// there, and on exFAT, whose entries are not read.
std::optional<std::uint32_t> FirstClusterAt(const FatVolume& volume, std::int64_t position);

// One file a FAT directory names: its 32-byte entry (and the long-name
// entries before it, where they survive), live or deleted.
struct NamedFile {
  std::string name;             // the long name where it survives whole, else the short one ("CRW_0015.CRW")
  bool deleted = false;         // first byte 0xE5
  bool firstLetterLost = false; // deleted without a long name: the short name's first letter is gone ("?RW_0015.CRW")
  std::uint32_t firstCluster = 0;
  std::uint32_t size = 0;
  std::int64_t entryAt = 0;     // where the entry lies on the card
};

// The files that the card's FAT directories name, gathered from the sectors
// as the card streams past. Directory clusters lie in the data area (the
// root directory of FAT12 and FAT16 before it), and a quick format leaves a
// subdirectory's clusters as they were, so even a formatted card still says
// each photo's name, first cluster and size. A sector is taken for a
// directory's when each of its sixteen entries reads as one (free, deleted,
// a long-name part or a short entry of legal characters and attributes) and
// one of them names a file: random bytes and raw data pass that with a
// chance far below one in 2^100. exFAT's entries have another form and are
// not read.
class CardDirectories {
 public:
  // Entries kept: a 4 GB card's photos and their THMs are some 1,200.
  static constexpr std::size_t kMaxNamedFiles = 65536;

  void Observe(const std::uint8_t* bytes, std::int64_t start, std::int64_t length);

  // The file whose first cluster is cluster, the live entry before a deleted one.
  const NamedFile* ByFirstCluster(std::uint32_t cluster) const;
  // Every entry that names cluster as its first, in the order met: a camera
  // that gives a deleted photo's clusters to a new one leaves both entries,
  // and only together do they say what the cluster may hold.
  std::vector<NamedFile> AllByFirstCluster(std::uint32_t cluster) const;
  // Every file named, in the order their entries lie on the card.
  std::vector<NamedFile> Files() const;
  // The card position of the first sector in [from, to) that reads as a
  // directory's, or -1: no photo holds one.
  std::int64_t DirectorySectorWithin(std::int64_t from, std::int64_t to) const;

 private:
  void ReadSector(const std::uint8_t* sector, std::int64_t at);

  std::map<std::uint32_t, NamedFile> byCluster_;
  // The entries besides the one byCluster_ keeps (each entry is in one of the two).
  std::multimap<std::uint32_t, NamedFile> othersByCluster_;
  std::set<std::int64_t> directorySectors_;  // where sectors that name files lie
  // Long-name parts met before the short entry they belong to, carried
  // from one sector to the next when those follow on.
  std::vector<std::pair<std::uint8_t, std::u16string>> longParts_;
  std::int64_t nextSector_ = -1;
};

}  // namespace mendrake
