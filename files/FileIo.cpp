// The parts of the file layer that only build names and try them: the same
// on every system. The system calls are in FileIoPosix.cpp and
// FileIoWindows.cpp.
#include "files/FileIo.h"

#include "files/FileError.h"
#include "files/FileTimes.h"

namespace mendrake {

std::string PendingFile::CommitUnderFreeName() {
  for (int n = 1; n <= kMaxFreeNameNumber; ++n) {
    const std::string name = NumberedName(path_, n);
    if (CommitWithoutReplacing(name)) return name;
  }
  throw FileError(path_,
                  "cannot create the file: no free name up to \"" + NumberedName(path_, kMaxFreeNameNumber) + "\"");
}

bool PendingFile::SetModificationTime(std::int64_t systemSeconds) {
  return mendrake::SetModificationTime(file_.get(), systemSeconds);
}

std::string NumberedName(const std::string& path, int n) {
  if (n <= 1) return path;
  const std::size_t nameStart = FileNameStart(path);
  std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot <= nameStart) dot = path.size();
  return path.substr(0, dot) + " (" + std::to_string(n) + ")" + path.substr(dot);
}

}  // namespace mendrake
