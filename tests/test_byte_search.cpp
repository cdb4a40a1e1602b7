// The header search: the vector path and the portable one give the answer
// of a plain search, at every alignment and at the ends of the buffer.
#include "files/ByteSearch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace mendrake::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Search = const std::uint8_t* (*)(const std::uint8_t*, std::size_t, const std::uint8_t*, std::size_t);

const Bytes kSignature{'H', 'E', 'A', 'P', 'C', 'C', 'D', 'R'};

// Where std::search finds needle, as an offset; -1 when nowhere.
std::ptrdiff_t PlainSearch(const std::uint8_t* haystack, std::size_t length, const Bytes& needle) {
  const std::uint8_t* found = std::search(haystack, haystack + length, needle.begin(), needle.end());
  return found == haystack + length && !needle.empty() ? -1 : found - haystack;
}

std::ptrdiff_t Offset(Search search, const std::uint8_t* haystack, std::size_t length, const Bytes& needle) {
  const std::uint8_t* found = search(haystack, length, needle.data(), needle.size());
  return found == nullptr ? -1 : found - haystack;
}

// Every search agrees with the plain one on haystack[from, from + length).
void ExpectPlainAnswers(const Bytes& haystack, std::size_t from, std::size_t length, const Bytes& needle) {
  const std::ptrdiff_t plain = PlainSearch(haystack.data() + from, length, needle);
  const std::pair<Search, const char*> searches[] = {{&FindBytes, "FindBytes"},
                                                     {&FindBytesAvx512, "FindBytesAvx512"},
                                                     {&FindBytesAvx2, "FindBytesAvx2"},
                                                     {&FindBytesSse2, "FindBytesSse2"},
                                                     {&FindBytesPortable, "FindBytesPortable"}};
  for (const auto& [search, name] : searches) {
    ASSERT_EQ(Offset(search, haystack.data() + from, length, needle), plain)
        << "from " << from << ", length " << length << ", needle of " << needle.size() << " (" << name << ")";
  }
}

TEST(ByteSearch, FindsTheSignatureAtEveryPlaceOfAnyBuffer) {
  // Every placement in buffers of 0 to 144 bytes, from every alignment of 16:
  // the ends of the 64-, 32- and 16-byte turns and the bytes after them.
  Bytes haystack(144 + 16, '.');
  for (std::size_t from = 0; from < 16; ++from) {
    for (std::size_t length = 0; length <= 144; ++length) {
      ExpectPlainAnswers(haystack, from, length, kSignature);
      for (std::size_t at = 0; at + kSignature.size() <= length; ++at) {
        std::copy(kSignature.begin(), kSignature.end(), haystack.begin() + from + at);
        ExpectPlainAnswers(haystack, from, length, kSignature);
        std::fill(haystack.begin(), haystack.end(), '.');
      }
    }
  }
}

TEST(ByteSearch, AMatchCutByTheBufferEndIsNoMatch) {
  Bytes haystack(64, 0);
  std::copy(kSignature.begin(), kSignature.end(), haystack.end() - 8);
  for (std::size_t cut = 1; cut < kSignature.size(); ++cut) {
    ExpectPlainAnswers(haystack, 0, haystack.size() - cut, kSignature);
    EXPECT_EQ(Offset(&FindBytes, haystack.data(), haystack.size() - cut, kSignature), -1);
  }
  EXPECT_EQ(Offset(&FindBytes, haystack.data(), haystack.size(), kSignature), 56);
}

TEST(ByteSearch, ThePlacesWhereOnlyTheEndBytesStandAreSkipped) {
  // "H......R" at every place before the true signature: both end bytes
  // match, the middle does not; and two matches in one vector give the first.
  Bytes haystack;
  for (int i = 0; i < 20; ++i) {
    const Bytes decoy{'H', 'x', 'A', 'P', 'C', 'C', 'D', 'R'};
    haystack.insert(haystack.end(), decoy.begin(), decoy.begin() + 1 + i % 8);
  }
  haystack.insert(haystack.end(), kSignature.begin(), kSignature.end());
  haystack.insert(haystack.end(), kSignature.begin(), kSignature.end());
  haystack.resize(haystack.size() + 40, 'R');
  for (std::size_t from = 0; from < 16; ++from) ExpectPlainAnswers(haystack, from, haystack.size() - from, kSignature);
}

TEST(ByteSearch, OverlappingAndRepeatedNeedlesGiveTheFirstPlace) {
  // Needles whose first and last bytes are equal, and whose copies overlap.
  const std::vector<Bytes> needles{{'a', 'a'}, {'a', 'b', 'a'}, {'a', 'a', 'a', 'a', 'a', 'a', 'a', 'a', 'a'},
                                   {'a', 'b', 'a', 'b', 'a', 'b', 'a', 'c'}};
  for (const Bytes& needle : needles) {
    Bytes haystack;
    for (int i = 0; i < 6; ++i) haystack.insert(haystack.end(), {'a', 'b'});
    haystack.insert(haystack.end(), 50, 'a');
    haystack.insert(haystack.end(), {'a', 'b', 'a', 'b', 'a', 'b', 'a', 'c'});
    for (std::size_t from = 0; from < 16; ++from) {
      for (std::size_t length = 0; from + length <= haystack.size(); ++length) {
        ExpectPlainAnswers(haystack, from, length, needle);
      }
    }
  }
}

TEST(ByteSearch, ShortNeedlesAndEveryByteValue) {
  // An empty needle stands at the start; one byte is a memchr; bytes above
  // 127 compare as bytes, not as signed characters.
  Bytes haystack(100);
  for (std::size_t i = 0; i < haystack.size(); ++i) haystack[i] = static_cast<std::uint8_t>(200 + i);
  EXPECT_EQ(Offset(&FindBytes, haystack.data(), haystack.size(), {}), 0);
  EXPECT_EQ(Offset(&FindBytes, haystack.data(), 0, {0xFF}), -1);
  for (const Bytes& needle : {Bytes{0xFF}, Bytes{0xFF, 0x00}, Bytes{0x80, 0x81, 0x82}, Bytes{0xFE, 0xFF, 0x00, 0x01}}) {
    for (std::size_t from = 0; from < 16; ++from) ExpectPlainAnswers(haystack, from, haystack.size() - from, needle);
  }
}

TEST(ByteSearch, AgreesWithAPlainSearchOnRandomBytesOfFewValues) {
  // Four byte values make partial matches common: every kind of near miss.
  std::mt19937 random(27);
  for (int round = 0; round < 2000; ++round) {
    Bytes haystack(random() % 300);
    for (std::uint8_t& byte : haystack) byte = static_cast<std::uint8_t>('a' + random() % 4);
    Bytes needle(1 + random() % 10);
    for (std::uint8_t& byte : needle) byte = static_cast<std::uint8_t>('a' + random() % 4);
    const std::size_t from = haystack.empty() ? 0 : random() % std::min<std::size_t>(16, haystack.size());
    ExpectPlainAnswers(haystack, from, haystack.size() - from, needle);
  }
}

}  // namespace
}  // namespace mendrake::testing
