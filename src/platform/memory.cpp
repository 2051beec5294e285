#include "platform/memory.hpp"

#include <sys/mman.h>

#include <cstdint>

namespace platform {

void AdviseLargeBuffer(void* data, std::size_t size) noexcept {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t end = (begin + size) & ~(kHuge - 1);
  if (data == nullptr || end <= first) return;
  (void)::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

}  // namespace platform
