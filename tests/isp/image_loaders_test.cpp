// The program file: the raw and Intel HEX loaders (contents, length, checksum, damaged files,
// what is no program file), the choice of loader by name and the hex digit reader.
#include "image_loaders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <numeric>

#include "hex_digits.h"
#include "loader_test_files.h"
#include "program_file.h"

namespace velmora {
namespace {

using testing::Data;
using testing::kEnd;
using testing::Pattern;
using testing::Record;

struct Placed {
  std::uint32_t address;
  std::vector<std::uint8_t> bytes;
};

// An image left over from an earlier load, so a loader that fails to start afresh or that
// touches the image on failure is caught.
class LoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image.bytes = Pattern(kProgramImageSize, 99);
    image.length = 0x2345;
  }
  void ExpectImageUntouched() {
    EXPECT_EQ(image.length, 0x2345u);
    EXPECT_EQ(image.bytes, Pattern(kProgramImageSize, 99));
  }
  void ExpectImage(const ImageLoadResult& result, const std::vector<Placed>& placed,
                   std::uint32_t length) {
    ASSERT_TRUE(result.ok) << result.message;
    ProgramImage expected;  // 0xFF wherever the file put nothing
    for (const Placed& p : placed)
      std::copy(p.bytes.begin(), p.bytes.end(), &expected.bytes[p.address]);
    expected.length = length;
    EXPECT_EQ(image.length, length);
    EXPECT_EQ(result.checksum, expected.Checksum());
    EXPECT_TRUE(image.bytes == expected.bytes);
  }
  testing::ScratchDir dir;
  ProgramImage image;
};

TEST_F(LoaderTest, RawFileFillsTheImageFromZeroAndTheRestIsErased) {
  auto padded = Pattern(kProgramImageSize, 5);
  const auto sum = static_cast<std::uint16_t>(std::accumulate(padded.begin(), padded.end(), 0u));
  padded.resize(kProgramImageSize + 1000, 0xFF);
  const struct {
    std::vector<std::uint8_t> file;
    std::uint32_t length;
    std::uint16_t checksum;
  } cases[] = {{{}, 0, 0x0000},
               {{0x01, 0x02, 0x03}, 3, 0x0006},
               {std::vector<std::uint8_t>(300, 0xFF), 300, 0x2AD4},
               {Pattern(kProgramImageSize, 5), kProgramImageSize, sum},
               {padded, kProgramImageSize, sum}};  // 0xFF padding past 256 KiB is dropped, and said
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file.size());
    SetUp();
    const ImageLoadResult result = LoadBinaryImage(dir.Write("fw.bin", c.file), image);
    ExpectImage(result, {{0, {c.file.begin(), c.file.begin() + c.length}}}, c.length);
    EXPECT_EQ(result.checksum, c.checksum);
    EXPECT_EQ(result.note.find("263144 bytes") != std::string::npos, c.file.size() > c.length);
  }
}

TEST_F(LoaderTest, WhatIsNoProgramFileIsRefusedWithoutReadingAndKeepsThePreviousImage) {
  ASSERT_EQ(::mkfifo(dir.PathOf("pipe.hex").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", dir.PathOf("zero.bin"));
  const std::string too_large = dir.Write("too-large.hex", ""), largest = dir.Write("big.bin", "");
  std::filesystem::resize_file(too_large, kLargestProgramFile + 1);  // sparse: no disk used
  std::filesystem::resize_file(largest, kLargestProgramFile);
  const struct {
    std::string path;
    const char* why;
  } cases[] = {
      {dir.PathOf("missing.bin"), "Cannot open"},
      {"", "Cannot open"},
      {dir.PathOf("pipe.hex"), "not a regular file"},  // would block its reader
      {dir.PathOf("zero.bin"), "not a regular file"},
      {dir.PathOf(""), "not a regular file"},  // the folder itself
      {too_large, "larger than 16 MiB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    for (auto load : {LoadBinaryImage, LoadHexImage}) {
      const ImageLoadResult result = load(c.path, image);
      EXPECT_FALSE(result.ok);
      EXPECT_NE(result.message.find(c.why), std::string::npos) << result.message;
      EXPECT_NE(result.message.find(c.path), std::string::npos) << result.message;
      ExpectImageUntouched();
    }
  }
  // A raw file of the largest size is read to its end: its bytes past 256 KiB are zeros, not
  // padding, so cutting it would lose them.
  const ImageLoadResult result = LoadBinaryImage(largest, image);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.message.find("holds 16777216 bytes"), std::string::npos) << result.message;
  EXPECT_NE(result.message.find("not 0xFF padding"), std::string::npos) << result.message;
  ExpectImageUntouched();
}

TEST_F(LoaderTest, HexRecordsLandAtTheirBaseAndOtherTextIsSkipped) {
  const std::vector<std::uint8_t> a = Pattern(16, 1), b = Pattern(4, 2);
  const std::string crlf = "\r\n";
  const struct {
    const char* name;
    std::string text;
    std::vector<Placed> placed;
    std::uint32_t length;  // the highest address written + 1, 0xFF below counted in the sum
  } cases[] = {
      {"16 bytes at 0x0100, CRLF", Data(0x0100, a) + crlf + kEnd + crlf, {{0x100, a}}, 0x110},
      {"CR only, out of order, overlapping",
       Data(0x40, Pattern(32)) + "\r" + Data(0, Pattern(8)) + "\r" + Data(0x44, b) + "\r" + kEnd,
       {{0x40, Pattern(32)}, {0, Pattern(8)}, {0x44, b}},
       0x60},
      {"runs on past 64 KiB",
       Data(0xFFF0, Pattern(32)) + "\n" + kEnd,
       {{0xFFF0, Pattern(32)}},
       0x10010},
      {"segment base (02) = value << 4",
       Record(0x02, 0, {0x10, 0x00}) + "\n" + Data(0x10, a) + "\n" + kEnd,
       {{0x10010, a}},
       0x10020},
      {"linear bases (04) = value << 16, each for the records after it",
       Data(0, b) + "\n" + Record(0x04, 0, {0, 3}) + "\n" + Data(0xFFF0, a) + "\n" +
           Record(0x04, 0, {0, 0}) + "\n" + Data(0x20, b) + "\n" + kEnd,
       {{0, b}, {0x3FFF0, a}, {0x20, b}},
       0x40000},
      {"start addresses (03, 05) store nothing",
       Record(0x03, 0, {0x12, 0x34, 0x56, 0x78}) + crlf + Data(0x08, b) + crlf +
           Record(0x05, 0, {0, 0, 1, 0}) + crlf + kEnd + crlf,
       {{0x08, b}},
       0x0C},
      {"lower case digits", ":0400080001020a0bdc\n:00000001ff\n", {{8, {1, 2, 0x0A, 0x0B}}}, 12},
      {"junk before ':', blanks after records, Ctrl-Z and text after the end",
       "\n; by hand " + Data(0x08, b) + " \t\r\n\r\n" + kEnd + "\r\n\x1A" + "garbage\n" +
           Data(0x100, b),
       {{0x08, b}},
       0x0C},
      {"end record alone", std::string(kEnd) + "\n", {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    ExpectImage(LoadHexImage(dir.Write("fw.hex", c.text), image), c.placed, c.length);
  }
}

TEST_F(LoaderTest, DamagedHexFailsNamingFileAndLineAndKeepsThePreviousImage) {
  const std::string good = Data(0, Pattern(16)) + "\r\n";
  const struct {
    std::string text;
    unsigned line;  // 0: no line named
    const char* why;
  } cases[] = {
      {good + ":0400000001020304F1\r\n" + kEnd, 2, "checksum is F1 where F2"},
      {good + ":04000000010G0304F2\r\n", 2, "'G'"},
      {":04000000 01020304F2\n", 1, "0x20"},
      {good + "\n\n" + Data(0, {1}) + "x\n", 4, "'x'"},
      {Data(0, {1}) + kEnd + "\n", 1, "':'"},  // two records on a line
      {good + Data(0x10, Pattern(16)).substr(0, 30) + "\n" + kEnd, 2, "shorter"},
      {":0100000041AABE\n", 1, "longer"},
      {good + Record(0x06, 0, {1, 2}) + "\n", 2, "type 06"},
      {Record(0x04, 0, {1}) + "\n", 1, "instead of 2"},
      {Record(0x04, 0, {0, 3}) + "\n" + Data(0xFFF8, Pattern(9)), 2, "beyond"},  // ends at +1
      {Record(0x02, 0, {0x40, 0x00}) + "\n" + Data(0, {1}), 2, "beyond"},
      {Record(0x04, 0, {0xFF, 0xFF}) + "\n" + Data(0xFFF0, Pattern(16)), 2, "beyond"},  // 4 GiB
      {good + "\r\r:0400\r", 4, "too short"},
      {good + "\r\n\r\n:0400\r\n", 4, "too short"},  // CRLF counts as one line end
      // A record that lost its colon would leave a hole of 0xFF that Auto programs as good.
      {good + Data(0x10, Pattern(16)).substr(1) + "\r\n" + kEnd, 2, "no ':'"},
      {good + "\x1A\r\n" + kEnd, 2, "no ':'"},
      {good + Data(0x10, Pattern(16)), 0, "end record is missing"},  // cut short by a copy
      {"\r\n \r\n", 0, "holds no HEX records"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string path = dir.Write("fw.hex", c.text);
    const ImageLoadResult result = LoadHexImage(path, image);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find("\"" + path + "\""), std::string::npos) << result.message;
    EXPECT_NE(result.message.find(c.why), std::string::npos) << result.message;
    if (c.line != 0) {
      EXPECT_NE(result.message.find("line " + std::to_string(c.line) + ":"), std::string::npos)
          << result.message;
    }
    ExpectImageUntouched();
  }
}

TEST_F(LoaderTest, TheExtensionLetterPicksTheLoaderAndFailuresSayWhyForTheDialog) {
  const std::string text = ":0100000041BE\r\n:00000001FF\r\n";  // one byte as HEX
  for (const char* name : {"fw.HEX", "fw.h00", "fw.Bin"}) {
    const ImageLoadResult result = LoadProgramFile(dir.Write(name, text), image);
    ASSERT_TRUE(result.ok) << name << ": " << result.message;
    EXPECT_EQ(image.length, name[3] == 'B' ? text.size() : 1u) << name;
    EXPECT_EQ(image.bytes[0], name[3] == 'B' ? ':' : 0x41) << name;
  }
  SetUp();
  const struct {
    std::string name;
    const char* why;
  } cases[] = {
      {"", "Program File Not Ready !!"},
      {dir.Write("fw.txt", text), "is not a program file"},
      {dir.Write("fw.hx", text), "is not a program file"},
      {dir.PathOf("missing.hex"), "Cannot open"},
      {dir.Write("bad.hex", ":0100000041BF\n"), "line 1"},
  };
  for (const auto& c : cases) {
    const ImageLoadResult result = LoadProgramFile(c.name, image);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find(c.why), std::string::npos) << result.message;
    EXPECT_NE(result.message.find(c.name), std::string::npos) << result.message;
    EXPECT_EQ(LoadFailureDialogText(result), result.message + "    ");
    ExpectImageUntouched();
  }
}

TEST(HexDigitsValue, ReadsBothCasesAndCountsOtherCharactersAsZero) {
  const struct {
    const char* chars;
    std::size_t count;
    std::uint32_t value;
  } cases[] = {{"", 0, 0},
               {"fF", 2, 0xFF},
               {"aB09", 4, 0xAB09},
               {"1G", 2, 0x10},
               {"G1", 2, 0x01},
               {" :z", 3, 0},
               {"1234", 2, 0x12},
               {"DEADBEEF", 8, 0xDEADBEEF},
               {"123456789", 9, 0x23456789}};
  for (const auto& c : cases) EXPECT_EQ(HexDigitsValue(c.chars, c.count), c.value) << c.chars;
}

}  // namespace
}  // namespace velmora
