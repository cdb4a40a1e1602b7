#include "tests/support/RawEncoder.h"

#include "recovery/CanonRawTables.h"

#include <array>
#include <cstdlib>
#include <stdexcept>

namespace mendrake::testing {
namespace {

struct Code {
  std::uint32_t bits = 0;
  int length = 0;  // 0: the table has no such leaf
};

// The canonical code of every leaf of one table.
template <std::size_t N>
std::array<Code, 256> CodesOf(const std::array<std::uint8_t, N>& table) {
  std::array<Code, 256> codes{};
  std::uint32_t code = 0;
  std::size_t leaf = 16;
  for (int length = 1; length <= 16; ++length) {
    for (int k = 0; k < table[length - 1]; ++k, ++code, ++leaf) codes[table[leaf]] = {code, length};
    code <<= 1;
  }
  return codes;
}

class BitWriter {
 public:
  explicit BitWriter(Bytes& out) : out_(out) {}

  void Put(std::uint32_t bits, int length) {
    for (int i = length - 1; i >= 0; --i) {
      byte_ = static_cast<std::uint8_t>((byte_ << 1) | ((bits >> i) & 1));
      if (++filled_ == 8) Flush();
    }
  }

  void Code(const Code& code) {
    if (code.length == 0) throw std::logic_error("no code for this leaf");
    Put(code.bits, code.length);
  }

  // A difference in as many bits as its magnitude needs; a negative one as
  // its value plus 2^n - 1, so that its first bit is 0.
  static int SizeOf(std::int32_t difference) {
    int size = 0;
    for (std::uint32_t magnitude = static_cast<std::uint32_t>(std::abs(difference)); magnitude; magnitude >>= 1) ++size;
    return size;
  }
  void Difference(std::int32_t difference, int size) {
    if (size == 0) return;
    Put(static_cast<std::uint32_t>(difference < 0 ? difference + (1 << size) - 1 : difference), size);
  }

  // The last byte filled up with zero bits.
  void End() {
    if (filled_ == 0) return;
    byte_ = static_cast<std::uint8_t>(byte_ << (8 - filled_));
    filled_ = 8;
    Flush();
  }

 private:
  void Flush() {
    out_.push_back(byte_);
    if (byte_ == 0xFF) out_.push_back(0x00);
    byte_ = 0;
    filled_ = 0;
  }

  Bytes& out_;
  std::uint8_t byte_ = 0;
  int filled_ = 0;
};

}  // namespace

std::size_t CanonRawStreamOffset(const SensorImage& image) {
  const std::size_t lowBits = image.bits == 12 ? image.values.size() / 4 : 0;
  return lowBits + 514;
}

Bytes EncodeCanonRaw(const SensorImage& image, std::uint32_t tableSet) {
  if (image.width % 8 != 0 || tableSet > 2) {
    throw std::invalid_argument("no CRW compression for this sensor");
  }
  const int shift = image.bits == 12 ? 2 : 0;
  Bytes record;
  if (shift) {
    record.assign(image.values.size() / 4, 0);
    for (std::size_t i = 0; i < image.values.size(); ++i) {
      record[i / 4] = static_cast<std::uint8_t>(record[i / 4] | ((image.values[i] & 3) << (2 * (i % 4))));
    }
  }
  record.resize(record.size() + 514, 0);

  const std::array<Code, 256> firstCodes = CodesOf(CanonRawTables::kFirstValueTables[tableSet]);
  const std::array<Code, 256> otherCodes = CodesOf(CanonRawTables::kOtherValueTables[tableSet]);
  BitWriter writer(record);
  std::array<std::int32_t, 2> base{};
  std::int32_t carry = 0;
  std::uint32_t column = 0;
  // The last stripe's values past its last whole block are not coded.
  const std::size_t coded = image.values.size() - (image.height % 8) * image.width % 64;
  for (std::size_t block = 0; block < coded; block += 64) {
    std::array<std::int32_t, 64> differences{};
    for (int i = 0; i < 64; ++i) {
      if (column == 0) base = {512, 512};
      const std::int32_t value = image.values[block + i] >> shift;
      differences[i] = value - base[i & 1];
      base[i & 1] = value;
      if (++column == image.width) column = 0;
    }
    // The first difference is coded against the block before's.
    const std::int32_t first = differences[0] - carry;
    carry = differences[0];
    const int firstSize = BitWriter::SizeOf(first);
    writer.Code(firstCodes[firstSize]);
    writer.Difference(first, firstSize);
    int last = 63;
    while (last > 0 && differences[last] == 0) --last;
    int run = 0;
    for (int i = 1; i <= last; ++i) {
      if (differences[i] == 0) {
        ++run;
        continue;
      }
      for (; run > 15; run -= 16) writer.Code(otherCodes[0xF0]);
      const int size = BitWriter::SizeOf(differences[i]);
      writer.Code(otherCodes[(run << 4) | size]);
      writer.Difference(differences[i], size);
      run = 0;
    }
    if (last < 63) writer.Code(otherCodes[CanonRawTables::kEndOfBlock]);
  }
  writer.End();
  return record;
}

}  // namespace mendrake::testing
