#include "cardfs/CardDirectories.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace mendrake {
namespace {

constexpr std::int64_t kSector = 512;
constexpr std::size_t kEntry = 32;
constexpr std::uint8_t kDeleted = 0xE5;
constexpr std::uint8_t kLongName = 0x0F;
constexpr std::uint8_t kDirectory = 0x10;
constexpr std::uint8_t kVolumeLabel = 0x08;

std::uint16_t Word(const std::uint8_t* at) { return static_cast<std::uint16_t>(at[0] | at[1] << 8); }
std::uint32_t Long(const std::uint8_t* at) { return Word(at) | std::uint32_t{Word(at + 2)} << 16; }

// Characters a short name may hold (besides letters of code pages from 0x80 on).
bool ShortNameByte(std::uint8_t c) {
  if (c >= 0x80) return true;
  if (c < 0x20) return false;
  return std::string_view("\"*+,./:;<=>?[\\]|").find(static_cast<char>(c)) == std::string_view::npos;
}

enum class Slot { kNotAnEntry, kFree, kLongPart, kFile, kOther };

constexpr std::uint8_t kNoEntry[kEntry] = {};

Slot Classify(const std::uint8_t* entry) {
  const std::uint8_t first = entry[0];
  if (first == 0x00) return std::memcmp(entry, kNoEntry, kEntry) == 0 ? Slot::kFree : Slot::kNotAnEntry;
  const std::uint8_t attributes = entry[11];
  if (attributes == kLongName) {
    // The type byte and the first cluster of a long-name part are always zero.
    return entry[12] == 0 && Word(entry + 26) == 0 ? Slot::kLongPart : Slot::kNotAnEntry;
  }
  if (attributes & 0xC0) return Slot::kNotAnEntry;
  if (first == ' ') return Slot::kNotAnEntry;
  // "." and ".." open a subdirectory's first cluster.
  if (first == '.') {
    const bool dots = std::all_of(entry + (entry[1] == '.' ? 2 : 1), entry + 11, [](std::uint8_t c) { return c == ' '; });
    return dots && (attributes & kDirectory) ? Slot::kOther : Slot::kNotAnEntry;
  }
  for (std::size_t i = first == kDeleted ? 1 : 0; i < 11; ++i) {
    if (!ShortNameByte(entry[i])) return Slot::kNotAnEntry;
  }
  if (attributes & (kDirectory | kVolumeLabel)) return Slot::kOther;
  return Slot::kFile;
}

std::string Trimmed(const std::uint8_t* bytes, std::size_t count) {
  std::string text(reinterpret_cast<const char*>(bytes), count);
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

// The short name's checksum that each of its long-name parts repeats.
std::uint8_t Checksum(const std::uint8_t* entry) {
  std::uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + entry[i]);
  return sum;
}

// UTF-8 of a long name; empty when it holds characters a name cannot (or unpaired halves).
std::string Utf8OfLongName(const std::u16string& name) {
  std::string text;
  for (std::size_t i = 0; i < name.size(); ++i) {
    std::uint32_t c = name[i];
    if (c < 0x20) return {};
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (name[++i] - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      return {};
    }
    if (c < 0x80) {
      text += static_cast<char>(c);
    } else if (c < 0x800) {
      text += static_cast<char>(0xC0 | c >> 6);
      text += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      text += static_cast<char>(0xE0 | c >> 12);
      text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      text += static_cast<char>(0xF0 | c >> 18);
      text += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      text += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return text;
}

// Whether no entry of the sector sets either of the two attribute bits that
// no entry has (a free entry's attributes are zero too). Every sector of the
// card comes here, and random bytes or raw data fail at once: fifteen in
// sixteen at the first two entries, the rest nearly all at the next
// fourteen, taken together with no branch to mispredict for each. Only the
// sectors that pass are read entry by entry.
inline bool AttributesMayBeEntries(const std::uint8_t* sector) {
  constexpr std::uint8_t kNeverSet = 0xC0;
  if ((sector[11] | sector[kEntry + 11]) & kNeverSet) return false;
  std::uint8_t attributes = 0;
  for (std::size_t at = 2 * kEntry + 11; at < static_cast<std::size_t>(kSector); at += kEntry) attributes |= sector[at];
  return (attributes & kNeverSet) == 0;
}

// The thirteen characters of one long-name part, up to its end mark.
std::u16string LongPart(const std::uint8_t* entry) {
  static constexpr std::array<int, 13> kAt = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  std::u16string part;
  for (const int at : kAt) {
    const char16_t c = static_cast<char16_t>(Word(entry + at));
    if (c == 0 || c == 0xFFFF) break;
    part += c;
  }
  return part;
}

// Raw data with runs of zeros (a dark sky's low bits) reads as a sector of
// free entries, now and then with one legal by chance: a sector that names
// a CRW, THM or JPG file is a camera's directory.
bool NamesCameraFile(const std::uint8_t* sector, const std::array<Slot, kSector / kEntry>& slots) {
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (slots[i] != Slot::kFile) continue;
    const std::string extension(reinterpret_cast<const char*>(sector + i * kEntry + 8), 3);
    if (extension == "CRW" || extension == "THM" || extension == "JPG") return true;
  }
  return false;
}

}  // namespace

std::optional<std::uint32_t> FirstClusterAt(const FatVolume& volume, std::int64_t position) {
  if (volume.kind == FatVolume::Kind::kExFat || position < volume.dataStart ||
      (position - volume.dataStart) % volume.clusterSize != 0) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>((position - volume.dataStart) / volume.clusterSize + 2);
}

void CardDirectories::Observe(const std::uint8_t* bytes, std::int64_t start, std::int64_t length) {
  const std::int64_t first = (start + kSector - 1) / kSector * kSector;
  for (std::int64_t at = first; at + kSector <= start + length; at += kSector) {
    const std::uint8_t* sector = bytes + (at - start);
    if (AttributesMayBeEntries(sector)) {
      ReadSector(sector, at);
    } else {
      longParts_.clear();
    }
  }
}

void CardDirectories::ReadSector(const std::uint8_t* sector, std::int64_t at) {
  std::array<Slot, kSector / kEntry> slots;
  bool namesFile = false;
  for (std::size_t i = 0; i < slots.size(); ++i) {
    slots[i] = Classify(sector + i * kEntry);
    if (slots[i] == Slot::kNotAnEntry) {
      longParts_.clear();
      return;
    }
    namesFile = namesFile || slots[i] == Slot::kFile;
  }
  if (!namesFile) return;
  if (directorySectors_.size() < kMaxNamedFiles && NamesCameraFile(sector, slots)) directorySectors_.insert(at);
  if (at != nextSector_) longParts_.clear();
  nextSector_ = at + kSector;
  for (std::size_t i = 0; i < slots.size(); ++i) {
    const std::uint8_t* entry = sector + i * kEntry;
    if (slots[i] == Slot::kLongPart) {
      longParts_.emplace_back(entry[13], LongPart(entry));
      continue;
    }
    if (slots[i] != Slot::kFile) {
      longParts_.clear();
      continue;
    }
    NamedFile file;
    file.deleted = entry[0] == kDeleted;
    file.firstCluster = std::uint32_t{Word(entry + 20)} << 16 | Word(entry + 26);
    file.size = Long(entry + 28);
    file.entryAt = at + static_cast<std::int64_t>(i * kEntry);
    // Long-name parts lie before their short entry, the last part first;
    // each carries the short name's checksum (a deleted entry's too, taken
    // over its first byte as it was: unknown, so any first byte is tried).
    std::u16string longName;
    bool longWhole = !longParts_.empty();
    for (auto part = longParts_.rbegin(); part != longParts_.rend() && longWhole; ++part) {
      std::uint8_t shortName[11];
      std::copy(entry, entry + 11, shortName);
      bool matches = Checksum(shortName) == part->first;
      for (int letter = 0x20; !matches && file.deleted && letter < 0x100; ++letter) {
        shortName[0] = static_cast<std::uint8_t>(letter);
        matches = Checksum(shortName) == part->first;
      }
      longWhole = matches;
      longName += part->second;
    }
    longParts_.clear();
    const std::string longText = longWhole ? Utf8OfLongName(longName) : std::string();
    if (!longText.empty()) {
      file.name = longText;
    } else {
      std::string base = Trimmed(entry, 8);
      const std::string extension = Trimmed(entry + 8, 3);
      if (entry[0] == 0x05) base[0] = static_cast<char>(kDeleted);  // a first byte 0xE5 is kept as 0x05
      if (file.deleted) {
        base[0] = '?';
        file.firstLetterLost = true;
      }
      file.name = extension.empty() ? base : base + "." + extension;
    }
    if (file.firstCluster < 2) continue;
    const bool room = byCluster_.size() + othersByCluster_.size() < kMaxNamedFiles;
    const auto found = byCluster_.find(file.firstCluster);
    if (found != byCluster_.end()) {
      // A cluster given to a new file after the old one was deleted: the live entry speaks for it.
      if (found->second.deleted && !file.deleted) std::swap(found->second, file);
      if (room) othersByCluster_.emplace(file.firstCluster, file);
      continue;
    }
    if (room) byCluster_.emplace(file.firstCluster, file);
  }
}

const NamedFile* CardDirectories::ByFirstCluster(std::uint32_t cluster) const {
  const auto found = byCluster_.find(cluster);
  return found == byCluster_.end() ? nullptr : &found->second;
}

std::vector<NamedFile> CardDirectories::AllByFirstCluster(std::uint32_t cluster) const {
  std::vector<NamedFile> files;
  if (const NamedFile* first = ByFirstCluster(cluster)) files.push_back(*first);
  for (auto [it, end] = othersByCluster_.equal_range(cluster); it != end; ++it) files.push_back(it->second);
  std::sort(files.begin(), files.end(), [](const NamedFile& a, const NamedFile& b) { return a.entryAt < b.entryAt; });
  return files;
}

std::vector<NamedFile> CardDirectories::Files() const {
  std::vector<NamedFile> files;
  for (const auto& [cluster, file] : byCluster_) files.push_back(file);
  std::sort(files.begin(), files.end(), [](const NamedFile& a, const NamedFile& b) { return a.entryAt < b.entryAt; });
  return files;
}

std::int64_t CardDirectories::DirectorySectorWithin(std::int64_t from, std::int64_t to) const {
  const auto sector = directorySectors_.lower_bound(from);
  return sector != directorySectors_.end() && *sector < to ? *sector : -1;
}

}  // namespace mendrake
