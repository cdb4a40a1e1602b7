#pragma once

#include <cstddef>
#include <cstdint>

namespace mendrake {

// The first place in haystack where needle's bytes stand, or null; an empty
// needle stands at the start. Where the processor has SSE2 (every x86-64),
// sixteen places are tried at once for the needle's first and last bytes and
// only places where both stand are compared whole: a signature's two end
// bytes rarely stand together by chance, so the search keeps the pace of
// memory. Where it has AVX2 too, thirty-two places at once, which halves the
// search's work on bytes already in the processor's cache, and with AVX-512
// sixty-four. Elsewhere the portable search below.
const std::uint8_t* FindBytes(const std::uint8_t* haystack, std::size_t length, const std::uint8_t* needle,
                              std::size_t needleLength);

// The vector searches FindBytes chooses from, each on its own for tests: one
// whose instructions the processor (or the build) lacks is the next narrower.
const std::uint8_t* FindBytesAvx512(const std::uint8_t* haystack, std::size_t length, const std::uint8_t* needle,
                                    std::size_t needleLength);
const std::uint8_t* FindBytesAvx2(const std::uint8_t* haystack, std::size_t length, const std::uint8_t* needle,
                                  std::size_t needleLength);
const std::uint8_t* FindBytesSse2(const std::uint8_t* haystack, std::size_t length, const std::uint8_t* needle,
                                  std::size_t needleLength);

// The same answer without vector instructions: memchr finds each candidate
// for the first byte (fast where that byte is rare, as a signature's is),
// memcmp checks the rest.
const std::uint8_t* FindBytesPortable(const std::uint8_t* haystack, std::size_t length, const std::uint8_t* needle,
                                      std::size_t needleLength);

}  // namespace mendrake
