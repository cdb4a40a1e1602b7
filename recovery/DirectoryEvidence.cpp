#include "recovery/DirectoryEvidence.h"

#include <algorithm>
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

// The four digits of a name in the camera's form ("CRW_1234.CRW", or
// "?RW_1234.CRW" where a deletion took its first letter), or -1: a name given
// on a computer says nothing of the camera's numbering.
int CameraNumberOf(const std::string& name) {
  if (name.size() != 12 || name[3] != '_' || !EndsWithCrw(name)) return -1;
  int number = 0;
  for (std::size_t i = 4; i < 8; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return -1;
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

// The number the photo's records give it: its recorded name's, else its file
// number's, which the camera counts folder * 10000 + number (1001234 for
// 100-1234). -1 when neither has the camera's form.
int RecordedNumberOf(const CrwRecords& records) {
  if (const int number = CameraNumberOf(records.originalFileName); number >= 0) return number;
  constexpr std::uint32_t kFirstFolder = 100, kLastFolder = 999;
  if (records.fileNumber / 10000 >= kFirstFolder && records.fileNumber / 10000 <= kLastFolder) {
    return static_cast<int>(records.fileNumber % 10000);
  }
  return -1;
}

// Whether the entry may be the photo whose records these are: where both
// number it as a camera does, the numbers agree.
bool RecordsAgree(const NamedFile& entry, const CrwRecords& records) {
  const int named = CameraNumberOf(entry.name), recorded = RecordedNumberOf(records);
  return named < 0 || recorded < 0 || named == recorded;
}

// Whether the camera wrote entry a after b, where both name one cluster: a
// kept entry's file took the cluster after a deleted one's, and the camera
// numbers its photos up. Neither where they tell nothing apart.
bool WrittenAfter(const NamedFile& a, const NamedFile& b) {
  if (a.deleted != b.deleted) return !a.deleted;
  const int first = CameraNumberOf(a.name), second = CameraNumberOf(b.name);
  return first >= 0 && second >= 0 && first > second;
}

// Of the CRW entries, the one written after every other, or none.
const NamedFile* LastWritten(const std::vector<NamedFile>& entries) {
  const auto counts = [](const NamedFile& entry) { return EndsWithCrw(entry.name) && entry.size > 0; };
  for (const NamedFile& entry : entries) {
    if (!counts(entry)) continue;
    const auto before = [&](const NamedFile& other) {
      return &other == &entry || !counts(other) || WrittenAfter(entry, other);
    };
    if (std::all_of(entries.begin(), entries.end(), before)) return &entry;
  }
  return nullptr;
}

std::string NameOfPhoto(const CrwRecords& records) {
  char name[32];
  std::snprintf(name, sizeof name, "CRW_%04d.CRW", RecordedNumberOf(records));
  return name;
}

}  // namespace

std::vector<std::int64_t> DirectoryEvidence::SizesAt(std::int64_t start) const {
  std::vector<std::int64_t> sizes;
  const std::optional<std::uint32_t> cluster = volume_ ? FirstClusterAt(*volume_, start) : std::nullopt;
  if (!cluster) return sizes;
  for (const NamedFile& entry : directories_.AllByFirstCluster(*cluster)) {
    if (EndsWithCrw(entry.name) && entry.size > 0) sizes.push_back(entry.size);
  }
  return sizes;
}

DirectoryWord DirectoryEvidence::Weigh(std::int64_t start, std::int64_t size, const CrwRecords* records) const {
  DirectoryWord word;
  const std::optional<std::uint32_t> cluster = volume_ ? FirstClusterAt(*volume_, start) : std::nullopt;
  if (!cluster) return word;
  const std::vector<NamedFile> entries = directories_.AllByFirstCluster(*cluster);
  std::string sizes;
  bool sized = false, agreed = false, oneSize = true;
  std::int64_t firstSize = -1;
  const NamedFile* last = LastWritten(entries);
  for (const NamedFile& entry : entries) {
    // An entry of no size claims no clusters. One of another kind (a THM, a
    // JPG) is older than the CRW header found on its cluster, and says
    // nothing of that file's size.
    if (!EndsWithCrw(entry.name) || entry.size == 0) continue;
    if (firstSize < 0) firstSize = entry.size;
    oneSize = oneSize && entry.size == firstSize;
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
  const bool lastGivesSize = last && last->size == size;
  word.mayFixSize = word.fault.empty() && (oneSize || lastGivesSize);
  word.fixesSize = word.fault.empty() &&
                   (oneSize || (lastGivesSize && records && RecordedNumberOf(*records) >= 0 &&
                                RecordedNumberOf(*records) == CameraNumberOf(last->name)));
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
