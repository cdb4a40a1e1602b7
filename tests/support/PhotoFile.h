#pragma once

#include "tests/support/CrwBuilder.h"
#include "tests/support/SyntheticPhoto.h"

#include <cstdint>
#include <optional>
#include <string>

namespace mendrake::testing {

// A camera's CRW file whose raw data record holds a synthetic photo
// compressed as the camera would, with its sensor and decoder-table records.
// By default an EOS 300D's: 3,152 x 2,068 values with low bits (about 6 MB);
// tests may give small sensors.
struct PhotoFileOptions {
  bool bigEndian = false;
  std::string model = "Canon EOS 300D DIGITAL";
  std::uint32_t width = 3152;
  std::uint32_t height = 2068;
  bool lowBits = true;  // 12-bit values whose low two bits lead the record
  std::uint32_t tableSet = 0;
  std::uint32_t seed = 1;
  std::uint16_t whiteBalance = 1;
  bool hasThumbnail = true;  // a real JPEG thumbnail: these bytes, or one made of this size
  Bytes thumbnail{};
  int thumbnailWidth = 160;
  int thumbnailHeight = 120;
  // The records that say which photo it is, as CameraFileOptions has them.
  std::uint32_t fileNumber = 1;
  std::string originalFileName;
  std::string thumbnailFileName;
  std::optional<std::uint32_t> timeStamp;
};

struct PhotoFile {
  Bytes bytes;
  SensorImage image;  // the values encoded
  std::size_t streamStart = 0;  // file offset of the compressed stream
  std::size_t rawDataStart = 0;  // file offset of the raw data record
  std::size_t rawDataEnd = 0;
};

PhotoFile MakePhotoFile(const PhotoFileOptions& options = {});

}  // namespace mendrake::testing
