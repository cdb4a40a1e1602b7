#include "files/ByteSearch.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define MENDRAKE_HAVE_SSE2 1
#include <emmintrin.h>
#endif
// AVX2 is asked of the processor when the program runs, so a build for every
// x86-64 still takes it where it is there; GCC and Clang (MinGW among them)
// compile one function for it on its own.
#if defined(MENDRAKE_HAVE_SSE2) && (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define MENDRAKE_HAVE_AVX2 1
#include <immintrin.h>
#endif

namespace mendrake {

const std::uint8_t* FindBytesPortable(const std::uint8_t* haystack, std::size_t length, const std::uint8_t* needle,
                                      std::size_t needleLength) {
  if (needleLength == 0) return haystack;
  const std::uint8_t* end = haystack + length;
  for (const std::uint8_t* at = haystack; static_cast<std::size_t>(end - at) >= needleLength;) {
    const void* first = std::memchr(at, needle[0], static_cast<std::size_t>(end - at) - needleLength + 1);
    if (first == nullptr) return nullptr;
    at = static_cast<const std::uint8_t*>(first);
    if (std::memcmp(at + 1, needle + 1, needleLength - 1) == 0) return at;
    ++at;
  }
  return nullptr;
}

#ifdef MENDRAKE_HAVE_SSE2

namespace {

// Bit i set where a place of the 16 from at holds the first byte and, needle
// length - 1 further on, the last.
inline unsigned EndBytesMatch(const std::uint8_t* at, std::size_t lastOffset, __m128i first, __m128i last) {
  const __m128i starts = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), first);
  const __m128i ends = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + lastOffset)), last);
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(starts, ends)));
}

// Asks for the bytes a few turns ahead: a card scan searches blocks that the
// reading thread has just written on another core, and the search waited on
// each cache line as it came (a fifth of its time). A prefetch is only a
// hint: past the haystack's end it reads nothing and cannot fault.
inline void PrefetchAhead(const std::uint8_t* at) {
  constexpr std::uintptr_t kAhead = 2048;
  _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(at) + kAhead), _MM_HINT_T0);
}

// The first of the places marked in mask (from at) where the needle's middle
// bytes stand too.
inline const std::uint8_t* CheckMarked(const std::uint8_t* at, std::uint64_t mask, const std::uint8_t* needle,
                                       std::size_t needleLength) {
  for (; mask != 0; mask &= mask - 1) {
    const std::uint8_t* place = at + std::countr_zero(mask);
    if (std::memcmp(place + 1, needle + 1, needleLength - 2) == 0) return place;
  }
  return nullptr;
}

}  // namespace

const std::uint8_t* FindBytesSse2(const std::uint8_t* haystack, std::size_t length, const std::uint8_t* needle,
                                  std::size_t needleLength) {
  if (needleLength < 2 || length < needleLength) return FindBytesPortable(haystack, length, needle, needleLength);
  const __m128i first = _mm_set1_epi8(static_cast<char>(needle[0]));
  const __m128i last = _mm_set1_epi8(static_cast<char>(needle[needleLength - 1]));
  const std::size_t lastOffset = needleLength - 1;
  // Places whose 16 loads, first bytes and last bytes, stay inside the haystack.
  const std::size_t places = length - lastOffset;
  std::size_t at = 0;
  // Two vectors a turn: one branch for 32 places, as matches are rare.
  for (; at + 32 <= places; at += 32) {
    PrefetchAhead(haystack + at);
    const unsigned low = EndBytesMatch(haystack + at, lastOffset, first, last);
    const unsigned high = EndBytesMatch(haystack + at + 16, lastOffset, first, last);
    if ((low | high) == 0) continue;
    if (const std::uint8_t* found = CheckMarked(haystack + at, low | (high << 16), needle, needleLength)) return found;
  }
  for (; at + 16 <= places; at += 16) {
    const unsigned mask = EndBytesMatch(haystack + at, lastOffset, first, last);
    if (const std::uint8_t* found = CheckMarked(haystack + at, mask, needle, needleLength)) return found;
  }
  return FindBytesPortable(haystack + at, length - at, needle, needleLength);
}

#else

const std::uint8_t* FindBytesSse2(const std::uint8_t* haystack, std::size_t length, const std::uint8_t* needle,
                                  std::size_t needleLength) {
  return FindBytesPortable(haystack, length, needle, needleLength);
}

#endif

#ifdef MENDRAKE_HAVE_AVX2

namespace {

// As EndBytesMatch, for the 32 places from at.
__attribute__((target("avx2"))) inline std::uint32_t EndBytesMatch32(const std::uint8_t* at, std::size_t lastOffset,
                                                                     __m256i first, __m256i last) {
  const __m256i starts = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)), first);
  const __m256i ends =
      _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + lastOffset)), last);
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(starts, ends)));
}

bool ProcessorHasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

}  // namespace

__attribute__((target("avx2"))) const std::uint8_t* FindBytesAvx2(const std::uint8_t* haystack, std::size_t length,
                                                                   const std::uint8_t* needle,
                                                                   std::size_t needleLength) {
  if (!ProcessorHasAvx2() || needleLength < 2 || length < needleLength) {
    return FindBytesSse2(haystack, length, needle, needleLength);
  }
  const __m256i first = _mm256_set1_epi8(static_cast<char>(needle[0]));
  const __m256i last = _mm256_set1_epi8(static_cast<char>(needle[needleLength - 1]));
  const std::size_t lastOffset = needleLength - 1;
  const std::size_t places = length - lastOffset;
  std::size_t at = 0;
  for (; at + 64 <= places; at += 64) {
    PrefetchAhead(haystack + at);
    const std::uint32_t low = EndBytesMatch32(haystack + at, lastOffset, first, last);
    const std::uint32_t high = EndBytesMatch32(haystack + at + 32, lastOffset, first, last);
    if ((low | high) == 0) continue;
    const std::uint64_t mask = low | std::uint64_t{high} << 32;
    if (const std::uint8_t* found = CheckMarked(haystack + at, mask, needle, needleLength)) return found;
  }
  return FindBytesSse2(haystack + at, length - at, needle, needleLength);
}

#else

const std::uint8_t* FindBytesAvx2(const std::uint8_t* haystack, std::size_t length, const std::uint8_t* needle,
                                  std::size_t needleLength) {
  return FindBytesSse2(haystack, length, needle, needleLength);
}

#endif

#ifdef MENDRAKE_HAVE_AVX2

namespace {

bool ProcessorHasAvx512() {
  static const bool has = __builtin_cpu_supports("avx512bw");
  return has;
}

}  // namespace

// A mask compare gives the 64 places' marks without the movemask step.
__attribute__((target("avx512f,avx512bw"))) const std::uint8_t* FindBytesAvx512(const std::uint8_t* haystack,
                                                                                std::size_t length,
                                                                                const std::uint8_t* needle,
                                                                                std::size_t needleLength) {
  if (!ProcessorHasAvx512() || needleLength < 2 || length < needleLength) {
    return FindBytesAvx2(haystack, length, needle, needleLength);
  }
  const __m512i first = _mm512_set1_epi8(static_cast<char>(needle[0]));
  const __m512i last = _mm512_set1_epi8(static_cast<char>(needle[needleLength - 1]));
  const std::size_t lastOffset = needleLength - 1;
  const std::size_t places = length - lastOffset;
  std::size_t at = 0;
  for (; at + 128 <= places; at += 128) {
    PrefetchAhead(haystack + at);
    PrefetchAhead(haystack + at + 64);
    const __m512i low = _mm512_loadu_si512(haystack + at);
    const __m512i high = _mm512_loadu_si512(haystack + at + 64);
    const std::uint64_t lowMarks = _mm512_mask_cmpeq_epi8_mask(_mm512_cmpeq_epi8_mask(low, first),
                                                               _mm512_loadu_si512(haystack + at + lastOffset), last);
    const std::uint64_t highMarks = _mm512_mask_cmpeq_epi8_mask(
        _mm512_cmpeq_epi8_mask(high, first), _mm512_loadu_si512(haystack + at + 64 + lastOffset), last);
    if ((lowMarks | highMarks) == 0) continue;
    if (const std::uint8_t* found = CheckMarked(haystack + at, lowMarks, needle, needleLength)) return found;
    if (const std::uint8_t* found = CheckMarked(haystack + at + 64, highMarks, needle, needleLength)) return found;
  }
  return FindBytesAvx2(haystack + at, length - at, needle, needleLength);
}

#else

const std::uint8_t* FindBytesAvx512(const std::uint8_t* haystack, std::size_t length, const std::uint8_t* needle,
                                    std::size_t needleLength) {
  return FindBytesAvx2(haystack, length, needle, needleLength);
}

#endif

const std::uint8_t* FindBytes(const std::uint8_t* haystack, std::size_t length, const std::uint8_t* needle,
                              std::size_t needleLength) {
  return FindBytesAvx512(haystack, length, needle, needleLength);
}

}  // namespace mendrake
