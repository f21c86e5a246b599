// Choosing the loader by name, the page's texts, the history rule and the hex digit reader.
#include "program_file.h"

#include <gtest/gtest.h>

#include "hex_digits.h"
#include "loader_test_files.h"

namespace velmora {
namespace {

using testing::Pattern;
using testing::ScratchDir;

TEST(HexDigitsValue, ReadsBothCasesAndCountsOtherCharactersAsZero) {
  const struct {
    const char* chars;
    std::size_t count;
    std::uint32_t value;
  } cases[] = {
      {"", 0, 0},
      {"7", 1, 7},
      {"fF", 2, 0xFF},
      {"aB09", 4, 0xAB09},
      {"1G", 2, 0x10},
      {"G1", 2, 0x01},
      {" :z", 3, 0},
      {"1234", 2, 0x12},
      {"DEADBEEF", 8, 0xDEADBEEF},
      {"123456789", 9, 0x23456789},  // past 8 digits the value wraps
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HexDigitsValue(c.chars, c.count), c.value) << '"' << c.chars << '"';
  }
}

TEST(ProgramFileFormatOf, TakesTheThirdLastCharacterInEitherCase) {
  using F = ProgramFileFormat;
  const std::pair<const char*, F> cases[] = {
      {"fw.HEX", F::kHex}, {"fw.h00", F::kHex},         {"fw.hex", F::kHex},    {"fw.Bin", F::kRaw},
      {"fw.bin", F::kRaw}, {"fw.txt", F::kUnknown},     {"fw.hx", F::kUnknown}, {"hb", F::kUnknown},
      {"", F::kUnknown},   {"bin.dir/fw", F::kUnknown},
  };
  for (const auto& [name, format] : cases) EXPECT_EQ(ProgramFileFormatOf(name), format) << name;
}

class LoadProgramFileTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  ProgramImage image;
  // The same text read as HEX stores one byte; read as raw bytes it is all of the file.
  const std::string hex_text = ":0100000041BE\r\n:00000001FF\r\n";

  void SetUp() override {
    image.bytes = Pattern(kProgramImageSize, 42);
    image.length = 0x777;
  }
  void ExpectImageUntouched() {
    EXPECT_EQ(image.length, 0x777u);
    EXPECT_EQ(image.bytes, Pattern(kProgramImageSize, 42));
  }
};

TEST_F(LoadProgramFileTest, ExtensionLetterPicksTheLoader) {
  for (const char* name : {"fw.HEX", "fw.h00"}) {
    const ImageLoadResult result = LoadProgramFile(dir.Write(name, hex_text), image);
    ASSERT_TRUE(result.ok) << name << ": " << result.message;
    EXPECT_EQ(image.length, 1u) << name;
    EXPECT_EQ(result.checksum, 0x0041) << name;
  }
  const ImageLoadResult raw = LoadProgramFile(dir.Write("fw.Bin", hex_text), image);
  ASSERT_TRUE(raw.ok) << raw.message;
  EXPECT_EQ(image.length, hex_text.size());
  EXPECT_EQ(image.bytes[0], ':');
}

TEST_F(LoadProgramFileTest, FailuresLeaveTheImageAndSayWhyForTheDialog) {
  const std::string txt = dir.Write("fw.txt", hex_text);
  const struct {
    std::string name;
    const char* why;
  } cases[] = {
      {"", "Program File Not Ready !!"},
      {txt, "is not a program file"},
      {dir.PathOf("missing.bin"), "Cannot open"},
      {dir.PathOf("missing.hex"), "Cannot open"},
      {dir.Write("bad.hex", ":0100000041BF\n"), "line 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ImageLoadResult result = LoadProgramFile(c.name, image);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find(c.why), std::string::npos) << result.message;
    EXPECT_NE(result.message.find(c.name), std::string::npos) << result.message;
    EXPECT_EQ(LoadFailureDialogText(result), result.message + "    ");
    ExpectImageUntouched();
  }
  EXPECT_EQ(LoadFailureDialogText(LoadProgramFile("", image)), "Program File Not Ready !!    ");
}

TEST(ChecksumLabelText, ShowsFourUpperCaseDigits) {
  EXPECT_EQ(ChecksumLabelText(0x0000), "Checksum : 0x0000");
  EXPECT_EQ(ChecksumLabelText(0x0006), "Checksum : 0x0006");
  EXPECT_EQ(ChecksumLabelText(0x2AD4), "Checksum : 0x2AD4");
  EXPECT_EQ(ChecksumLabelText(0xfeed), "Checksum : 0xFEED");
}

}  // namespace
}  // namespace velmora
