// The parameter codec: the option bits, the identifier field and the string chunking.
#include "parameter_block.h"

#include <gtest/gtest.h>

#include <string>

namespace velmora {
namespace {

namespace bit = parameter_bit;

TEST(ParameterBlock, EachSwitchSetsAndClearsOnlyItsOwnBit) {
  const struct {
    ParameterBit which;
    ParameterBlock mask;
  } switches[] = {
      {bit::kI2sWord32, {0x01, 0, 0, 0}},      {bit::kSpdifWord32, {0x02, 0, 0, 0}},
      {bit::kI2sChannelSwap, {0x04, 0, 0, 0}}, {bit::kDsdChannelSwap, {0x08, 0, 0, 0}},
      {bit::kI2sLeftJustify, {0x40, 0, 0, 0}}, {bit::kDsdOutNative, {0x80, 0, 0, 0}},
      {bit::kMclkOutputOff, {0, 0x80, 0, 0}},  {bit::kI2sOutputOff, {0, 0x40, 0, 0}},
      {bit::kSpdifOutputOff, {0, 0x20, 0, 0}}, {bit::kEepromPresent, {0, 0, 0, 0x80}},
  };
  // From all ones and from all zeros: only the switch's own bit may move.
  for (const std::uint8_t fill : {std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
    for (const auto& s : switches) {
      ParameterBlock block{fill, fill, fill, fill};
      SetParameterBit(block, s.which, fill == 0x00);
      for (std::size_t i = 0; i < block.size(); ++i) {
        EXPECT_EQ(block[i], static_cast<std::uint8_t>(fill ^ s.mask[i]))
            << "byte " << i << " of switch " << int(s.which.byte) << "." << int(s.which.bit);
      }
      EXPECT_EQ(ParameterBitIsSet(block, s.which), fill == 0x00);
    }
  }
}

TEST(ParameterBlock, MclkIndexLivesInBits4And5Only) {
  for (int index = 0; index < kMclkFrequencyCount; ++index) {
    ParameterBlock block{0xCF, 0x12, 0x34, 0x56};  // bits 4-5 clear, the rest busy
    SetMclkFrequencyIndex(block, index);
    EXPECT_EQ(block,
              (ParameterBlock{static_cast<std::uint8_t>(0xCF | index << 4), 0x12, 0x34, 0x56}));
    EXPECT_EQ(MclkFrequencyIndex(block), index);
    ParameterBlock full{0xFF, 0, 0, 0};
    SetMclkFrequencyIndex(full, index);
    EXPECT_EQ(full[0], static_cast<std::uint8_t>(0xCF | index << 4)) << index;
  }
  EXPECT_EQ(MclkFrequencyIndex(kStartupParameterBlock), 2);  // 512 Fs
}

TEST(ParameterBlock, IdentifierIsTheFirstFourCharactersZeroPadded) {
  const struct {
    const char* text;
    IdentifierField field;
  } cases[] = {
      {"6cc0", {0x36, 0x63, 0x63, 0x30}},  // as typed, not read as a number
      {"6C", {0x36, 0x43, 0x00, 0x00}},    {"", {0, 0, 0, 0}},
      {"12345", {0x31, 0x32, 0x33, 0x34}}, {"zz!?", {'z', 'z', '!', '?'}},
  };
  for (const auto& c : cases) EXPECT_EQ(MakeIdentifierField(c.text), c.field) << c.text;
}

// A length byte and the characters after it.
std::vector<std::uint8_t> Bytes(std::uint8_t length, const std::string& text) {
  std::vector<std::uint8_t> bytes;
  bytes.push_back(length);
  for (const char c : text) bytes.push_back(static_cast<std::uint8_t>(c));
  return bytes;
}

TEST(ParameterBlock, StringChunksCarryTheLengthByteAndTheTextInEights) {
  const struct {
    std::size_t length;
    std::vector<std::size_t> sizes;
  } cases[] = {{0, {1}},           {6, {7}},          {7, {8}},        {8, {8, 1}},
               {15, {8, 8}},       {16, {8, 8, 1}},   {23, {8, 8, 8}}, {24, {8, 8, 8, 1}},
               {30, {8, 8, 8, 7}}, {31, {8, 8, 8, 8}}};
  for (const auto& c : cases) {
    std::string text;
    for (std::size_t i = 0; i < c.length; ++i) text += static_cast<char>('A' + i % 26);
    const auto chunks = StringFieldChunks(text);
    ASSERT_TRUE(chunks) << c.length;
    ASSERT_EQ(chunks->size(), c.sizes.size()) << c.length;
    std::vector<std::uint8_t> joined;
    for (std::size_t k = 0; k < chunks->size(); ++k) {
      EXPECT_EQ((*chunks)[k].number, k) << c.length;
      EXPECT_EQ((*chunks)[k].bytes.size(), c.sizes[k]) << c.length << " chunk " << k;
      joined.insert(joined.end(), (*chunks)[k].bytes.begin(), (*chunks)[k].bytes.end());
    }
    EXPECT_EQ(joined, Bytes(static_cast<std::uint8_t>(c.length), text)) << c.length;
  }
}

TEST(ParameterBlock, TheDefaultString1GoesInTwoChunks) {
  const auto chunks = StringFieldChunks("Velmora-inc");
  ASSERT_TRUE(chunks);
  EXPECT_EQ(*chunks,
            (std::vector<StringChunk>{{0, Bytes(11, "Velmora")}, {1, {'-', 'i', 'n', 'c'}}}));
}

TEST(ParameterBlock, AStringOver31CharactersDoesNotFit) {
  EXPECT_FALSE(StringFieldChunks(std::string(32, 'x')));
  EXPECT_FALSE(StringFieldChunks(std::string(300, 'x')));
  EXPECT_TRUE(StringFieldChunks(std::string(31, 'x')));
}

}  // namespace
}  // namespace velmora
