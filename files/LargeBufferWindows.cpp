// Large buffers on Windows: committed pages of their own from VirtualAlloc.
// Large pages there need a privilege that ordinary users lack, so the pages
// are the ordinary ones.
#include "files/LargeBuffer.h"

#include <windows.h>

namespace mendrake {
namespace {

constexpr std::size_t kGranule = std::size_t{2} << 20;

}  // namespace

std::size_t LargeBufferLength(std::size_t bytes) { return (bytes + kGranule - 1) & ~(kGranule - 1); }

std::uint8_t* MapLargeBuffer(std::size_t bytes) {
  const std::size_t length = LargeBufferLength(bytes);
  if (length < bytes) throw std::bad_alloc();
  void* pages = ::VirtualAlloc(nullptr, length, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (pages == nullptr) throw std::bad_alloc();
  return static_cast<std::uint8_t*>(pages);
}

void UnmapLargeBuffer(std::uint8_t* buffer, std::size_t /*bytes*/) noexcept {
  if (buffer != nullptr) ::VirtualFree(buffer, 0, MEM_RELEASE);
}

}  // namespace mendrake
