#pragma once
// Room for large byte buffers (a mail of many megabytes, its attachment, the
// text of a folder's update).
//
// Each page of fresh memory costs the process a page fault when it is first
// written, and in a virtual machine a fault is expensive: a 13 MB buffer of
// 4 KiB pages takes some 3,300 of them, more time than filling it. A buffer
// reserved here is, from a few megabytes on, offered to the kernel for huge
// pages (2 MiB: a few faults instead of thousands). Where the system does not
// use huge pages this changes nothing.
#include <cstddef>

namespace platform {

// Buffers below this size are reserved as usual.
inline constexpr std::size_t kLargeBuffer = std::size_t{4} << 20;

// Asks for huge pages for the whole 2 MiB blocks inside [data, data + size)
// (untouched memory of this process). Failures are ignored: it is advice.
void AdviseLargeBuffer(void* data, std::size_t size) noexcept;

// c.reserve(n), plus the advice for a large buffer. For std::string and
// std::vector of bytes.
template <class Container>
void ReserveBytes(Container& c, std::size_t n) {
  const bool fresh = n > c.capacity();
  c.reserve(n);
  if (fresh && n >= kLargeBuffer) {
    AdviseLargeBuffer(static_cast<void*>(c.data() + c.size()), (c.capacity() - c.size()) * sizeof(*c.data()));
  }
}

}  // namespace platform
