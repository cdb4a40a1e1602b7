// make_fuzz_seeds CORPUS: writes the made seed inputs of the fuzz targets into
// CORPUS/analysis (CRW files from the test builder), CORPUS/card (card images
// holding them), CORPUS/preview (JPEGs from the test maker) and
// CORPUS/output_names (paths) and CORPUS/raw_data (CRW files with compressed
// raw data of small synthetic photos). Small on purpose: libFuzzer mutates them byte
// by byte.
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
  return 0;
}
