#pragma once

#include "tests/support/CrwBuilder.h"
#include "tests/support/SyntheticPhoto.h"

#include <cstdint>

namespace mendrake::testing {

// Compresses sensor values the way the cameras do, with one of the three
// table sets, into the bytes of a raw data record: the low two bits of every
// value first when the image has 12 bits, then 514 zero bytes, then the
// Huffman-coded stream, byte-stuffed. Width a multiple of 8; as the cameras
// do, the last stripe of eight rows codes whole blocks of 64 only.
Bytes EncodeCanonRaw(const SensorImage& image, std::uint32_t tableSet);

// Where the compressed stream begins inside such a record.
std::size_t CanonRawStreamOffset(const SensorImage& image);

}  // namespace mendrake::testing
