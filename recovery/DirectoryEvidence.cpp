#include "recovery/DirectoryEvidence.h"

#include "recovery/PhotoName.h"

#include <cctype>
#include <cstdio>

namespace mendrake {
namespace {

bool EndsWithCrw(const std::string& name) {
  if (name.size() < 4) return false;
  std::string extension = name.substr(name.size() - 4);
  for (char& c : extension) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return extension == ".CRW";
}

bool SameName(const std::string& entry, const std::string& recorded, bool firstLetterLost) {
  if (entry.size() != recorded.size()) return false;
  for (std::size_t i = firstLetterLost ? 1 : 0; i < entry.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(entry[i])) != std::toupper(static_cast<unsigned char>(recorded[i]))) {
      return false;
    }
  }
  return true;
}

// The camera numbers its files folder * 10000 + number (1001234 for
// 100-1234), and names them for the number: "CRW_1234.CRW".
bool NumberMatches(const std::string& entry, std::uint32_t fileNumber) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%04u", fileNumber % 10000);
  return entry.size() == 12 && entry.compare(4, 4, digits) == 0;
}

// Whether the entry may be the photo whose records these are. Records of no
// camera's form (a name that is no bare CRW name, a number without its
// folder) say nothing either way.
bool RecordsAgree(const NamedFile& entry, const CrwRecords& records) {
  if (!CameraNameStem(records.originalFileName, ".CRW").empty()) {
    return SameName(entry.name, records.originalFileName, entry.firstLetterLost);
  }
  constexpr std::uint32_t kFirstFolder = 100, kLastFolder = 999;
  if (records.fileNumber / 10000 >= kFirstFolder && records.fileNumber / 10000 <= kLastFolder) {
    return NumberMatches(entry.name, records.fileNumber);
  }
  return true;
}

std::string NameOfPhoto(const CrwRecords& records) {
  if (!CameraNameStem(records.originalFileName, ".CRW").empty()) return records.originalFileName;
  char name[16];
  std::snprintf(name, sizeof name, "CRW_%04u.CRW", records.fileNumber % 10000);
  return name;
}

}  // namespace

DirectoryWord DirectoryEvidence::Weigh(std::int64_t start, std::int64_t size, const CrwRecords* records) const {
  DirectoryWord word;
  if (!volume_ || volume_->kind == FatVolume::Kind::kExFat || start < volume_->dataStart ||
      (start - volume_->dataStart) % volume_->clusterSize != 0) {
    return word;
  }
  const auto cluster = static_cast<std::uint32_t>((start - volume_->dataStart) / volume_->clusterSize + 2);
  const std::vector<NamedFile> entries = directories_.AllByFirstCluster(cluster);
  std::string sizes;
  bool sized = false, agreed = false, oneSize = true;
  for (const NamedFile& entry : entries) {
    oneSize = oneSize && entry.size == entries.front().size;
    if (!EndsWithCrw(entry.name)) continue;
    word.named = true;
    sizes += (sizes.empty() ? "" : " and ") + entry.name + " " + GroupedDigits(entry.size) + " bytes";
    if (entry.size != size) continue;
    sized = true;
    agreed = agreed || !records || RecordsAgree(entry, *records);
  }
  if (!word.named) return word;
  if (!sized) {
    word.fault = "the card's directory gives " + sizes + ", not " + GroupedDigits(size);
  } else if (!agreed) {
    word.fault = "the card's directory gives " + sizes + ", but its records name it " + NameOfPhoto(*records);
  }
  word.fixesSize = word.fault.empty() && oneSize;
  return word;
}

std::string GroupedDigits(std::int64_t value) {
  const std::string digits = std::to_string(value);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && digits[i - 1] != '-' && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

}  // namespace mendrake
