#include "tests/support/PhotoFile.h"

#include "tests/support/JpegMaker.h"
#include "tests/support/RawEncoder.h"

namespace mendrake::testing {

PhotoFile MakePhotoFile(const PhotoFileOptions& options) {
  PhotoFile photo;
  photo.image = SyntheticPhoto(options.width, options.height, options.lowBits ? 12 : 10, options.seed);
  CameraFileOptions camera;
  camera.bigEndian = options.bigEndian;
  camera.model = options.model;
  camera.width = static_cast<std::uint16_t>(options.width);
  camera.height = static_cast<std::uint16_t>(options.height);
  camera.rawData = EncodeCanonRaw(photo.image, options.tableSet);
  camera.decoderTableSet = static_cast<int>(options.tableSet);
  camera.hasThumbnail = options.hasThumbnail;
  camera.whiteBalance = options.whiteBalance;
  camera.fileNumber = options.fileNumber;
  camera.originalFileName = options.originalFileName;
  camera.thumbnailFileName = options.thumbnailFileName;
  camera.timeStamp = options.timeStamp;
  if (options.hasThumbnail) {
    camera.thumbnail = options.thumbnail.empty() ? MakeJpeg(options.thumbnailWidth, options.thumbnailHeight)
                                                 : options.thumbnail;
  }
  photo.bytes = MakeCameraFile(camera);
  // The raw data record is the root heap's first, right after the header.
  photo.rawDataStart = 26;
  photo.rawDataEnd = photo.rawDataStart + camera.rawData.size();
  photo.streamStart = photo.rawDataStart + CanonRawStreamOffset(photo.image);
  return photo;
}

}  // namespace mendrake::testing
