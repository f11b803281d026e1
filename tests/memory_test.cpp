#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/buffer.h"

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

TEST(Memory, PreparedBufferKeepsWhatItHeld) {
  // Preparing after writing, again over what is prepared, past the
  // capacity, and after widening: the bytes stay and the whole block stays
  // writable.
  Buffer buffer;
  buffer.reserve(10);
  for (size_t i = 0; i < 10; ++i) buffer.data()[i] = static_cast<char>('a' + i);
  buffer.prepare(10);
  buffer.reserve(1 << 20, 10);
  buffer.prepare(100 << 10);
  buffer.prepare(50 << 10);
  buffer.prepare(SIZE_MAX);
  ASSERT_EQ(buffer.capacity(), size_t{1} << 20);
  EXPECT_EQ(std::string(buffer.data(), 10), "abcdefghij");
  buffer.data()[buffer.capacity() - 1] = 'z';
  EXPECT_EQ(buffer.data()[buffer.capacity() - 1], 'z');
}

}  // namespace
}  // namespace ordil
