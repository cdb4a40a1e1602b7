// crwmake: writes a camera-like CRW file of a chosen size, optionally with a
// JPEG thumbnail and junk after its true end, or with --photo a camera's file
// whose raw data is a synthetic photo compressed as the camera does, for
// benchmarks, screenshots, fuzz seeds and the comparison with other readers.
#include "tests/support/CrwBuilder.h"
#include "tests/support/PhotoFile.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

namespace {

using mendrake::testing::Bytes;
using mendrake::testing::CameraFileOptions;
using mendrake::testing::JunkKind;

int Usage() {
  std::fputs(
      "usage: crwmake [options] OUTPUT\n"
      "  --size N          size of the CRW file before any junk (default 7MiB);\n"
      "                    the raw data record grows to reach it\n"
      "  --thumbnail JPEG  use the bytes of this file as the thumbnail record\n"
      "  --big-endian      write a Motorola (MM) file instead of Intel (II)\n"
      "  --junk KIND       random, zeros, ones or copy (the file's own beginning)\n"
      "  --junk-size N     bytes of junk to append (default 0)\n"
      "  --seed N          seed of random junk (default 1)\n"
      "  --make TEXT, --model TEXT, --white-balance N\n"
      "  --photo           real compressed raw data of a synthetic photo (the size\n"
      "                    follows from the sensor, --size does not apply; without\n"
      "                    --thumbnail, a small JPEG made for it)\n"
      "  --sensor WxH      its sensor (default 3152x2068, an EOS 300D's)\n"
      "  --no-low-bits     10-bit values without the low bits before the stream\n"
      "  --table N         the decoder table set, 0 to 2 (default 0)\n"
      "  --photo-seed N    which photo (default 1)\n"
      "  --no-thumbnail    leave the thumbnail record out\n"
      "Sizes take a suffix: K, M, G (powers of 1000) or KiB, MiB, GiB.\n",
      stderr);
  return 2;
}

bool ParseSize(std::string_view text, std::uint64_t& value) {
  std::size_t used = 0;
  unsigned long long number = 0;
  try {
    number = std::stoull(std::string(text), &used, 10);
  } catch (const std::exception&) {
    return false;
  }
  const std::string_view suffix = text.substr(used);
  std::uint64_t unit = 1;
  if (suffix == "K") unit = 1000;
  else if (suffix == "M") unit = 1000 * 1000;
  else if (suffix == "G") unit = 1000 * 1000 * 1000;
  else if (suffix == "KiB") unit = 1024;
  else if (suffix == "MiB") unit = 1024 * 1024;
  else if (suffix == "GiB") unit = 1024 * 1024 * 1024;
  else if (!suffix.empty()) return false;
  value = number * unit;
  return true;
}

bool ParseJunkKind(std::string_view text, JunkKind& kind) {
  if (text == "random") kind = JunkKind::kRandom;
  else if (text == "zeros") kind = JunkKind::kZeros;
  else if (text == "ones") kind = JunkKind::kOnes;
  else if (text == "copy") kind = JunkKind::kCopyOfStart;
  else return false;
  return true;
}

// The raw data record is stored first and the layout has no padding, so the
// file grows byte for byte with it.
bool FitRawDataToSize(CameraFileOptions& options, std::uint64_t targetSize) {
  options.rawDataSize = 1;
  const std::uint64_t overhead = mendrake::testing::MakeCameraFile(options).size() - 1;
  if (targetSize <= overhead) {
    std::fprintf(stderr, "crwmake: a file with these records needs more than %llu bytes\n",
                 static_cast<unsigned long long>(overhead));
    return false;
  }
  options.rawDataSize = targetSize - overhead;
  return true;
}

}  // namespace

bool ParseSensor(std::string_view text, mendrake::testing::PhotoFileOptions& photo) {
  const std::size_t x = text.find('x');
  if (x == std::string_view::npos) return false;
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  if (!ParseSize(text.substr(0, x), width) || !ParseSize(text.substr(x + 1), height)) return false;
  if (width == 0 || height == 0 || width > 0xFFFF || height > 0xFFFF) return false;
  photo.width = static_cast<std::uint32_t>(width);
  photo.height = static_cast<std::uint32_t>(height);
  return true;
}

int main(int argc, char** argv) {
  CameraFileOptions options;
  mendrake::testing::PhotoFileOptions photo;
  bool wantPhoto = false;
  std::uint64_t size = 7 * 1024 * 1024;
  std::uint64_t junkSize = 0;
  std::uint64_t seed = 1;
  JunkKind junkKind = JunkKind::kRandom;
  std::string output;

  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--big-endian") {
      options.bigEndian = true;
    } else if (arg == "--size" && hasValue) {
      if (!ParseSize(argv[++i], size)) return Usage();
    } else if (arg == "--junk-size" && hasValue) {
      if (!ParseSize(argv[++i], junkSize)) return Usage();
    } else if (arg == "--seed" && hasValue) {
      if (!ParseSize(argv[++i], seed)) return Usage();
    } else if (arg == "--junk" && hasValue) {
      if (!ParseJunkKind(argv[++i], junkKind)) return Usage();
    } else if (arg == "--thumbnail" && hasValue) {
      try {
        options.thumbnail = mendrake::testing::ReadFile(argv[++i]);
      } catch (const std::exception& error) {
        std::fprintf(stderr, "crwmake: %s\n", error.what());
        return 1;
      }
    } else if (arg == "--photo") {
      wantPhoto = true;
    } else if (arg == "--sensor" && hasValue) {
      if (!ParseSensor(argv[++i], photo)) return Usage();
    } else if (arg == "--no-low-bits") {
      photo.lowBits = false;
    } else if (arg == "--table" && hasValue) {
      std::uint64_t table = 0;
      if (!ParseSize(argv[++i], table) || table > 2) return Usage();
      photo.tableSet = static_cast<std::uint32_t>(table);
    } else if (arg == "--photo-seed" && hasValue) {
      std::uint64_t photoSeed = 0;
      if (!ParseSize(argv[++i], photoSeed)) return Usage();
      photo.seed = static_cast<std::uint32_t>(photoSeed);
    } else if (arg == "--no-thumbnail") {
      photo.hasThumbnail = false;
      options.hasThumbnail = false;
    } else if (arg == "--make" && hasValue) {
      options.make = argv[++i];
    } else if (arg == "--model" && hasValue) {
      options.model = argv[++i];
    } else if (arg == "--white-balance" && hasValue) {
      options.whiteBalance = static_cast<std::uint16_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (!arg.starts_with("--") && output.empty()) {
      output = arg;
    } else {
      return Usage();
    }
  }
  if (output.empty()) return Usage();
  if (wantPhoto) {
    photo.bigEndian = options.bigEndian;
    photo.whiteBalance = options.whiteBalance;
    if (options.model != CameraFileOptions{}.model) photo.model = options.model;
    if (options.thumbnail != CameraFileOptions{}.thumbnail) photo.thumbnail = options.thumbnail;
    try {
      Bytes file = mendrake::testing::MakePhotoFile(photo).bytes;
      if (junkSize > 0) mendrake::testing::AppendJunk(file, junkKind, junkSize, static_cast<std::uint32_t>(seed));
      mendrake::testing::WriteFile(output, file);
    } catch (const std::exception& error) {
      std::fprintf(stderr, "crwmake: %s\n", error.what());
      return 1;
    }
    return 0;
  }
  // Offsets inside a CRW file are 32-bit.
  if (size + junkSize > 0x7FFFFFFFu) {
    std::fputs("crwmake: the file would be 2 GiB or larger\n", stderr);
    return 1;
  }
  if (!FitRawDataToSize(options, size)) return 1;

  try {
    Bytes file = mendrake::testing::MakeCameraFile(options);
    if (junkSize > 0) mendrake::testing::AppendJunk(file, junkKind, junkSize, static_cast<std::uint32_t>(seed));
    mendrake::testing::WriteFile(output, file);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "crwmake: %s\n", error.what());
    return 1;
  }
  return 0;
}
