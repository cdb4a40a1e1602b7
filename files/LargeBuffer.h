#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>

namespace mendrake {

// Buffers of a megabyte and more (file images, decoded pictures) get a mapping
// of their own in whole huge pages. Such a buffer is filled front to back once
// and, for a file image, then probed at scattered places; with small pages
// each 4 KiB costs a page fault on filling and each probe a TLB miss, and on
// virtual machines both are many times dearer than on bare hardware.
inline constexpr std::size_t kLargeBufferFrom = std::size_t{256} << 10;

// AddressSanitizer sees overruns of heap blocks only, so its builds keep every
// buffer on the heap.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kMapLargeBuffers = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kMapLargeBuffers = false;
#else
inline constexpr bool kMapLargeBuffers = true;
#endif
#else
inline constexpr bool kMapLargeBuffers = true;
#endif

// Whether a buffer of this many bytes gets a mapping of its own.
constexpr bool IsLargeBuffer(std::size_t bytes) { return kMapLargeBuffers && bytes >= kLargeBufferFrom; }

// Length of the mapping that holds a large buffer of this many bytes.
std::size_t LargeBufferLength(std::size_t bytes);
// A mapping of LargeBufferLength(bytes), on a huge-page boundary where the
// system has huge pages for every user (Linux); throws std::bad_alloc.
std::uint8_t* MapLargeBuffer(std::size_t bytes);
// Gives back a mapping of MapLargeBuffer, told the same byte count.
void UnmapLargeBuffer(std::uint8_t* buffer, std::size_t bytes) noexcept;

// A std::vector allocator that puts large buffers into such mappings and the
// rest on the heap.
template <typename T>
struct LargeBufferAllocator {
  static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
  using value_type = T;

  LargeBufferAllocator() = default;
  template <typename U>
  LargeBufferAllocator(const LargeBufferAllocator<U>& /*other*/) noexcept {}

  T* allocate(std::size_t count) {
    if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_array_new_length();
    const std::size_t bytes = count * sizeof(T);
    if (IsLargeBuffer(bytes)) return reinterpret_cast<T*>(MapLargeBuffer(bytes));
    return static_cast<T*>(::operator new(bytes));
  }

  void deallocate(T* items, std::size_t count) noexcept {
    const std::size_t bytes = count * sizeof(T);
    if (IsLargeBuffer(bytes)) {
      UnmapLargeBuffer(reinterpret_cast<std::uint8_t*>(items), bytes);
    } else {
      ::operator delete(items);
    }
  }

  template <typename U>
  bool operator==(const LargeBufferAllocator<U>& /*other*/) const noexcept {
    return true;
  }
};

}  // namespace mendrake
