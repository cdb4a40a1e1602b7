// Large buffers on POSIX systems: anonymous mappings in huge pages.
#include "files/LargeBuffer.h"

#include <sys/mman.h>

namespace mendrake {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

std::size_t LargeBufferLength(std::size_t bytes) { return (bytes + kHugePage - 1) & ~(kHugePage - 1); }

std::uint8_t* MapLargeBuffer(std::size_t bytes) {
  const std::size_t length = LargeBufferLength(bytes);
  if (length < bytes) throw std::bad_alloc();
  // Map one huge page more than needed and trim both ends to a boundary.
  const std::size_t slack = kHugePage;
  void* mapped = ::mmap(nullptr, length + slack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = (start + kHugePage - 1) & ~std::uintptr_t{kHugePage - 1};
  const std::uintptr_t end = start + length + slack;
  if (aligned > start) ::munmap(mapped, aligned - start);
  if (end > aligned + length) ::munmap(reinterpret_cast<void*>(aligned + length), end - (aligned + length));
#ifdef MADV_HUGEPAGE
  // Only a hint: without transparent huge pages the mapping works as it is.
  ::madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
#endif
  return reinterpret_cast<std::uint8_t*>(aligned);
}

void UnmapLargeBuffer(std::uint8_t* buffer, std::size_t bytes) noexcept {
  if (buffer != nullptr) ::munmap(buffer, LargeBufferLength(bytes));
}

}  // namespace mendrake
