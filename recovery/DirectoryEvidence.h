#pragma once

#include "analysis/CrwRecords.h"
#include "cardfs/BootSector.h"
#include "cardfs/CardDirectories.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mendrake {

// What the card's directory entries say of a CRW file read as beginning at
// a cluster start, with a size (and, once its bytes are put together, its
// records). An entry gives the size the camera wrote; the photo's records
// give its name, which an entry of that size must not contradict.
struct DirectoryWord {
  // No CRW entry names the file's first cluster as its own, or every one
  // that does contradicts the reading; fault says which entries and why.
  std::string fault;
  // The size is the card's, not the arithmetic's alone: every entry that
  // names the first cluster gives it, or, where a camera gave a deleted
  // photo's clusters to a later one and the entries disagree, the entry it
  // wrote last gives it and the photo's records give that entry's number.
  bool fixesSize = false;
  // Without records: every entry gives the size, or the one written last
  // does, which the records, once read, must bear out.
  bool mayFixSize = false;
  bool named = false;  // some CRW entry names the first cluster
};

// The directories seen so far, as the card streams past: a decision asks
// what is known when it is taken.
class DirectoryEvidence {
 public:
  explicit DirectoryEvidence(const CardDirectories& directories) : directories_(directories) {}
  // Clusters are numbered once the boot sector is known; exFAT's entries are not read.
  void SetVolume(const FatVolume& volume) { volume_ = volume; }

  // The file of size bytes beginning at the card position start; records,
  // when given, are its own.
  DirectoryWord Weigh(std::int64_t start, std::int64_t size, const CrwRecords* records) const;
  // The sizes that the CRW entries naming the cluster that begins at start
  // give, in the order met; none where no entry names it.
  std::vector<std::int64_t> SizesAt(std::int64_t start) const;
  // Where a sector of a directory lies in [from, to), or -1.
  std::int64_t DirectorySectorWithin(std::int64_t from, std::int64_t to) const {
    return directories_.DirectorySectorWithin(from, to);
  }

 private:
  const CardDirectories& directories_;
  std::optional<FatVolume> volume_;
};

// "8,638,374": sizes and positions as the log gives them.
std::string GroupedDigits(std::int64_t value);

}  // namespace mendrake
