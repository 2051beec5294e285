// Reserving room for large buffers: whatever the size, the room is there and
// what the buffer held before is kept (the advice for huge pages never
// touches the bytes).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/memory.hpp"

namespace platform {
namespace {

template <class Container>
void ReserveKeepsAndMakesRoom(std::size_t held, std::size_t wanted) {
  Container c;
  for (std::size_t i = 0; i < held; ++i) c.push_back(static_cast<typename Container::value_type>('a' + i % 26));
  ReserveBytes(c, wanted);
  ASSERT_GE(c.capacity(), wanted);
  ASSERT_EQ(c.size(), held);
  for (std::size_t i = 0; i < held; ++i) ASSERT_EQ(c[i], static_cast<typename Container::value_type>('a' + i % 26));
  const auto* before = c.data();
  c.resize(wanted, 'z');  // fills the reserved room without moving the buffer
  EXPECT_EQ(c.data(), before);
  if (wanted > held) {
    EXPECT_EQ(c[wanted - 1], 'z');
  }
}

TEST(LargeBufferTest, ReserveBytesMakesRoomAndKeepsTheContent) {
  struct Case {
    std::size_t held;
    std::size_t wanted;
  };
  for (const Case& k : {Case{0, 0}, Case{0, 100}, Case{10, 5}, Case{0, kLargeBuffer}, Case{1000, 13 * kLargeBuffer / 4 + 7},
                        Case{3 * kLargeBuffer, 3 * kLargeBuffer + 1}}) {
    SCOPED_TRACE(std::to_string(k.held) + " held, " + std::to_string(k.wanted) + " wanted");
    ReserveKeepsAndMakesRoom<std::string>(k.held, k.wanted);
    ReserveKeepsAndMakesRoom<std::vector<std::uint8_t>>(k.held, k.wanted);
  }
}

TEST(LargeBufferTest, AdviceOnAnyRangeIsHarmless) {
  AdviseLargeBuffer(nullptr, 0);
  AdviseLargeBuffer(nullptr, 64u << 20);
  std::vector<char> small(100, 'x');
  AdviseLargeBuffer(small.data(), small.size());
  std::vector<char> big(9u << 20, 'y');
  AdviseLargeBuffer(big.data() + 1, big.size() - 1);
  EXPECT_EQ(small[99], 'x');
  EXPECT_EQ(big[0], 'y');
  EXPECT_EQ(big[big.size() - 1], 'y');
}

}  // namespace
}  // namespace platform
