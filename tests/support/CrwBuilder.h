#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mendrake::testing {

using Bytes = std::vector<std::uint8_t>;

// Builds one CIFF heap: record data first, then the directory, then the
// four-byte offset of the directory, as cameras write them. Offsets are relative
// to the heap's start, so a heap's bytes do not depend on where it is placed.
class HeapBuilder {
 public:
  // A record whose data is stored in this heap.
  HeapBuilder& Record(std::uint16_t tag, Bytes data);
  // A sub-heap stored in this heap, under a tag such as 0x300A or 0x2804.
  HeapBuilder& SubHeap(std::uint16_t tag, const HeapBuilder& heap);
  // An entry of a tag >= 0x4000 holding its eight bytes itself.
  HeapBuilder& Inline(std::uint16_t tag, std::uint32_t first, std::uint32_t second);
  // An entry written as given, pointing wherever size and offset say.
  HeapBuilder& Entry(std::uint16_t tag, std::uint32_t size, std::uint32_t offset);
  // Bytes placed before the record data; they shift every record.
  HeapBuilder& Padding(std::size_t count, std::uint8_t value = 0);
  // Puts the directory at the heap's start, before the record data, so that its
  // offset in the last four bytes is 0: a tail of zeros then leads every
  // candidate size to this directory.
  HeapBuilder& DirectoryFirst();

  Bytes Build(bool bigEndian) const;

 private:
  struct Item {
    std::uint16_t tag;
    Bytes data;                    // stored data (record or sub-heap)
    int subHeap;                   // index into subHeaps_, built in the caller's byte order; -1 if none
    bool storesData;
    std::uint32_t first, second;   // for inline and hand-written entries
  };
  std::vector<Item> items_;
  std::vector<HeapBuilder> subHeaps_;
  std::size_t padding_ = 0;
  std::uint8_t paddingValue_ = 0;
  bool directoryFirst_ = false;
};

// A whole file: the 26-byte header of camera files (or another length) and a root heap.
struct CrwFile {
  bool bigEndian = false;
  std::uint32_t headerLength = 26;
  HeapBuilder root;
  Bytes Build() const;
};

// Record payloads in a byte order.
Bytes MakeModelRecord(const std::string& make, const std::string& model);
Bytes ShotInfoRecord(std::uint16_t whiteBalance, bool bigEndian);
Bytes SensorInfoRecord(std::uint16_t width, std::uint16_t height, bool bigEndian);
Bytes Filler(std::size_t count, std::uint8_t value);
// The decoder-table record as cameras write it: the table set, then three
// words the decode does not use.
Bytes DecoderTableRecord(std::uint32_t tableSet, bool bigEndian);

// A file shaped like a camera's: the root holds the raw data and the thumbnail
// and a properties sub-heap, which holds the make/model, shot and sensor
// information and the decoder table inside sub-heaps of its own (three deep).
struct CameraFileOptions {
  bool bigEndian = false;
  std::string make = "Canon";
  std::string model = "Canon EOS D60";
  std::uint16_t whiteBalance = 1;
  std::uint16_t width = 3072;
  std::uint16_t height = 2048;
  std::size_t rawDataSize = 4096;
  Bytes thumbnail = Filler(512, 0xD8);
  bool hasThumbnail = true;  // false leaves the thumbnail record out
  bool hasDecoderTable = true;  // false leaves the decoder table record out
  // Real compressed raw data (see RawEncoder.h) in place of rawDataSize filler
  // bytes, and the table set its decoder-table record names (unset: filler).
  Bytes rawData;
  int decoderTableSet = -1;
};
Bytes MakeCameraFile(const CameraFileOptions& options = {});

enum class JunkKind { kRandom, kZeros, kOnes, kCopyOfStart };
// Appends count bytes of junk; kCopyOfStart repeats the file's own first bytes.
void AppendJunk(Bytes& file, JunkKind kind, std::size_t count, std::uint32_t seed = 1);

// The first count bytes (all of them when there are fewer).
Bytes Prefix(const Bytes& bytes, std::size_t count);

// Hand-made bytes in a byte order, for files the heap builder would not write.
void Put16(Bytes& out, std::uint16_t value, bool bigEndian);
void Put32(Bytes& out, std::uint32_t value, bool bigEndian);

// A directory as the walker reads it: the entry count, then tag, size and
// offset of each entry; no record data and no pointer to it.
struct DirectoryEntry {
  std::uint16_t tag;
  std::uint32_t size;
  std::uint32_t offset;
};
Bytes DirectoryBytes(const std::vector<DirectoryEntry>& entries, bool bigEndian);

// Copies bytes into out from position on, growing out with zeros as needed.
void PlaceAt(Bytes& out, std::size_t position, const Bytes& bytes);

// Writes bytes to a file, replacing it.
void WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);

}  // namespace mendrake::testing
