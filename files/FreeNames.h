#pragma once

#include "files/FileIo.h"

#include <map>
#include <string>

namespace mendrake {

// The free names of one run that writes many files into one folder, such as
// a card scan: each name's numbers ("NAME (n).ext", NumberedName) go on from
// where the last file of that name was placed, so that n files of one name
// cost about n attempts, not n*n/2, and names taken before the run are passed
// once. A number passed over is not tried again in the run.
class FreeNames {
 public:
  // The first number to try for path.
  int Next(const std::string& path) const;
  // Records that a file took NumberedName(path, n), or that n was passed over.
  void Took(const std::string& path, int n);

  // Places file under the first of NumberedName(path, n), n from Next(path)
  // to kMaxFreeNameNumber, that PendingFile::CommitWithoutReplacing accepts,
  // and returns that name; returns an empty name when path's names have run
  // out, the file still pending. Throws FileError when the folder fails.
  std::string Place(PendingFile& file, const std::string& path);

 private:
  std::map<std::string, int> next_;
};

}  // namespace mendrake
