#include "tests/support/CameraCard.h"

#include "recovery/ShotTime.h"
#include "tests/support/JpegMaker.h"
#include "tests/support/PhotoFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>

namespace mendrake::testing {
namespace {

constexpr std::int64_t kSector = 512;
constexpr int kRootEntries = 512;  // FAT16's root directory; FAT32's root is a chain of clusters

void Le16(Bytes& image, std::int64_t at, std::uint32_t value) {
  image[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(value);
  image[static_cast<std::size_t>(at + 1)] = static_cast<std::uint8_t>(value >> 8);
}
void Le32(Bytes& image, std::int64_t at, std::uint32_t value) {
  Le16(image, at, value & 0xFFFF);
  Le16(image, at + 2, value >> 16);
}

class Card {
 public:
  explicit Card(const CameraCardOptions& options) : options_(options), image_(static_cast<std::size_t>(options.size), 0) {
    const std::int64_t sectorsPerCluster = options.clusterSize / kSector;
    const std::int64_t totalSectors = options.size / kSector;
    reserved_ = options.fat32 ? 32 : 1;
    const std::int64_t rootSectors = options.fat32 ? 0 : kRootEntries * 32 / kSector;
    const std::int64_t entryBytes = options.fat32 ? 4 : 2;
    // The table's length for the clusters that remain after it.
    fatSectors_ = 1;
    for (int i = 0; i < 4; ++i) {
      const std::int64_t clusters = (totalSectors - reserved_ - 2 * fatSectors_ - rootSectors) / sectorsPerCluster;
      fatSectors_ = ((clusters + 2) * entryBytes + kSector - 1) / kSector;
    }
    dataStart_ = (reserved_ + 2 * fatSectors_ + rootSectors) * kSector;
    clusterCount_ = (totalSectors - reserved_ - 2 * fatSectors_ - rootSectors) / sectorsPerCluster;
    if (!options.fat32 && (clusterCount_ < 4085 || clusterCount_ >= 65525)) {
      throw std::runtime_error("FAT16 needs 4,085 to 65,524 clusters; choose another size or cluster size");
    }
    if (options.fat32 && clusterCount_ < 65525) {
      throw std::runtime_error("FAT32 needs at least 65,525 clusters; choose another size or cluster size");
    }
    used_.assign(static_cast<std::size_t>(clusterCount_ + 2), 0);
    Format();
    MakeFolders();
  }

  void Format() {
    std::fill(image_.begin(), image_.begin() + dataStart_, 0);
    std::fill(used_.begin(), used_.end(), 0);
    Bytes& b = image_;
    b[0] = 0xEB, b[1] = options_.fat32 ? 0x58 : 0x3C, b[2] = 0x90;
    std::memcpy(b.data() + 3, "CAMERA  ", 8);
    Le16(b, 11, kSector);
    b[13] = static_cast<std::uint8_t>(options_.clusterSize / kSector);
    Le16(b, 14, static_cast<std::uint32_t>(reserved_));
    b[16] = 2;
    Le16(b, 17, options_.fat32 ? 0 : kRootEntries);
    b[21] = 0xF8;
    Le32(b, 32, static_cast<std::uint32_t>(options_.size / kSector));
    if (options_.fat32) {
      Le32(b, 36, static_cast<std::uint32_t>(fatSectors_));
      Le32(b, 44, 2);  // the root directory's first cluster
    } else {
      Le16(b, 22, static_cast<std::uint32_t>(fatSectors_));
    }
    b[510] = 0x55, b[511] = 0xAA;
    SetEntry(0, 0x0FFFFFF8);
    SetEntry(1, 0x0FFFFFFF);
    entries_.clear();
    hint_ = 2;
    if (options_.fat32) {
      // The root directory: the first clusters, room for every file shot.
      rootClusters_ = std::max<std::int64_t>(1, 64 * 1024 / options_.clusterSize);
      for (std::int64_t c = 2; c < 2 + rootClusters_; ++c) {
        SetEntry(c, c + 1 < 2 + rootClusters_ ? static_cast<std::uint32_t>(c + 1) : 0x0FFFFFFF);
        used_[static_cast<std::size_t>(c)] = 1;
        std::fill(image_.begin() + ClusterAt(c), image_.begin() + ClusterAt(c) + options_.clusterSize, 0);
      }
      hint_ = 2 + rootClusters_;
    }
    WriteRoot();
  }

  // The folders a camera keeps its files in, DCIM and DCIM/100CANON, in the
  // first free clusters: a quick format (Format again) empties the root and
  // the tables but leaves these clusters, with the entries of the files the
  // folder held, as they are.
  void MakeFolders() {
    dcim_ = hint_;
    folder_ = dcim_ + 1;
    folderClusters_ = std::max<std::int64_t>(1, 64 * 1024 / options_.clusterSize);
    for (std::int64_t c = dcim_; c < folder_ + folderClusters_; ++c) {
      const bool last = c == dcim_ || c + 1 == folder_ + folderClusters_;
      SetEntry(c, last ? 0x0FFFFFFF : static_cast<std::uint32_t>(c + 1));
      used_[static_cast<std::size_t>(c)] = 1;
    }
    hint_ = folder_ + folderClusters_;
    std::fill(image_.begin() + ClusterAt(dcim_), image_.begin() + ClusterAt(dcim_) + options_.clusterSize, 0);
    PutEntry(ClusterAt(dcim_), ".          ", kFolder, dcim_, 0);
    PutEntry(ClusterAt(dcim_) + 32, "..         ", kFolder, 0, 0);
    PutEntry(ClusterAt(dcim_) + 64, "100CANON   ", kFolder, folder_, 0);
    WriteRoot();
    WriteDirectory();
  }

  // Writes the file into the clusters the allocator gives; returns its runs
  // of card bytes, none when the card is full.
  std::vector<std::pair<std::int64_t, std::int64_t>> Write(const std::string& name, const Bytes& bytes) {
    const std::int64_t need = std::max<std::int64_t>(1, (static_cast<std::int64_t>(bytes.size()) + options_.clusterSize - 1) /
                                                          options_.clusterSize);
    std::vector<std::int64_t> clusters;
    std::int64_t at = options_.nextFree ? hint_ : 2;
    for (std::int64_t tried = 0; tried < clusterCount_ && static_cast<std::int64_t>(clusters.size()) < need; ++tried) {
      if (at >= clusterCount_ + 2) at = 2;
      if (!used_[static_cast<std::size_t>(at)]) clusters.push_back(at);
      ++at;
    }
    std::vector<std::pair<std::int64_t, std::int64_t>> runs;
    if (static_cast<std::int64_t>(clusters.size()) < need) return runs;
    for (std::size_t i = 0; i < clusters.size(); ++i) {
      used_[static_cast<std::size_t>(clusters[i])] = 1;
      SetEntry(clusters[i], i + 1 < clusters.size() ? static_cast<std::uint32_t>(clusters[i + 1]) : 0x0FFFFFFF);
      if (i == 0 || clusters[i] != clusters[i - 1] + 1) runs.emplace_back(ClusterAt(clusters[i]), ClusterAt(clusters[i]));
      runs.back().second += options_.clusterSize;
      const std::int64_t from = static_cast<std::int64_t>(i) * options_.clusterSize;
      const std::int64_t count = std::min<std::int64_t>(options_.clusterSize, static_cast<std::int64_t>(bytes.size()) - from);
      if (count > 0) std::memcpy(image_.data() + ClusterAt(clusters[i]), bytes.data() + from, static_cast<std::size_t>(count));
    }
    hint_ = clusters.back() + 1;
    entries_.push_back({name, clusters.front(), static_cast<std::uint32_t>(bytes.size()), false});
    WriteDirectory();
    return runs;
  }

  // The camera's delete, and a computer's: the entry marked deleted, its
  // chain freed, its clusters left as they are.
  void Delete(const std::string& name) {
    for (Entry& entry : entries_) {
      if (entry.deleted || entry.name != name) continue;
      entry.deleted = true;
      for (std::int64_t c = entry.first; c >= 2 && c < clusterCount_ + 2;) {
        const std::int64_t next = EntryOf(c);
        SetEntry(c, 0);
        used_[static_cast<std::size_t>(c)] = 0;
        c = next >= 0x0FFFFFF8 || next == 0 ? -1 : next;
      }
    }
    WriteDirectory();
  }

  std::vector<std::string> Live() const {
    std::vector<std::string> names;
    for (const Entry& entry : entries_) {
      if (!entry.deleted) names.push_back(entry.name);
    }
    return names;
  }

  Bytes Take() { return std::move(image_); }

 private:
  struct Entry {
    std::string name;
    std::int64_t first;
    std::uint32_t size;
    bool deleted;
  };

  std::int64_t ClusterAt(std::int64_t cluster) const { return dataStart_ + (cluster - 2) * options_.clusterSize; }

  void SetEntry(std::int64_t cluster, std::uint32_t value) {
    for (int copy = 0; copy < 2; ++copy) {
      const std::int64_t fat = (reserved_ + copy * fatSectors_) * kSector;
      if (options_.fat32) {
        Le32(image_, fat + cluster * 4, value & 0x0FFFFFFF);
      } else {
        Le16(image_, fat + cluster * 2, value >= 0x0FFFFFF8 ? 0xFFFF : value & 0xFFFF);
      }
    }
  }

  std::int64_t EntryOf(std::int64_t cluster) const {
    const std::int64_t fat = reserved_ * kSector;
    const auto at = static_cast<std::size_t>(fat + cluster * (options_.fat32 ? 4 : 2));
    if (options_.fat32) {
      return (image_[at] | image_[at + 1] << 8 | image_[at + 2] << 16 | std::int64_t{image_[at + 3]} << 24) & 0x0FFFFFFF;
    }
    const std::int64_t value = image_[at] | image_[at + 1] << 8;
    return value >= 0xFFF8 ? 0x0FFFFFFF : value;
  }

  static constexpr std::uint8_t kFolder = 0x10, kArchive = 0x20;

  // One directory entry: eleven bytes of short name, attributes, first cluster, size.
  void PutEntry(std::int64_t at, const std::string& name, std::uint8_t attributes, std::int64_t first,
                std::uint32_t size) {
    std::memcpy(image_.data() + at, name.data(), 11);
    image_[static_cast<std::size_t>(at + 11)] = attributes;
    Le16(image_, at + 20, static_cast<std::uint32_t>(first >> 16));
    Le16(image_, at + 26, static_cast<std::uint32_t>(first & 0xFFFF));
    Le32(image_, at + 28, size);
  }

  // The root lists DCIM, once the camera has made it.
  void WriteRoot() {
    const std::int64_t root = options_.fat32 ? ClusterAt(2) : (reserved_ + 2 * fatSectors_) * kSector;
    const std::int64_t room = options_.fat32 ? rootClusters_ * options_.clusterSize : kRootEntries * 32;
    std::fill(image_.begin() + root, image_.begin() + root + room, 0);
    if (dcim_ > 0 && used_[static_cast<std::size_t>(dcim_)]) PutEntry(root, "DCIM       ", kFolder, dcim_, 0);
  }

  // DCIM/100CANON: its own entries, then one for each file, in the order written.
  void WriteDirectory() {
    const std::int64_t folder = ClusterAt(folder_);
    const std::int64_t room = folderClusters_ * options_.clusterSize;
    std::fill(image_.begin() + folder, image_.begin() + folder + room, 0);
    PutEntry(folder, ".          ", kFolder, folder_, 0);
    PutEntry(folder + 32, "..         ", kFolder, dcim_, 0);
    std::int64_t at = folder + 64;
    for (const Entry& entry : entries_) {
      if (at + 32 > folder + room) break;
      const std::size_t dot = entry.name.find('.');
      std::string base = entry.name.substr(0, dot), ext = entry.name.substr(dot + 1);
      base.resize(8, ' ');
      ext.resize(3, ' ');
      PutEntry(at, base + ext, kArchive, entry.first, entry.size);
      if (entry.deleted) image_[static_cast<std::size_t>(at)] = 0xE5;
      at += 32;
    }
  }

  CameraCardOptions options_;
  Bytes image_;
  std::int64_t reserved_ = 1;
  std::int64_t fatSectors_ = 1;
  std::int64_t dataStart_ = 0;
  std::int64_t clusterCount_ = 0;
  std::int64_t rootClusters_ = 0;
  std::int64_t dcim_ = 0, folder_ = 0, folderClusters_ = 0;  // the camera's folders' clusters
  std::int64_t hint_ = 2;
  std::vector<std::uint8_t> used_;
  std::vector<Entry> entries_;
};

std::string Numbered(const char* stem, int number, const char* extension) {
  char name[16];
  std::snprintf(name, sizeof name, "%s%04d.%s", stem, number % 10000, extension);
  return name;
}

}  // namespace

CameraCard MakeCameraCard(const CameraCardOptions& options) {
  Card card(options);
  CameraCard made;
  std::mt19937 random(options.seed);
  int number = 0;
  // Each round a day of its own from 10 November 2003 on, its shots some
  // seconds apart, as the camera's clock records them.
  const std::int64_t firstDay = SecondsOf({2003, 11, 10, 9, 0, 0});
  for (int round = 0; round < options.rounds; ++round) {
    std::int64_t clock = firstDay + std::int64_t{round} * 86400;
    for (int shot = 0; shot < options.shotsPerRound; ++shot) {
      ++number;
      clock += 5 + static_cast<std::int64_t>(random() % 90);
      PhotoFileOptions photo;
      photo.width = options.width;
      photo.height = options.height;
      photo.seed = options.seed * 1000 + static_cast<std::uint32_t>(number);
      photo.thumbnailWidth = 160;
      photo.thumbnailHeight = 120;
      // Canon's file number: the folder's number (100) and the photo's.
      photo.fileNumber = 1000000 + static_cast<std::uint32_t>(number % 10000);
      photo.originalFileName = Numbered("CRW_", number, "CRW");
      photo.thumbnailFileName = Numbered("CRW_", number, "THM");
      photo.timeStamp = static_cast<std::uint32_t>(clock);
      CameraCardPhoto taken{photo.originalFileName, MakePhotoFile(photo).bytes, 0, {}, false};
      taken.runs = card.Write(taken.name, taken.bytes);
      taken.pieces = static_cast<int>(taken.runs.size());
      if (taken.pieces == 0) break;  // the card is full
      std::string exifTime = ShotTimeText(clock);
      exifTime[4] = exifTime[7] = ':';
      card.Write(photo.thumbnailFileName, MakeThm(exifTime, photo.fileNumber));
      if (static_cast<int>(random() % 100) < options.jpgPercent) {
        card.Write(Numbered("IMG_", number, "JPG"), MakeJpeg(640 + static_cast<int>(random() % 320), 480));
      }
      made.photos.push_back(std::move(taken));
    }
    if (round + 1 == options.rounds) break;
    for (CameraCardPhoto& photo : made.photos) {
      if (photo.deletedInCamera || static_cast<int>(random() % 100) >= options.deletePercent) continue;
      photo.deletedInCamera = true;
      const std::string stem = photo.name.substr(4, 4);
      card.Delete(photo.name);
      card.Delete("CRW_" + stem + ".THM");
      card.Delete("IMG_" + stem + ".JPG");
    }
  }
  if (options.quickFormat) {
    card.Format();
  } else {
    for (const std::string& name : card.Live()) card.Delete(name);
  }
  made.image = card.Take();
  return made;
}

}  // namespace mendrake::testing
