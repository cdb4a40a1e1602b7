// make_fuzz_seeds CORPUS: writes the made seed inputs of the fuzz targets into
// CORPUS/analysis (CRW files from the test builder), CORPUS/card (card images
// holding them), CORPUS/preview (JPEGs from the test maker) and
// CORPUS/output_names (paths), CORPUS/raw_data (CRW files with compressed
// raw data of small synthetic photos) and CORPUS/camera_card (the options of
// cards a camera filled). Small on purpose: libFuzzer mutates them byte by byte.
#include "tests/support/CrwBuilder.h"
#include "tests/support/HostileCards.h"
#include "tests/support/JpegMaker.h"
#include "tests/support/PhotoFile.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

using namespace mendrake::testing;

constexpr std::size_t kSmallRaw = 48;

Bytes SmallCamera(bool bigEndian) {
  CameraFileOptions options;
  options.bigEndian = bigEndian;
  options.rawDataSize = kSmallRaw;
  options.thumbnail = Filler(32, 0xD8);
  return MakeCameraFile(options);
}

// A sub-heap entry whose data is the directory's own heap: each level leads back to the root.
Bytes SelfNested() {
  CrwFile file;
  file.root.Record(0x080A, MakeModelRecord("Canon", "EOS")).Entry(0x300A, 0, 0);
  Bytes bytes = file.Build();
  return bytes;
}

// A directory of many entries naming the same small sub-heap.
Bytes FanOut(int width) {
  HeapBuilder leaf;
  leaf.Record(0x1835, Filler(4, 0x44)).Record(0x2005, Filler(4, 0x5A));
  HeapBuilder root;
  root.SubHeap(0x300A, leaf);
  for (int i = 1; i < width; ++i) root.Entry(0x300A, 0, 0);
  CrwFile file;
  file.root = root;
  return file.Build();
}

void Write(const std::string& dir, const std::string& name, const Bytes& bytes) {
  WriteFile(dir + "/" + name, bytes);
  std::printf("%s/%s: %zu bytes\n", dir.c_str(), name.c_str(), bytes.size());
}

void WriteAnalysisSeeds(const std::string& dir) {
  for (const bool bigEndian : {false, true}) {
    const std::string order = bigEndian ? "mm" : "ii";
    const Bytes intact = SmallCamera(bigEndian);
    Write(dir, "camera-" + order, intact);
    Bytes junk = intact;
    AppendJunk(junk, JunkKind::kRandom, 64, 7);
    Write(dir, "camera-" + order + "-random-tail", junk);
    junk = intact;
    AppendJunk(junk, JunkKind::kZeros, 64);
    Write(dir, "camera-" + order + "-zero-tail", junk);
    junk = intact;
    AppendJunk(junk, JunkKind::kCopyOfStart, 96);
    Write(dir, "camera-" + order + "-copied-tail", junk);
  }
  Write(dir, "self-nested", SelfNested());
  Write(dir, "fan-out", FanOut(16));
  Write(dir, "header-only", Bytes{'I', 'I', 14, 0, 0, 0, 'H', 'E', 'A', 'P', 'C', 'C', 'D', 'R'});
  CameraFileOptions withJpeg;
  withJpeg.rawDataSize = kSmallRaw;
  withJpeg.thumbnail = MakeJpeg(8, 8, false, 50);
  Write(dir, "camera-ii-jpeg", MakeCameraFile(withJpeg));
}

// Cards of a few sectors: camera files at sector starts and elsewhere, cut,
// back to back, and the hostile kinds at their smallest.
void WriteCardSeeds(const std::string& dir) {
  Bytes card(512, 0);
  PlaceAt(card, 512, SmallCamera(false));
  PlaceAt(card, 1536, SmallCamera(true));
  Write(dir, "two-files", card);
  Bytes cut(1024, 0xFF);
  PlaceAt(cut, 512, Prefix(SmallCamera(false), 200));
  Write(dir, "cut-file", cut);
  Bytes unaligned(64, 0);
  const Bytes camera = SmallCamera(false);
  unaligned.insert(unaligned.end(), camera.begin(), camera.end());
  unaligned.insert(unaligned.end(), camera.begin(), camera.end());
  Write(dir, "back-to-back-unaligned", unaligned);
  Bytes stray(512, 0);
  const Bytes strayFile = FileWithStrayThumbnailAfter(false);
  stray.insert(stray.end(), strayFile.begin(), strayFile.end());
  Write(dir, "stray-thumbnail", stray);
  Write(dir, "records-outside", RecordsOutsideCard().card);
  Write(dir, "dense-headers", DenseHeadersCard(1024));
  Write(dir, "same-number-files", SameNumberFilesCard(2));
  // A file in two pieces around a whole one, on sectors: it joins.
  CameraFileOptions split;
  split.rawDataSize = 1500;
  split.thumbnail = MakeJpeg(8, 8, false, 50);
  const Bytes twoPieces = MakeCameraFile(split);
  Bytes pieces(512, 0);
  PlaceAt(pieces, 512, Prefix(twoPieces, 1024));
  const Bytes whole = SmallCamera(false);
  PlaceAt(pieces, 1536, whole);
  const std::size_t tail = 1536 + (whole.size() + 511) / 512 * 512;
  PlaceAt(pieces, tail, Bytes(twoPieces.begin() + 1024, twoPieces.end()));
  pieces.resize(pieces.size() + 512, 0);
  Write(dir, "two-pieces", pieces);
}

void WritePreviewSeeds(const std::string& dir) {
  Write(dir, "rgb-16x16", MakeJpeg(16, 16));
  Write(dir, "rgb-13x7-q30", MakeJpeg(13, 7, false, 30));
  Write(dir, "cmyk-8x8", MakeJpeg(8, 8, true));
  Bytes cut = MakeJpeg(16, 16);
  cut.resize(ImageDataStart(cut) + 20);
  Write(dir, "rgb-16x16-cut-in-data", cut);
}

void WriteOutputNameSeeds(const std::string& dir) {
  const char* paths[] = {
      "C:\\Photos\\IMG_0815.CRW", "C:\\Photos.old\\scan", "/media/card/DCIM/100CANON/CRW_0042.CRW",
      "/home/a.b/scan", "IMG_0001.jpg", "D:IMG.CRW", "folder.d/", "name.", ".crw", "a/b\\c.d/e",
  };
  int index = 0;
  for (const char* path : paths) {
    const std::string text(path);
    Write(dir, "path-" + std::to_string(index++), Bytes(text.begin(), text.end()));
  }
}

Bytes SmallPhoto(std::uint32_t width, std::uint32_t height, bool lowBits, std::uint32_t table, bool bigEndian) {
  PhotoFileOptions options;
  options.width = width;
  options.height = height;
  options.lowBits = lowBits;
  options.tableSet = table;
  options.bigEndian = bigEndian;
  options.hasThumbnail = false;
  options.model = "Canon EOS 300D DIGITAL";
  return MakePhotoFile(options).bytes;
}

void WriteRawDataSeeds(const std::string& dir) {
  Write(dir, "photo-64x16-table0", SmallPhoto(64, 16, false, 0, false));
  Write(dir, "photo-64x24-table1-mm", SmallPhoto(64, 24, false, 1, true));
  Write(dir, "photo-96x16-table2", SmallPhoto(96, 16, false, 2, false));
  Write(dir, "photo-128x64-low-bits", SmallPhoto(128, 64, true, 0, false));
  Bytes spliced = SmallPhoto(64, 16, false, 0, false);
  std::fill(spliced.begin() + 700, spliced.begin() + 764, 0x3C);
  Write(dir, "photo-64x16-stream-spliced", spliced);
  Write(dir, "camera-dummy-raw-data", SmallCamera(false));
}

// The options of a camera card as the camera-card target reads them: the
// FAT, allocator and last deletion; FAT16's cluster (2, 4 or 8 KiB); rounds
// of shots; percentages deleted and with a JPG; the sensor; the seed.
struct CameraCardInput {
  bool fat32 = false, nextFree = false, deletedOnComputer = false;
  int cluster = 0, rounds = 3, shots = 8, deletePercent = 40, jpgPercent = 10, sensor = 6;
  std::uint32_t seed = 1;
  Bytes Encoded() const {
    const auto byte = [](int value) { return static_cast<std::uint8_t>(value); };
    return {byte(fat32 | nextFree << 1 | deletedOnComputer << 2), byte(cluster), byte(rounds - 1), byte(shots - 1),
            byte(deletePercent / 10), byte(jpgPercent / 10), byte(sensor), byte(seed), byte(seed >> 8),
            byte(seed >> 16), byte(seed >> 24)};
  }
};

// A few rounds each, so that the corpus replay among the tests stays quick.
void WriteCameraCardSeeds(const std::string& dir) {
  CameraCardInput firstFit;
  Write(dir, "fat16-first-fit-2k-formatted", firstFit.Encoded());
  CameraCardInput nextFree{.nextFree = true, .deletedOnComputer = true, .rounds = 8, .shots = 16, .seed = 2};
  Write(dir, "fat16-next-free-2k-wrapping-deleted", nextFree.Encoded());
  CameraCardInput large{.deletedOnComputer = true, .cluster = 2, .shots = 10, .seed = 3};
  Write(dir, "fat16-first-fit-8k-deleted", large.Encoded());
  CameraCardInput fat32{.fat32 = true, .nextFree = true, .rounds = 2, .seed = 4};
  Write(dir, "fat32-next-free-formatted", fat32.Encoded());
  CameraCardInput fat32FirstFit{.fat32 = true, .deletedOnComputer = true, .shots = 10, .seed = 5};
  Write(dir, "fat32-first-fit-deleted", fat32FirstFit.Encoded());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make_fuzz_seeds CORPUS\n", stderr);
    return 2;
  }
  const std::string corpus = argv[1];
  WriteAnalysisSeeds(corpus + "/analysis");
  WriteCardSeeds(corpus + "/card");
  WritePreviewSeeds(corpus + "/preview");
  WriteOutputNameSeeds(corpus + "/output_names");
  WriteRawDataSeeds(corpus + "/raw_data");
  WriteCameraCardSeeds(corpus + "/camera_card");
  return 0;
}
