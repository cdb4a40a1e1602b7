#include "tests/support/HostileCards.h"

#include <cstring>

namespace mendrake::testing {
namespace {

constexpr std::uint32_t kHeaderLength = 26;
constexpr std::uint16_t kSubHeap = 0x300A;
constexpr std::size_t kSmallCluster = 4096;
constexpr std::size_t kCluster = 16 * 1024;

std::size_t RoundUp(std::size_t value, std::size_t to) { return (value + to - 1) / to * to; }

Bytes Header(bool bigEndian) {
  Bytes header = {static_cast<std::uint8_t>(bigEndian ? 'M' : 'I'), static_cast<std::uint8_t>(bigEndian ? 'M' : 'I')};
  Put32(header, kHeaderLength, bigEndian);
  for (const char c : std::string("HEAPCCDR")) header.push_back(static_cast<std::uint8_t>(c));
  header.resize(kHeaderLength, 0);
  return header;
}

std::uint32_t Load32(const Bytes& bytes, std::size_t at, bool bigEndian) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    const std::uint32_t byte = bytes[at + static_cast<std::size_t>(i)];
    value |= bigEndian ? byte << (24 - 8 * i) : byte << (8 * i);
  }
  return value;
}

// The properties heap of a camera file: make and model, file number, shot
// and sensor information and the decoder table, three deep.
HeapBuilder Properties(bool bigEndian, std::uint16_t whiteBalance) {
  HeapBuilder exif;
  exif.Record(0x102A, ShotInfoRecord(whiteBalance, bigEndian))
      .Record(0x1031, SensorInfoRecord(3072, 2048, bigEndian))
      .Record(0x1835, Filler(64, 0x44));
  HeapBuilder camera;
  camera.Record(0x080A, MakeModelRecord("Canon", "Canon EOS D60")).Inline(0x5817, 1, 2);
  HeapBuilder properties;
  properties.SubHeap(0x300B, exif).SubHeap(0x2807, camera);
  return properties;
}

// Planted make and model strings, a 100-byte thumbnail record and a
// directory naming both, with a pointer to it that no closed heap ends at.
void AppendStrayDirectory(Bytes& file, bool bigEndian) {
  const auto plantedAt = static_cast<std::uint32_t>(file.size() - kHeaderLength);
  const Bytes names = MakeModelRecord(kPlantedMake, kPlantedModel);
  file.insert(file.end(), names.begin(), names.end());
  const auto thumbnailAt = static_cast<std::uint32_t>(file.size() - kHeaderLength);
  const Bytes thumbnail = Filler(100, 0xD8);
  file.insert(file.end(), thumbnail.begin(), thumbnail.end());
  const auto directoryAt = static_cast<std::uint32_t>(file.size() - kHeaderLength);
  const Bytes directory = DirectoryBytes({{0x080A, static_cast<std::uint32_t>(names.size()), plantedAt},
                                          {0x2007, static_cast<std::uint32_t>(thumbnail.size()), thumbnailAt}},
                                         bigEndian);
  file.insert(file.end(), directory.begin(), directory.end());
  file.insert(file.end(), 64, 0xFF);
  Put32(file, directoryAt, bigEndian);
}

Bytes SameNumberFilesOfSize(std::size_t size) { return SameNumberFilesCard(static_cast<int>(size / kSmallCluster)); }

Bytes RecordsOutsideOfSize(std::size_t size) {
  Bytes card;
  while (card.size() < size) {
    const RecordsOutside one = RecordsOutsideCard();
    card.insert(card.end(), one.card.begin(), one.card.end());
  }
  return card;
}

Bytes StrayThumbnailsOfSize(std::size_t size) { return StrayThumbnailCard(static_cast<int>(size / kCluster)).card; }

Bytes RootCopiesOfSize(std::size_t size) {
  const Bytes file = FileWithRootCopyInItsRawData(3 << 20, 100000);
  Bytes card(kCluster, 0);
  while (card.size() < size) {
    card.insert(card.end(), file.begin(), file.end());
    card.resize(RoundUp(card.size(), kCluster), 0);
  }
  return card;
}

}  // namespace

Bytes EndsForWaitingPiecesCard(std::size_t size) {
  constexpr std::size_t kPieces = 8;
  constexpr std::size_t kPiece = 2 << 20;
  constexpr std::size_t kHeap = 1 << 20;  // what each crafted end says its file's heap holds
  Bytes card(kCluster, 0);
  for (std::size_t i = 0; i < kPieces; ++i) {
    const Bytes header = Header(false);
    card.insert(card.end(), header.begin(), header.end());
    card.resize(card.size() + kPiece, 0x5A);
    card.resize(RoundUp(card.size(), kCluster), 0);
  }
  CameraFileOptions options;
  options.rawDataSize = 2000;
  const Bytes whole = MakeCameraFile(options);
  card.insert(card.end(), whole.begin(), whole.end());
  card.resize(RoundUp(card.size(), kCluster) + kHeap, 0x5A);
  // One end a cluster: a directory of one record, whose pointer puts its
  // heap's start just after a header's length past a cluster start, so that
  // it lies a whole number of clusters after every waiting piece.
  while (card.size() + kCluster <= size) {
    const std::size_t directory = card.size() + kCluster - 16;
    const std::size_t heapStart = directory - kHeap - (directory - kHeap) % kCluster + kHeaderLength;
    card.resize(directory, 0x5A);
    Put16(card, 1, false);
    Put16(card, 0x2005, false);
    Put32(card, 16, false);
    Put32(card, 0, false);
    Put32(card, static_cast<std::uint32_t>(directory - heapStart), false);
  }
  return card;
}

Bytes FanOutWindowsCard(std::size_t size) {
  constexpr bool kBig = true;
  constexpr std::size_t kWindow = 300 * 1024;
  constexpr std::size_t kUnit = 16;  // count, one entry, the pointer to the count
  constexpr std::uint16_t kEntries = 256;
  const std::uint32_t shared = 2 + 10 * kEntries + 4;
  const std::size_t units = (kWindow - kHeaderLength - shared) / kUnit;
  const auto sharedAt = static_cast<std::uint32_t>(units * kUnit);  // from the root heap's start

  Bytes window = Header(kBig);
  for (std::size_t i = 0; i < units; ++i) {
    const auto directory = static_cast<std::uint32_t>(i * kUnit);
    Put16(window, 1, kBig);
    Put16(window, kSubHeap, kBig);
    Put32(window, shared, kBig);
    Put32(window, sharedAt, kBig);
    Put32(window, directory, kBig);
  }
  // The shared sub-heap: its directory first, every entry naming the heap itself.
  Put16(window, kEntries, kBig);
  for (int k = 0; k < kEntries; ++k) {
    Put16(window, kSubHeap, kBig);
    Put32(window, shared, kBig);
    Put32(window, 0, kBig);
  }
  Put32(window, 0, kBig);
  window.resize(kWindow, 0);

  Bytes card;
  card.reserve(RoundUp(size, kWindow));
  while (card.size() < size) card.insert(card.end(), window.begin(), window.end());
  return card;
}

Bytes SameNumberFilesCard(int count) {
  Bytes card(kSmallCluster, 0);
  for (int i = 0; i < count; ++i) {
    CameraFileOptions options;
    options.rawDataSize = 1024;
    options.whiteBalance = static_cast<std::uint16_t>(i);  // each photo its own bytes
    const Bytes file = MakeCameraFile(options);
    card.insert(card.end(), file.begin(), file.end());
    card.resize(RoundUp(card.size(), kSmallCluster), 0);
  }
  return card;
}

Bytes DenseHeadersCard(std::size_t size) {
  Bytes unit = Header(false);
  unit.resize(16);
  Bytes card;
  card.reserve(size + unit.size());
  while (card.size() < size) card.insert(card.end(), unit.begin(), unit.end());
  return card;
}

RecordsOutside RecordsOutsideCard() {
  constexpr std::size_t kRaw = 6000;
  constexpr std::uint32_t kGap = 64;
  // The offset of the raw data depends on the root's length, which does not
  // depend on the offset: build twice.
  auto root = [](std::uint32_t rawAt) {
    HeapBuilder heap;
    heap.Entry(0x2005, kRaw, rawAt).SubHeap(kSubHeap, Properties(false, 1));
    return heap;
  };
  CrwFile file;
  file.root = root(0);
  const auto rootLength = static_cast<std::uint32_t>(file.Build().size() - kHeaderLength);
  file.root = root(rootLength + kGap);
  RecordsOutside made;
  made.card = Bytes(kSmallCluster, 0);
  made.outsideAt = made.card.size();
  const Bytes outside = file.Build();
  made.card.insert(made.card.end(), outside.begin(), outside.end());
  made.card.insert(made.card.end(), kGap, 0);
  const Bytes raw = Filler(kRaw, 0x5A);
  made.card.insert(made.card.end(), raw.begin(), raw.end());
  made.card.resize(RoundUp(made.card.size(), kSmallCluster), 0);
  made.wholeAt = made.card.size();
  CameraFileOptions options;
  options.rawDataSize = 2000;
  made.whole = MakeCameraFile(options);
  made.card.insert(made.card.end(), made.whole.begin(), made.whole.end());
  made.card.resize(RoundUp(made.card.size(), kSmallCluster), 0);
  return made;
}

Bytes FileWithStrayThumbnailAfter(bool bigEndian) {
  CameraFileOptions options;
  options.bigEndian = bigEndian;
  options.hasThumbnail = false;
  Bytes file = MakeCameraFile(options);
  AppendStrayDirectory(file, bigEndian);
  return file;
}

StrayThumbnails StrayThumbnailCard(int count) {
  StrayThumbnails made;
  made.card = Bytes(kCluster, 0);
  for (int i = 0; i < count; ++i) {
    CameraFileOptions options;
    options.hasThumbnail = false;
    options.whiteBalance = static_cast<std::uint16_t>(i);
    Bytes file = MakeCameraFile(options);
    made.at.push_back(made.card.size());
    made.files.push_back(file);
    AppendStrayDirectory(file, false);
    made.card.insert(made.card.end(), file.begin(), file.end());
    made.card.resize(RoundUp(made.card.size(), kCluster), 0);
  }
  return made;
}

Bytes FileWithRootCopyInItsRawData(std::size_t rawSize, std::size_t rawCopyAt, bool bigEndian) {
  CameraFileOptions options;
  options.bigEndian = bigEndian;
  options.rawDataSize = rawSize;
  Bytes file = MakeCameraFile(options);
  // The raw data is the root heap's first record; its directory ends at the pointer.
  const std::size_t directory = kHeaderLength + Load32(file, file.size() - 4, bigEndian);
  Bytes copy(file.begin() + static_cast<std::ptrdiff_t>(directory), file.end() - 4);
  const std::size_t copyAt = kHeaderLength + rawCopyAt;
  Put32(copy, static_cast<std::uint32_t>(rawCopyAt), bigEndian);
  std::memcpy(file.data() + copyAt, copy.data(), copy.size());
  return file;
}

const std::vector<HostileCardKind>& HostileCardKinds() {
  static const std::vector<HostileCardKind> kinds = {
      {"fan-out-windows", FanOutWindowsCard},
      {"same-number-files", SameNumberFilesOfSize},
      {"records-outside", RecordsOutsideOfSize},
      {"dense-headers", DenseHeadersCard},
      {"stray-thumbnails", StrayThumbnailsOfSize},
      {"root-copies", RootCopiesOfSize},
      {"ends-for-waiting-pieces", EndsForWaitingPiecesCard},
  };
  return kinds;
}

}  // namespace mendrake::testing
