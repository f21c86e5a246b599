// The stored forms of the settings: the ISPSetting layout and the registry's value encodings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "isp_setting.h"
#include "registry_values.h"

namespace velmora {
namespace {

constexpr bool X = true, _ = false;

TEST(IspSetting, EncodesStepsRangeSizeAndStartInTheirBytes) {
  const struct {
    IspSetting setting;
    std::uint32_t value;
  } cases[] = {
      // The design's states: all seven ticked, "All", start 32 and size 32 KB.
      {{{X, X, X, X, X, X, X}, true, 32, 32}, 0x000404FF},
      {{{X, _, X, X, X, X, X}, true, 64, 64}, 0x000808FD},
      {{{_, X, _, _, _, _, _}, false, 64, 128}, 0x00100802},
      {{{_, _, _, _, _, _, X}, false, 8, 0}, 0x00000140},
      {{{X, _, _, _, _, _, _}, true, 2040, 2040}, 0x00FFFF81},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EncodeIspSetting(c.setting), c.value) << std::hex << c.value;
    EXPECT_EQ(DecodeIspSetting(c.value), c.setting) << std::hex << c.value;
  }
}

TEST(IspSetting, RangeValuesAreClampedIntoTheirByteAndRoundedDown) {
  const struct {
    int kilobytes;
    std::uint32_t units;
  } cases[] = {{0, 0},      {7, 0},      {8, 1},         {33, 4}, {2040, 255},
               {2047, 255}, {2048, 255}, {1 << 30, 255}, {-8, 0}, {-2147483647 - 1, 0}};
  for (const auto& c : cases) {
    IspSetting size_only;
    size_only.range_all = false;
    size_only.size_kb = c.kilobytes;
    EXPECT_EQ(EncodeIspSetting(size_only), c.units << 8) << "size " << c.kilobytes;
    IspSetting start_only;
    start_only.range_all = false;
    start_only.start_kb = c.kilobytes;
    EXPECT_EQ(EncodeIspSetting(start_only), c.units << 16) << "start " << c.kilobytes;
  }
}

TEST(IspSetting, TheTopByteIsIgnoredWhenRead) {
  EXPECT_EQ(DecodeIspSetting(0xFF0404FF), DecodeIspSetting(0x000404FF));
  EXPECT_EQ(kIspSettingWhenAbsent, (IspSetting{{X, _, X, X, X, X, X}, true, 64, 64}));
}

TEST(RegistryValues, DwordIsFourLittleEndianBytesOfTypeDword) {
  EXPECT_EQ(RegDwordBytes(0x000404FF), (std::array<std::uint8_t, 4>{0xFF, 0x04, 0x04, 0x00}));
  const std::vector<std::uint8_t> bytes{0xFF, 0x04, 0x04, 0x00};
  EXPECT_EQ(DwordFromRegValue(kRegDword, bytes), 0x000404FFu);
  EXPECT_EQ(DwordFromRegValue(kRegDword, std::vector<std::uint8_t>{0x01, 0x02, 0x03, 0x84}),
            0x84030201u);
  // Not readable as 4 bytes, or not a number: no ISPSetting.
  EXPECT_EQ(DwordFromRegValue(kRegDword, std::vector<std::uint8_t>{0xFF, 0x04, 0x04}),
            std::nullopt);
  EXPECT_EQ(DwordFromRegValue(kRegDword, std::vector<std::uint8_t>(8, 0)), std::nullopt);
  EXPECT_EQ(DwordFromRegValue(kRegSz, std::vector<std::uint8_t>{'1', '2', '3', 0}), std::nullopt);
}

TEST(RegistryValues, TextIsItsBytesAndATerminatingZero) {
  EXPECT_EQ(RegSzBytes("6ccf"), (std::vector<std::uint8_t>{'6', 'c', 'c', 'f', 0}));
  EXPECT_EQ(RegSzBytes(""), (std::vector<std::uint8_t>{0}));
  EXPECT_EQ(RegSzBytes(std::string("ab\0cd", 5)), (std::vector<std::uint8_t>{'a', 'b', 0}));

  const struct {
    std::vector<std::uint8_t> bytes;
    std::optional<std::string> text;
  } reads[] = {
      {{'6', 'C', 'C', 'F', 0}, "6CCF"},
      {{'6', '0', '1', '2'}, "6012"},  // stored without its terminator
      {{'a', 0, 'b', 0}, "a"},
      {{0}, ""},
      {{}, ""},
      {{0xE9, 0}, std::string("\xE9")},  // bytes of the code page pass through
  };
  for (const auto& r : reads) EXPECT_EQ(TextFromRegValue(kRegSz, r.bytes), r.text);
  EXPECT_EQ(TextFromRegValue(kRegDword, std::vector<std::uint8_t>{'6', 0, 0, 0}), std::nullopt);
}

}  // namespace
}  // namespace velmora
