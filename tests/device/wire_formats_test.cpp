// The audio driver's property request byte by byte, and its refusals. (The generic driver's
// records, the probes and the control codes are checked at the Windows calls.)
#include "wire_formats.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmora::wire {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

const Bytes kPropertySet = {0x4d, 0xc0, 0xd7, 0xf6, 0xc3, 0xc5, 0x81, 0x41,
                            0x9e, 0xd7, 0x50, 0x4a, 0xbe, 0x0c, 0xdd, 0xff};

TEST(WirePropertyRequest, LayoutForBothDirections) {
  const struct {
    ControlSetup setup;
    Bytes data, image;
  } cases[] = {
      {{0x43, 0x84, 0x3B71, 0x9E04},
       {},
       Concat({kPropertySet,
               {7, 0, 0, 0, 2, 0, 0, 0, 0x20, 0x84, 0x71, 0x3B, 0x04, 0x9E},
               Bytes(18, 0)})},
      {{0xC3, 0x82, 0xABCD, 0x1234},
       Bytes(0x0102, 0x5A),  // an IN transfer carries the buffer's prior contents
       Concat({kPropertySet,
               {7, 0, 0, 0, 1, 0, 0, 0, 0x20, 0x82, 0xCD, 0xAB, 0x34, 0x12},
               {0, 0, 0, 0, 0, 0, 0x02, 0x01, 0, 0},
               Bytes(0x0102, 0x5A),
               Bytes(7, 0)})},
  };
  for (const auto& c : cases) {
    const auto length = static_cast<std::uint32_t>(c.data.size());
    ASSERT_EQ(PropertyRequestSize(length), c.image.size());
    Bytes out(c.image.size(), 0xCC);  // the encoder writes its zeros itself
    ASSERT_TRUE(WritePropertyRequest(out, c.setup, length ? c.data.data() : nullptr, length));
    EXPECT_EQ(out, c.image);
  }
  EXPECT_EQ(PropertyRequestSize(0xFFFFFFD0u), 0xFFFFFFFFu);
  EXPECT_EQ(PropertyRequestSize(0xFFFFFFD1u), std::nullopt);  // would wrap to a tiny block
  // A block of another size, or a length without data: refused, nothing written.
  const std::uint8_t data[4] = {1, 2, 3, 4};
  for (const auto& [size, from] : {std::pair{std::size_t{50}, data}, {52, data}, {51, nullptr}}) {
    Bytes out(size, 0xCC);
    EXPECT_FALSE(WritePropertyRequest(out, {0x43, 0x80, 0, 1}, from, 4)) << size;
    EXPECT_EQ(out, Bytes(size, 0xCC));
  }
}

}  // namespace
}  // namespace velmora::wire
