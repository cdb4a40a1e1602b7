#pragma once

#include "files/FileIdentity.h"

#include <cstdint>
#include <string>

namespace mendrake {

// File access for the file image and the writers, the same on every system:
// names are UTF-8, and a descriptor is a C runtime file descriptor (on
// Windows one that stands for a file handle). Every failure throws FileError
// naming the file and the system's reason.

// The largest file OpenForReading accepts: a file image holds its size and
// positions as signed 32-bit values.
inline constexpr std::int64_t kMaxReadableSize = 0x7FFFFFFF;

// Closes a descriptor on every way out of a scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor();
  Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor& operator=(Descriptor&&) = delete;

  int get() const { return fd_; }
  // Closing can report a late write failure (network and removable media).
  int Close();

 private:
  int fd_;
};

// A regular file opened for reading, with its size and identity.
struct OpenSource {
  Descriptor file;
  std::int64_t size;
  FileIdentity identity;
};

// Opens an existing regular file smaller than 2 GiB, the most a file image
// holds. A FIFO, socket or device is refused at once: the open itself does
// not wait for a writer or a carrier.
OpenSource OpenForReading(const std::string& path);

// Reads exactly count bytes from the descriptor's current offset.
void ReadAll(int fd, std::uint8_t* buffer, std::int64_t count, const std::string& path);

// The highest n of "NAME (n).ext" tried for a free name: bounded so that a
// folder that refuses every name ends with an error.
inline constexpr int kMaxFreeNameNumber = 10000;

// A new file that appears under its name only when it is complete. It is
// written as an unnamed file in the target's folder (so that placing it stays
// on one file system) and linked into place; where the file system has no
// unnamed files (FAT cards), under a short temporary name of fixed length in
// that folder, renamed into place. Either way a legal target name of any
// length can be written. Destroyed before it is placed, it leaves nothing
// behind, and any earlier file of the target's name intact.
class PendingFile {
 public:
  // kNamed takes the way of file systems without unnamed files on any file
  // system, so that it can be tried where the others are.
  enum class Temporary { kUnnamedWherePossible, kNamed };

  explicit PendingFile(std::string path, Temporary temporary = Temporary::kUnnamedWherePossible);
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  void Write(const std::uint8_t* bytes, std::int64_t count);
  // Appends count bytes of source from offset on. The kernel copies them
  // without a pass through this process where the file systems allow it.
  void CopyFrom(int sourceFd, const std::string& sourcePath, std::int64_t offset, std::int64_t count);

  // Gives the file the modification time systemSeconds (see FileTimes.h);
  // call it after the last write. False when the file system refuses.
  bool SetModificationTime(std::int64_t systemSeconds);

  // Places the file under its name, replacing a file of that name.
  void Commit();
  // Places the file under name without replacing anything, as the file
  // system judges names (letter case on FAT, Unicode forms elsewhere). True
  // when it is placed, or when a regular file of that name already holds
  // exactly these bytes (that file is kept); false when the name is taken by
  // something else, and the file stays pending.
  bool CommitWithoutReplacing(const std::string& name);
  // Places the file under the first of its name, "NAME (2).ext",
  // "NAME (3).ext", ... up to kMaxFreeNameNumber that CommitWithoutReplacing
  // accepts, and returns it. Throws FileError when none does.
  std::string CommitUnderFreeName();

  const std::string& path() const { return path_; }

 private:
  enum class Placement { kPlaced, kNameTaken };
  Placement LinkWithoutReplacing(const std::string& name);
  Placement RenameWithoutReplacing(const std::string& name);
  bool HoldsSameBytes(const std::string& name);
  void CloseBeforePlacing();
  void CopyThroughBuffer(int sourceFd, const std::string& sourcePath, std::int64_t offset, std::int64_t count);
  [[noreturn]] void ThrowWriteError(int error) const;

  std::string path_;
  std::string folder_;
  // The temporary name while the file has one; empty for an unnamed file and
  // once the file is placed.
  std::string temporary_;
  Descriptor file_;
  bool placed_ = false;
};

// Where the file-name part of path begins: after its last '/' (and on Windows
// its last backslash or drive colon).
std::size_t FileNameStart(const std::string& path);

// The name with " (n)" inserted before the extension of its file-name part:
// IMG_0042.jpg gives "IMG_0042 (2).jpg", IMG_0042.CRW_repaired.CRW gives
// "IMG_0042.CRW_repaired (2).CRW", scan gives "scan (2)". n 1 gives the name.
std::string NumberedName(const std::string& path, int n);

// True when nothing is found under path, or a regular file there holds
// exactly count bytes equal to bytes. A hint for choosing names, not a
// guarantee: the commit that follows decides.
bool NameIsFreeOrHolds(const std::string& path, const std::uint8_t* bytes, std::int64_t count);

// True when both names lead to one existing file (through links, or letter
// case on file systems that ignore it); false when either does not exist.
bool NameTheSameFile(const std::string& first, const std::string& second);

}  // namespace mendrake
