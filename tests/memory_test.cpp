#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/memory.h"

namespace ordil {
namespace {

// Preparing memory must leave every byte as it was, inside the block (it
// is filled already when a window is widened) and around it, wherever the
// block starts and ends within its pages.
TEST(Memory, PreparingKeepsEveryByte) {
  constexpr size_t kSize = 3 << 16;
  const std::unique_ptr<unsigned char[]> block(new unsigned char[kSize]);
  const auto pattern = [](size_t i) { return static_cast<unsigned char>(i * 7 + 1); };
  for (size_t i = 0; i < kSize; ++i) block[i] = pattern(i);
  const struct {
    size_t offset, size;
  } ranges[] = {{0, kSize}, {1, kSize - 2}, {4095, 8193}, {100, 50}, {5000, 0}};
  for (const auto& r : ranges) {
    SCOPED_TRACE(::testing::Message() << r.offset << " + " << r.size);
    platform::prepareWritable(block.get() + r.offset, r.size);
    for (size_t i = 0; i < kSize; ++i) ASSERT_EQ(block[i], pattern(i)) << "byte " << i;
  }
  // Less than a page holds no whole page to prepare.
  EXPECT_FALSE(platform::prepareWritable(block.get() + 100, 50));
}

// Blocks on either side of the sizes that take large pages (1 MiB, and
// multiples of 2 MiB) hold every byte written to them, prepared or not.
TEST(Memory, LargeBlocksHoldEveryByte) {
  constexpr size_t kMiB = size_t{1} << 20;
  for (const size_t n : {size_t{1}, size_t{4095}, kMiB - 1, kMiB, kMiB + 1, 2 * kMiB,
                         2 * kMiB + 1, 5 * kMiB + 3}) {
    SCOPED_TRACE(n);
    for (const bool prepared : {false, true}) {
      auto* const block = static_cast<unsigned char*>(platform::allocateLarge(n));
      ASSERT_NE(block, nullptr);
      if (prepared) platform::prepareWritable(block, n);
      for (size_t i = 0; i < n; ++i) block[i] = static_cast<unsigned char>(i * 13 + 5);
      for (size_t i = 0; i < n; ++i) {
        ASSERT_EQ(block[i], static_cast<unsigned char>(i * 13 + 5)) << "byte " << i;
      }
      platform::releaseLarge(block, n);
    }
  }
}

// Preparing works in whole pages of the buffer's kind, but never past its
// capacity, whatever the buffer's size and the point asked for.
TEST(Memory, PreparingStaysWithinTheBuffer) {
  for (const size_t capacity : {size_t{100}, size_t{5000}, size_t{600} << 10, size_t{3} << 20}) {
    for (const size_t upTo : {size_t{1}, size_t{4095}, size_t{4097}, capacity - 1, capacity,
                              capacity + 1, SIZE_MAX}) {
      SCOPED_TRACE(::testing::Message() << capacity << " bytes, prepared to " << upTo);
      platform::Buffer buffer;
      buffer.reserve(capacity);
      for (size_t i = 0; i < capacity; ++i) buffer.data()[i] = static_cast<char>(i % 251);
      buffer.prepare(upTo);
      buffer.prepare(upTo / 2);
      for (size_t i = 0; i < capacity; ++i) {
        ASSERT_EQ(buffer.data()[i], static_cast<char>(i % 251)) << "byte " << i;
      }
    }
  }
}

TEST(Memory, PreparedBufferKeepsWhatItHeld) {
  // Preparing after writing, again over what is prepared, past the
  // capacity, and after widening: the bytes stay.
  platform::Buffer buffer;
  buffer.reserve(10);
  for (size_t i = 0; i < 10; ++i) buffer.data()[i] = static_cast<char>('a' + i);
  buffer.prepare(10);
  buffer.reserve(1 << 20, 10);
  buffer.prepare(100 << 10);
  buffer.prepare(50 << 10);
  buffer.prepare(SIZE_MAX);
  ASSERT_EQ(buffer.capacity(), size_t{1} << 20);
  EXPECT_EQ(std::string(buffer.data(), 10), "abcdefghij");
}

}  // namespace
}  // namespace ordil
