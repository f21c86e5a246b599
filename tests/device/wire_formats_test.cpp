// The Windows drivers' byte layouts, checked byte by byte against hand-written images.
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

template <std::size_t N>
Bytes ToBytes(const std::array<std::uint8_t, N>& array) {
  return Bytes(array.begin(), array.end());
}

// The property set's bytes as the audio driver must see them.
const Bytes kPropertySetImage = {0x4d, 0xc0, 0xd7, 0xf6, 0xc3, 0xc5, 0x81, 0x41,
                                 0x9e, 0xd7, 0x50, 0x4a, 0xbe, 0x0c, 0xdd, 0xff};

TEST(WireGuids, ByteImagesAreStoredWithLittleEndianFields) {
  struct Case {
    const char* name;
    const Guid& guid;
    Bytes image;
  };
  const Case cases[] = {
      {"generic interface class",
       kGenericInterfaceClass,
       {0x10, 0xbf, 0xdc, 0xa5, 0x30, 0x65, 0xd2, 0x11, 0x90, 0x1f, 0x00, 0xc0, 0x4f, 0xb9, 0x51,
        0xed}},
      {"property interface class",
       kPropertyInterfaceClass,
       {0xa4, 0x4f, 0x89, 0x50, 0x06, 0x92, 0x91, 0x4a, 0x87, 0x28, 0xcf, 0x6f, 0x26, 0x8f, 0x27,
        0x1d}},
      {"control property set", kControlPropertySet, kPropertySetImage},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToBytes(c.guid), c.image) << c.name;
  }
}

TEST(WireGuids, EachBackendSearchesItsOwnInterfaceClass) {
  EXPECT_EQ(&InterfaceClass(Backend::Generic), &kGenericInterfaceClass);
  EXPECT_EQ(&InterfaceClass(Backend::Property), &kPropertyInterfaceClass);
}

// A transfer's record carries its setup and a zero length word; the descriptor probe is
// GET_DESCRIPTOR(device) for eighteen bytes.
TEST(WireGenericRecord, RecordsCarryTheSetupAndTheLengthWord) {
  const struct {
    GenericRecord record;
    Bytes image;
  } cases[] = {
      {EncodeTransferRecord({0xC3, 0x91, 0x1234, 0xABCD}),
       {0, 0, 0, 0, 0xC3, 0x91, 0x34, 0x12, 0xCD, 0xAB, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {EncodeTransferRecord({0x43, 0x84, 0x3B71, 0x9E04}),
       {0, 0, 0, 0, 0x43, 0x84, 0x71, 0x3B, 0x04, 0x9E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {EncodeDescriptorProbeRecord(), {0, 0, 0, 0, 0x80, 0x06, 0x00, 0x01, 0x01, 0x00, 0x12, 0x00,
                                       0, 0, 0, 0, 0,    0,    0,    0,    0,    0,    0,    0}},
  };
  for (const auto& c : cases) EXPECT_EQ(ToBytes(c.record), c.image) << int{c.image[5]};
}

TEST(WireProbes, SetSupportProbeAsksForThePropertySetWithIdZero) {
  const Bytes image = Concat({kPropertySetImage, {0, 0, 0, 0}, {0x00, 0x01, 0x00, 0x00}});
  EXPECT_EQ(ToBytes(EncodeSetSupportProbe()), image);
}

TEST(WirePropertyRequest, SizeIsLengthPlus47WithAFloorOf48) {
  struct Case {
    std::uint32_t length;
    std::optional<std::uint32_t> size;
  };
  const Case cases[] = {
      {0, 48},
      {1, 48},
      {4, 51},
      {255, 302},
      {256, 303},
      {0xFFFFFFD0u, 0xFFFFFFFFu},
      {0xFFFFFFD1u, std::nullopt},  // would wrap around to a tiny block
      {0xFFFFFFFFu, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PropertyRequestSize(c.length), c.size) << "length " << c.length;
  }
}

TEST(WirePropertyRequest, LayoutForBothDirectionsAndEmptyTransfers) {
  struct Case {
    const char* name;
    ControlSetup setup;
    Bytes data;
    Bytes image;
  };
  const Bytes get = {0x07, 0, 0, 0, 0x01, 0, 0, 0};  // property id 7, KSPROPERTY_TYPE_GET
  const Bytes set = {0x07, 0, 0, 0, 0x02, 0, 0, 0};  // property id 7, KSPROPERTY_TYPE_SET
  const Bytes zeros7(7, 0);
  const Case cases[] = {
      {"zero-length OUT (ISP key)",
       {0x43, 0x84, 0x3B71, 0x9E04},
       {},
       Concat({kPropertySetImage,
               set,
               {0x20, 0x84, 0x71, 0x3B, 0x04, 0x9E, 0, 0},
               {0, 0, 0, 0, 0, 0, 0, 0},
               {0, 0, 0, 0, 0, 0, 0, 0}})},
      {"zero-length IN",
       {0xC3, 0x83, 0x0000, 0x0001},
       {},
       Concat({kPropertySetImage,
               get,
               {0x20, 0x83, 0x00, 0x00, 0x01, 0x00, 0, 0},
               {0, 0, 0, 0, 0, 0, 0, 0},
               {0, 0, 0, 0, 0, 0, 0, 0}})},
      {"4-byte OUT",
       {0x43, 0x90, 0x0D12, 0x0034},
       {0x11, 0x22, 0x33, 0x44},
       Concat({kPropertySetImage,
               set,
               {0x20, 0x90, 0x12, 0x0D, 0x34, 0x00, 0, 0},
               {0, 0, 0, 0, 0x04, 0, 0, 0},
               {0x11, 0x22, 0x33, 0x44},
               zeros7})},
      {"4-byte IN carries the buffer's prior contents",
       {0xC3, 0x91, 0xABCD, 0x1234},
       {0xDE, 0xAD, 0xBE, 0xEF},
       Concat({kPropertySetImage,
               get,
               {0x20, 0x91, 0xCD, 0xAB, 0x34, 0x12, 0, 0},
               {0, 0, 0, 0, 0x04, 0, 0, 0},
               {0xDE, 0xAD, 0xBE, 0xEF},
               zeros7})},
      {"long length word is little-endian",
       {0xC3, 0x82, 0, 0},
       Bytes(0x0102, 0x5A),
       Concat({kPropertySetImage,
               get,
               {0x20, 0x82, 0, 0, 0, 0, 0, 0},
               {0, 0, 0, 0, 0x02, 0x01, 0, 0},
               Bytes(0x0102, 0x5A),
               zeros7})},
  };
  for (const Case& c : cases) {
    const auto length = static_cast<std::uint32_t>(c.data.size());
    ASSERT_EQ(PropertyRequestSize(length), c.image.size()) << c.name;
    // Garbage first: the encoder must write the zeros itself, not lean on a zero-filled block.
    Bytes out(c.image.size(), 0xCC);
    ASSERT_TRUE(
        WritePropertyRequest(out, c.setup, c.data.empty() ? nullptr : c.data.data(), length))
        << c.name;
    EXPECT_EQ(out, c.image) << c.name;
  }
}

TEST(WirePropertyRequest, RefusesABlockOfTheWrongSizeOrMissingData) {
  const ControlSetup setup{0x43, 0x80, 0, 1};
  const std::uint8_t data[4] = {1, 2, 3, 4};
  struct Case {
    const char* name;
    std::size_t block_size;
    const std::uint8_t* data;
    std::uint32_t length;
  };
  const Case cases[] = {
      {"block one byte short", 50, data, 4},
      {"block one byte long", 52, data, 4},
      {"no block at all", 0, data, 4},
      {"null data with a length", 51, nullptr, 4},
      {"empty transfer into a 47-byte block", 47, nullptr, 0},
  };
  for (const Case& c : cases) {
    Bytes out(c.block_size, 0xCC);
    EXPECT_FALSE(WritePropertyRequest(out, setup, c.data, c.length)) << c.name;
    EXPECT_EQ(out, Bytes(c.block_size, 0xCC)) << c.name << ": nothing may be written";
  }
}

}  // namespace
}  // namespace velmora::wire
