#include "platform/byteorder.h"
#include "platform/memory.h"

#include <gtest/gtest.h>

TEST(ByteOrder, SwapsAndUnalignedAccess) {
  EXPECT_EQ(pw::NetToHost16(0x3412), 0x1234);
  EXPECT_EQ(pw::HostToNet32(0x12345678u), 0x78563412u);
  uint8_t buf[6] = {0};
  pw::StoreLE32(buf + 1, 0xA1B2C3D4u);
  EXPECT_EQ(buf[1], 0xD4);
  EXPECT_EQ(pw::LoadLE32(buf + 1), 0xA1B2C3D4u);
  EXPECT_EQ(pw::LoadBE32(buf + 1), 0xD4C3B2A1u);
  pw::StoreBE16(buf, 0x0102);
  EXPECT_EQ(pw::LoadLE16(buf), 0x0201);
}

TEST(Memory, AvailableMemoryIsReported) {
  EXPECT_GT(pw::AvailablePhysicalMemory(), 16ull * 1024 * 1024);
}
