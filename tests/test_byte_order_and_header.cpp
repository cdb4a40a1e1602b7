#include "analysis/AnalysisState.h"
#include "analysis/ByteOrder.h"
#include "analysis/FileImage.h"
#include "analysis/HeaderCheck.h"
#include "tests/support/CrwBuilder.h"

#include <gtest/gtest.h>

#include <string>

namespace mendrake::testing {
namespace {

void AssignBytes(FileImage& image, const Bytes& bytes) {
  image.Assign(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

Bytes Header(const std::string& order, Bytes length, const std::string& signature = "HEAPCCDR") {
  Bytes bytes(order.begin(), order.end());
  bytes.insert(bytes.end(), length.begin(), length.end());
  bytes.insert(bytes.end(), signature.begin(), signature.end());
  return bytes;
}

// ---------------------------------------------------------------- swaps

TEST(Swap, ExchangesTheBytesOfA16BitValue) {
  EXPECT_EQ(Swap16(0x1234), 0x3412);
  EXPECT_EQ(Swap16(0x00FF), 0xFF00);
  EXPECT_EQ(Swap16(Swap16(0xBEEF)), 0xBEEF);
}

TEST(Swap, ReversesTheBytesOfA32BitValue) {
  EXPECT_EQ(Swap32(0x11223344u), 0x44332211u);
  EXPECT_EQ(Swap32(0x000000FFu), 0xFF000000u);
  EXPECT_EQ(Swap32(0x0000FF00u), 0x00FF0000u);
  EXPECT_EQ(Swap32(Swap32(0xDEADBEEFu)), 0xDEADBEEFu);
}

// ---------------------------------------------------------------- whole reads

TEST(OrderedRead, WordFollowsTheDeclaredByteOrder) {
  FileImage image;
  AssignBytes(image, Bytes{0x12, 0x34});
  std::uint16_t value = 0;
  EXPECT_TRUE(ReadWord(image, value, /*bigEndian=*/true));
  EXPECT_EQ(value, 0x1234);
  EXPECT_EQ(image.Position(), 2);

  image.SetPosition(0);
  EXPECT_TRUE(ReadWord(image, value, /*bigEndian=*/false));
  EXPECT_EQ(value, 0x3412);
}

TEST(OrderedRead, DWordFollowsTheDeclaredByteOrder) {
  FileImage image;
  AssignBytes(image, Bytes{0x11, 0x22, 0x33, 0x44, 0x55});
  std::uint32_t value = 0;
  EXPECT_TRUE(ReadDWord(image, value, /*bigEndian=*/true));
  EXPECT_EQ(value, 0x11223344u);
  EXPECT_EQ(image.Position(), 4);

  image.SetPosition(1);
  EXPECT_TRUE(ReadDWord(image, value, /*bigEndian=*/false));
  EXPECT_EQ(value, 0x55443322u);
  EXPECT_EQ(image.Position(), 5);
}

// ---------------------------------------------------------------- short reads
// Bytes that arrive replace the variable's low-order bytes in order of arrival,
// the rest keeps what it held, nothing is swapped, and the read fails.

class ShortRead : public ::testing::TestWithParam<bool> {
 protected:
  bool bigEndian() const { return GetParam(); }
};

TEST_P(ShortRead, WordWithOneByteReplacesOnlyTheLowByte) {
  FileImage image;
  AssignBytes(image, Bytes{0x00, 0x12});
  image.SetPosition(1);
  std::uint16_t value = 0xABCD;
  EXPECT_FALSE(ReadWord(image, value, bigEndian()));
  EXPECT_EQ(value, 0xAB12);
  EXPECT_EQ(image.Position(), 2);
}

TEST_P(ShortRead, WordWithNoByteKeepsTheValue) {
  FileImage image;
  AssignBytes(image, Bytes{0x12});
  image.SetPosition(1);
  std::uint16_t value = 0xABCD;
  EXPECT_FALSE(ReadWord(image, value, bigEndian()));
  EXPECT_EQ(value, 0xABCD);
  EXPECT_EQ(image.Position(), 1);
}

TEST_P(ShortRead, DWordKeepsTheHighBytesThatDidNotArrive) {
  const Bytes tail{0xAA, 0xBB, 0xCC};
  const std::uint32_t expected[] = {0x11223344u, 0x112233AAu, 0x1122BBAAu, 0x11CCBBAAu};
  for (std::size_t arrive = 0; arrive <= 3; ++arrive) {
    FileImage image;
    AssignBytes(image, Bytes(tail.begin(), tail.begin() + static_cast<std::ptrdiff_t>(arrive)));
    std::uint32_t value = 0x11223344u;
    EXPECT_FALSE(ReadDWord(image, value, bigEndian())) << arrive << " bytes";
    EXPECT_EQ(value, expected[arrive]) << std::hex << value << " after " << arrive << " bytes";
    EXPECT_EQ(image.Position(), static_cast<std::int64_t>(arrive));
  }
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, ShortRead, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "BigEndian" : "LittleEndian"; });

// ---------------------------------------------------------------- header check

TEST(CheckHeader, AcceptsIntelAndMotorolaOrderAndTakesTheHeaderLengthInThatOrder) {
  AnalysisState state;
  FileImage image;
  AssignBytes(image, Header("MM", {0x00, 0x00, 0x00, 0x1A}));
  EXPECT_TRUE(CheckHeader(state, image));
  EXPECT_TRUE(state.BigEndian);
  EXPECT_EQ(state.HLen, 26u);

  AssignBytes(image, Header("II", {0x1A, 0x00, 0x00, 0x00}));
  EXPECT_TRUE(CheckHeader(state, image));
  EXPECT_FALSE(state.BigEndian);
  EXPECT_EQ(state.HLen, 26u);

  AssignBytes(image, Header("II", {0x04, 0x03, 0x02, 0x81}));
  EXPECT_TRUE(CheckHeader(state, image));
  EXPECT_EQ(state.HLen, 0x81020304u);
}

TEST(CheckHeader, ReadsFromTheStartWhereverThePositionWas) {
  AnalysisState state;
  FileImage image;
  Bytes bytes = Header("MM", {0x00, 0x00, 0x01, 0x00});
  bytes.resize(400, 0x55);
  AssignBytes(image, bytes);
  image.SetPosition(300);
  EXPECT_TRUE(CheckHeader(state, image));
  EXPECT_EQ(state.HLen, 256u);
}

TEST(CheckHeader, FourteenBytesAreEnoughAndThirteenAreNot) {
  AnalysisState state;
  FileImage image;
  const Bytes header = Header("II", {0x1A, 0, 0, 0});
  ASSERT_EQ(header.size(), 14u);
  AssignBytes(image, header);
  EXPECT_TRUE(CheckHeader(state, image));
  for (std::size_t size = 0; size < 14; ++size) {
    AssignBytes(image, Bytes(header.begin(), header.begin() + static_cast<std::ptrdiff_t>(size)));
    EXPECT_FALSE(CheckHeader(state, image)) << size << " bytes";
  }
}

TEST(CheckHeader, RejectsAnyOtherByteOrderMark) {
  AnalysisState state;
  FileImage image;
  for (const char* mark : {"ii", "mm", "IM", "MI", "Ii", "  "}) {
    AssignBytes(image, Header(mark, {0x1A, 0, 0, 0}));
    EXPECT_FALSE(CheckHeader(state, image)) << mark;
  }
}

TEST(CheckHeader, RejectsASignatureThatDiffersInAnyLetter) {
  AnalysisState state;
  FileImage image;
  for (const char* signature : {"HEAPCCDX", "XEAPCCDR", "heapccdr", "HEAPJPGM"}) {
    AssignBytes(image, Header("II", {0x1A, 0, 0, 0}, signature));
    EXPECT_FALSE(CheckHeader(state, image)) << signature;
  }
}

TEST(CheckHeader, AcceptsAHeaderLengthOfZeroOrPastTheEnd) {
  AnalysisState state;
  FileImage image;
  AssignBytes(image, Header("II", {0, 0, 0, 0}));
  EXPECT_TRUE(CheckHeader(state, image));
  EXPECT_EQ(state.HLen, 0u);
  AssignBytes(image, Header("MM", {0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_TRUE(CheckHeader(state, image));
  EXPECT_EQ(state.HLen, 0xFFFFFFFFu);
}

TEST(CheckHeader, AFailureKeepsTheByteOrderAndLengthOfTheLastFileThatPassed) {
  AnalysisState state;
  FileImage image;
  AssignBytes(image, Header("MM", {0x00, 0x00, 0x00, 0x40}));
  ASSERT_TRUE(CheckHeader(state, image));
  for (const Bytes& bad : {Header("II", {0x1A, 0, 0, 0}, "HEAPCCDX"), Header("ii", {0x1A, 0, 0, 0}), Bytes{'I', 'I'}}) {
    AssignBytes(image, bad);
    EXPECT_FALSE(CheckHeader(state, image));
    EXPECT_TRUE(state.BigEndian);
    EXPECT_EQ(state.HLen, 0x40u);
  }
}

TEST(CheckHeader, TheByteOrderItSetsGovernsLaterReads) {
  AnalysisState state;
  FileImage image;
  Bytes motorola = Header("MM", {0, 0, 0, 0x1A});
  motorola.insert(motorola.end(), {0x12, 0x34});
  AssignBytes(image, motorola);
  ASSERT_TRUE(CheckHeader(state, image));
  image.SetPosition(14);
  std::uint16_t value = 0;
  EXPECT_TRUE(ReadWord(image, value, state.BigEndian));
  EXPECT_EQ(value, 0x1234);

  Bytes intel = Header("II", {0x1A, 0, 0, 0});
  intel.insert(intel.end(), {0x12, 0x34});
  AssignBytes(image, intel);
  ASSERT_TRUE(CheckHeader(state, image));
  image.SetPosition(14);
  EXPECT_TRUE(ReadWord(image, value, state.BigEndian));
  EXPECT_EQ(value, 0x3412);
}

// ---------------------------------------------------------------- found size

TEST(SearchFoundSize, NeedsMoreThanTheHeaderLengthPlusOneTakenIn64Bits) {
  AnalysisState state;
  state.HLen = 26;
  state.FFilesize = 27;
  EXPECT_FALSE(SearchFoundSize(state));
  state.FFilesize = 28;
  EXPECT_TRUE(SearchFoundSize(state));
  // In 32 bits HLen + 1 would wrap to 0 and any size would count as found.
  state.HLen = 0xFFFFFFFFu;
  state.FFilesize = 100;
  EXPECT_FALSE(SearchFoundSize(state));
  state.FFilesize = 0x100000000;
  EXPECT_FALSE(SearchFoundSize(state));
  state.FFilesize = 0x100000001;
  EXPECT_TRUE(SearchFoundSize(state));
}

}  // namespace
}  // namespace mendrake::testing
