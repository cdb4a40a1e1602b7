// What both systems' halves share: taking over a descriptor opened
// elsewhere; each half opens a device and learns its size its own way.
#include "devices/DeviceReader.h"

#include "files/FileError.h"

namespace mendrake {

DeviceReader::DeviceReader(int fd, const std::string& path) : fd_(fd) {
  if (fd_ < 0) throw FileError(path, "cannot be read: no descriptor was given");
  Adopt(path);
}

}  // namespace mendrake
