#include "tests/support/CrwBuilder.h"

#include "files/Utf8Path.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <stdexcept>

namespace mendrake::testing {

void Put16(Bytes& out, std::uint16_t value, bool bigEndian) {
  if (bigEndian) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
  } else {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
  }
}

void Put32(Bytes& out, std::uint32_t value, bool bigEndian) {
  if (bigEndian) {
    Put16(out, static_cast<std::uint16_t>(value >> 16), true);
    Put16(out, static_cast<std::uint16_t>(value), true);
  } else {
    Put16(out, static_cast<std::uint16_t>(value), false);
    Put16(out, static_cast<std::uint16_t>(value >> 16), false);
  }
}

HeapBuilder& HeapBuilder::Record(std::uint16_t tag, Bytes data) {
  items_.push_back({tag, std::move(data), -1, true, 0, 0});
  return *this;
}

HeapBuilder& HeapBuilder::SubHeap(std::uint16_t tag, const HeapBuilder& heap) {
  subHeaps_.push_back(heap);
  items_.push_back({tag, {}, static_cast<int>(subHeaps_.size()) - 1, true, 0, 0});
  return *this;
}

HeapBuilder& HeapBuilder::Inline(std::uint16_t tag, std::uint32_t first, std::uint32_t second) {
  items_.push_back({tag, {}, -1, false, first, second});
  return *this;
}

HeapBuilder& HeapBuilder::Entry(std::uint16_t tag, std::uint32_t size, std::uint32_t offset) {
  items_.push_back({tag, {}, -1, false, size, offset});
  return *this;
}

HeapBuilder& HeapBuilder::Padding(std::size_t count, std::uint8_t value) {
  padding_ = count;
  paddingValue_ = value;
  return *this;
}

HeapBuilder& HeapBuilder::DirectoryFirst() {
  directoryFirst_ = true;
  return *this;
}

Bytes HeapBuilder::Build(bool bigEndian) const {
  // With the directory first, the record data begins after it.
  const std::size_t dataStart = directoryFirst_ ? 2 + 10 * items_.size() : 0;
  Bytes heap(dataStart + padding_, paddingValue_);
  std::vector<std::uint32_t> sizes;
  std::vector<std::uint32_t> offsets;
  for (const Item& item : items_) {
    if (!item.storesData) {
      sizes.push_back(item.first);
      offsets.push_back(item.second);
      continue;
    }
    const Bytes data = item.subHeap >= 0 ? subHeaps_[static_cast<std::size_t>(item.subHeap)].Build(bigEndian) : item.data;
    offsets.push_back(static_cast<std::uint32_t>(heap.size()));
    sizes.push_back(static_cast<std::uint32_t>(data.size()));
    heap.insert(heap.end(), data.begin(), data.end());
  }
  Bytes directory;
  Put16(directory, static_cast<std::uint16_t>(items_.size()), bigEndian);
  for (std::size_t i = 0; i < items_.size(); ++i) {
    Put16(directory, items_[i].tag, bigEndian);
    Put32(directory, sizes[i], bigEndian);
    Put32(directory, offsets[i], bigEndian);
  }
  const auto directoryOffset = static_cast<std::uint32_t>(directoryFirst_ ? 0 : heap.size());
  if (directoryFirst_) {
    std::copy(directory.begin(), directory.end(), heap.begin());
  } else {
    heap.insert(heap.end(), directory.begin(), directory.end());
  }
  Put32(heap, directoryOffset, bigEndian);
  return heap;
}

Bytes CrwFile::Build() const {
  Bytes file;
  file.push_back(bigEndian ? 'M' : 'I');
  file.push_back(bigEndian ? 'M' : 'I');
  Put32(file, headerLength, bigEndian);
  for (const char c : std::string("HEAPCCDR")) file.push_back(static_cast<std::uint8_t>(c));
  file.resize(headerLength, 0);
  const Bytes heap = root.Build(bigEndian);
  file.insert(file.end(), heap.begin(), heap.end());
  return file;
}

Bytes MakeModelRecord(const std::string& make, const std::string& model) {
  Bytes record(make.begin(), make.end());
  record.push_back(0);
  record.insert(record.end(), model.begin(), model.end());
  record.push_back(0);
  return record;
}

Bytes ShotInfoRecord(std::uint16_t whiteBalance, bool bigEndian) {
  Bytes record;
  for (int i = 0; i < 7; ++i) Put16(record, 0x1111, bigEndian);
  Put16(record, whiteBalance, bigEndian);  // offset 14
  for (int i = 0; i < 8; ++i) Put16(record, 0x2222, bigEndian);
  return record;
}

Bytes SensorInfoRecord(std::uint16_t width, std::uint16_t height, bool bigEndian) {
  Bytes record;
  Put16(record, 0x0022, bigEndian);
  Put16(record, width, bigEndian);   // offset 2
  Put16(record, height, bigEndian);  // offset 4
  for (int i = 0; i < 14; ++i) Put16(record, 0x0033, bigEndian);
  return record;
}

Bytes Filler(std::size_t count, std::uint8_t value) { return Bytes(count, value); }

Bytes DecoderTableRecord(std::uint32_t tableSet, bool bigEndian) {
  Bytes record;
  Put32(record, tableSet, bigEndian);
  for (int i = 0; i < 3; ++i) Put32(record, 0, bigEndian);
  return record;
}

Bytes MakeCameraFile(const CameraFileOptions& options) {
  HeapBuilder exif;
  exif.Record(0x102A, ShotInfoRecord(options.whiteBalance, options.bigEndian))
      .Record(0x1031, SensorInfoRecord(options.width, options.height, options.bigEndian));
  if (options.hasDecoderTable) {
    exif.Record(0x1835, options.decoderTableSet >= 0
                            ? DecoderTableRecord(static_cast<std::uint32_t>(options.decoderTableSet), options.bigEndian)
                            : Filler(64, 0x44));
  }
  HeapBuilder camera;
  camera.Record(0x080A, MakeModelRecord(options.make, options.model)).Inline(0x5817, 1, 2);
  HeapBuilder properties;
  properties.SubHeap(0x300B, exif).SubHeap(0x2807, camera).Inline(0x5029, 3, 4);

  CrwFile file;
  file.bigEndian = options.bigEndian;
  file.root.Record(0x2005, options.rawData.empty() ? Filler(options.rawDataSize, 0x5A) : options.rawData);
  if (options.hasThumbnail) file.root.Record(0x2007, options.thumbnail);
  file.root.SubHeap(0x300A, properties);
  return file.Build();
}

void AppendJunk(Bytes& file, JunkKind kind, std::size_t count, std::uint32_t seed) {
  switch (kind) {
    case JunkKind::kRandom: {
      std::mt19937 random(seed);
      for (std::size_t i = 0; i < count; ++i) file.push_back(static_cast<std::uint8_t>(random()));
      break;
    }
    case JunkKind::kZeros:
      file.insert(file.end(), count, 0x00);
      break;
    case JunkKind::kOnes:
      file.insert(file.end(), count, 0xFF);
      break;
    case JunkKind::kCopyOfStart: {
      const Bytes start(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(std::min(count, file.size())));
      for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(start.size(), count - done);
        file.insert(file.end(), start.begin(), start.begin() + static_cast<std::ptrdiff_t>(n));
        done += n;
      }
      break;
    }
  }
}

Bytes DirectoryBytes(const std::vector<DirectoryEntry>& entries, bool bigEndian) {
  Bytes directory;
  Put16(directory, static_cast<std::uint16_t>(entries.size()), bigEndian);
  for (const DirectoryEntry& entry : entries) {
    Put16(directory, entry.tag, bigEndian);
    Put32(directory, entry.size, bigEndian);
    Put32(directory, entry.offset, bigEndian);
  }
  return directory;
}

void PlaceAt(Bytes& out, std::size_t position, const Bytes& bytes) {
  if (out.size() < position + bytes.size()) out.resize(position + bytes.size(), 0);
  std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<std::ptrdiff_t>(position));
}

Bytes Prefix(const Bytes& bytes, std::size_t count) {
  return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(count, bytes.size())));
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(PathFromUtf8(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace mendrake::testing
