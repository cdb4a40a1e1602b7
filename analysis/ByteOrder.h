#pragma once

#include "analysis/FileImage.h"

#include <cstdint>

namespace mendrake {

inline std::uint16_t Swap16(std::uint16_t value) {
  return static_cast<std::uint16_t>((value >> 8) | (value << 8));
}

inline std::uint32_t Swap32(std::uint32_t value) {
  return (value >> 24) | ((value >> 8) & 0x0000FF00u) | ((value << 8) & 0x00FF0000u) | (value << 24);
}

// Reads an unsigned value of sizeof(T) bytes in the file's byte order. The
// bytes land in the variable as they would in a little-endian machine's memory:
// on a short read the bytes that did arrive replace its low-order bytes, the
// rest keeps what it held, no swap is made and false is returned. Callers that
// ignore the result rely on exactly that.
template <typename T>
inline bool ReadOrdered(FileImage& image, T& value, bool bigEndian) {
  std::uint8_t bytes[sizeof(T)];
  const std::int64_t got = image.Read(bytes, sizeof(T));
  T assembled = value;
  for (std::int64_t i = 0; i < got; ++i) {
    const unsigned shift = static_cast<unsigned>(8 * i);
    assembled = static_cast<T>((assembled & ~(static_cast<T>(0xFF) << shift)) | (static_cast<T>(bytes[i]) << shift));
  }
  value = assembled;
  if (got < static_cast<std::int64_t>(sizeof(T))) return false;
  if (bigEndian) {
    if constexpr (sizeof(T) == 2) value = Swap16(value);
    else value = Swap32(value);
  }
  return true;
}

inline bool ReadWord(FileImage& image, std::uint16_t& value, bool bigEndian) {
  return ReadOrdered(image, value, bigEndian);
}

inline bool ReadDWord(FileImage& image, std::uint32_t& value, bool bigEndian) {
  return ReadOrdered(image, value, bigEndian);
}

// The same decoding straight from memory, for the size search's hot loop;
// the caller has checked that the bytes lie inside the image. The byte order
// is a template argument where a loop is instantiated once per order.
template <bool kBigEndian>
inline std::uint16_t LoadWordAs(const std::uint8_t* bytes) {
  const auto value = static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
  return kBigEndian ? Swap16(value) : value;
}

template <bool kBigEndian>
inline std::uint32_t LoadDWordAs(const std::uint8_t* bytes) {
  std::uint32_t value;
  std::memcpy(&value, bytes, 4);  // little-endian host: x86-64 and ARM64 as run
  return kBigEndian ? Swap32(value) : value;
}

inline std::uint16_t LoadWord(const std::uint8_t* bytes, bool bigEndian) {
  return bigEndian ? LoadWordAs<true>(bytes) : LoadWordAs<false>(bytes);
}

inline std::uint32_t LoadDWord(const std::uint8_t* bytes, bool bigEndian) {
  return bigEndian ? LoadDWordAs<true>(bytes) : LoadDWordAs<false>(bytes);
}

}  // namespace mendrake
