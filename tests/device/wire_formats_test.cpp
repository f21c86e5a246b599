// The audio driver's property request byte by byte, and its refusals. (The generic driver's
// records, the probes, the control codes and the request sizes are checked at the Windows calls.)
#include "wire_formats.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmora::wire {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(WirePropertyRequest, LayoutAndRefusals) {
  const Bytes data(0x0102, 0x5A);  // an IN transfer carries the buffer's prior contents
  Bytes image = {0x4d, 0xc0, 0xd7, 0xf6, 0xc3, 0xc5, 0x81, 0x41, 0x9e, 0xd7, 0x50, 0x4a, 0xbe, 0x0c,
                 0xdd, 0xff, 7,    0,    0,    0,    1,    0,    0,    0,    0x20, 0x82, 0xCD, 0xAB,
                 0x34, 0x12, 0,    0,    0,    0,    0,    0,    0x02, 0x01, 0,    0};
  image.resize(image.size() + data.size(), 0x5A);
  image.resize(image.size() + 7, 0x00);
  Bytes out(image.size(), 0xCC);  // the encoder writes its zeros itself
  ASSERT_TRUE(WritePropertyRequest(out, {0xC3, 0x82, 0xABCD, 0x1234}, data.data(), 0x0102));
  EXPECT_EQ(out, image);
  EXPECT_EQ(PropertyRequestSize(0xFFFFFFD1u), std::nullopt);  // would wrap to a tiny block
  // A block of another size, or a length without data: refused, nothing written.
  for (const auto& [size, from] :
       {std::pair{std::size_t{50}, data.data()}, {52, data.data()}, {51, nullptr}}) {
    Bytes block(size, 0xCC);
    EXPECT_FALSE(WritePropertyRequest(block, {0x43, 0x80, 0, 1}, from, 4)) << size;
    EXPECT_EQ(block, Bytes(size, 0xCC));
  }
}

}  // namespace
}  // namespace velmora::wire
