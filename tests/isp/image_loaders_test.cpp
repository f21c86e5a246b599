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

namespace velmora::testing {
namespace {

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
  // `bytes` at each of `at`, 0xFF elsewhere, the sum over the first `length` bytes.
  void ExpectImage(const ImageLoadResult& result, const std::vector<std::uint8_t>& bytes,
                   std::vector<std::uint32_t> at, std::uint32_t length) {
    ASSERT_TRUE(result.ok) << result.message;
    std::vector<std::uint8_t> expected(kProgramImageSize, 0xFF);
    for (std::uint32_t a : at) std::copy(bytes.begin(), bytes.end(), expected.begin() + a);
    EXPECT_EQ(image.length, length);
    EXPECT_EQ(result.checksum,
              std::uint16_t(std::accumulate(expected.begin(), expected.begin() + length, 0u)));
    EXPECT_TRUE(image.bytes == expected);
  }
  ScratchDir dir;
  ProgramImage image;
};

TEST_F(LoaderTest, RawFileFillsTheImageFromZeroAndTheRestIsErased) {
  auto padded = Pattern(kProgramImageSize + 1000, 5);
  std::fill(padded.begin() + kProgramImageSize, padded.end(), 0xFF);
  for (const std::size_t size : {0ul, 3ul, 300ul, std::size_t{kProgramImageSize}, padded.size()}) {
    SetUp();
    const std::vector<std::uint8_t> file(padded.begin(), padded.begin() + size);
    const std::uint32_t length = std::min<std::uint32_t>(size, kProgramImageSize);
    const ImageLoadResult result = LoadBinaryImage(dir.Write("fw.bin", file), image);
    ExpectImage(result, {file.begin(), file.begin() + length}, {0}, length);
    // 0xFF padding past 256 KiB is not programmed, and that is said.
    EXPECT_EQ(result.note.find("263144 bytes") != std::string::npos, size > length);
  }
}

TEST_F(LoaderTest, WhatIsNoProgramFileIsRefusedWithoutReadingAndKeepsThePreviousImage) {
  ASSERT_EQ(::mkfifo(dir.PathOf("pipe.hex").c_str(), 0600), 0);  // would block its reader
  std::filesystem::create_symlink("/dev/zero", dir.PathOf("zero.bin"));
  const std::string too_large = dir.Write("too-large.hex", ""), largest = dir.Write("big.bin", "");
  std::filesystem::resize_file(too_large, kLargestProgramFile + 1);  // sparse: no disk used
  std::filesystem::resize_file(largest, kLargestProgramFile);
  const std::pair<std::string, const char*> cases[] = {
      {dir.PathOf("missing.bin"), "Cannot open"},
      {"", "Cannot open"},
      {dir.PathOf("pipe.hex"), "not a regular file"},
      {dir.PathOf("zero.bin"), "not a regular file"},
      {dir.PathOf(""), "not a regular file"},
      {too_large, "larger than 16 MiB"}};
  for (const auto& [path, why] : cases) {
    for (auto load : {LoadBinaryImage, LoadHexImage}) {
      const ImageLoadResult result = load(path, image);
      EXPECT_FALSE(result.ok);
      EXPECT_NE(result.message.find(why), std::string::npos) << result.message;
      EXPECT_NE(result.message.find(path), std::string::npos) << result.message;
      ExpectImageUntouched();
    }
  }
  // A raw file of the largest size is read to its end: its bytes past 256 KiB are zeros, not
  // padding, so cutting it would lose them.
  const ImageLoadResult result = LoadBinaryImage(largest, image);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.message.find("past 256 KiB are not 0xFF padding"), std::string::npos)
      << result.message;
  ExpectImageUntouched();
}

TEST_F(LoaderTest, HexRecordsLandAtTheirBaseAndOtherTextIsSkipped) {
  const std::vector<std::uint8_t> b = {0x12, 0x00, 0xAB, 0x7F};
  std::string lower = Data(0x08, b);
  for (char& ch : lower) ch = static_cast<char>(std::tolower(ch));
  const struct {
    std::string text;
    std::vector<std::uint32_t> at;  // where b lands
    std::uint32_t length;           // the highest address written + 1
  } cases[] = {
      {Data(0x0100, b) + "\r\n" + kEnd + "\r\n", {0x100}, 0x104},
      {Data(0x40, b) + "\r" + Data(0, b) + "\r" + kEnd + "\r", {0x40, 0}, 0x44},
      {Data(0xFFFE, b) + "\n" + kEnd, {0xFFFE}, 0x10002},  // runs on past 64 KiB
      {Record(0x02, 0, {0x10, 0x00}) + "\n" + Data(0x10, b) + "\n" + kEnd, {0x10010}, 0x10014},
      {Data(0, b) + "\n" + Record(0x04, 0, {0, 3}) + "\n" + Data(0xFFFC, b) + "\n" +
           Record(0x04, 0, {0, 0}) + "\n" + Data(0x20, b) + "\n" + kEnd,
       {0, 0x3FFFC, 0x20},
       0x40000},
      {Record(0x03, 0, {1, 2, 3, 4}) + "\n" + lower + "\n" + Record(0x05, 0, {0, 0, 1, 0}) + "\n" +
           ":00000001ff\n",
       {0x08},
       0x0C},
      // Junk before ':', blanks after a record, Ctrl-Z and text after the end record.
      {"; by hand " + Data(0x08, b) + " \t\r\n\r\n" + kEnd + "\x1A" + "\nx\n" + Data(0x100, b),
       {0x08},
       0x0C},
      {std::string(kEnd) + "\n", {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    SetUp();
    ExpectImage(LoadHexImage(dir.Write("fw.hex", c.text), image), b, c.at, c.length);
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
      {Data(0, {1}) + kEnd + "\n", 1, "':'"},  // two records on a line
      {good + Data(0x10, Pattern(16)).substr(0, 30) + "\n" + kEnd, 2, "shorter"},
      {":0100000041AABE\n", 1, "longer"},
      {good + Record(0x06, 0, {1, 2}) + "\n", 2, "type 06"},
      {Record(0x04, 0, {1}) + "\n", 1, "instead of 2"},
      {Record(0x04, 0, {0, 3}) + "\n" + Data(0xFFF8, Pattern(9)), 2, "beyond"},  // ends at +1
      {Record(0x04, 0, {0xFF, 0xFF}) + "\n" + Data(0xFFF0, Pattern(16)), 2, "beyond"},  // 4 GiB
      {good + "\r\n\r\n:0400\r\n", 4, "too short"},  // CRLF counts as one line end
      // A record that lost its colon would leave a hole of 0xFF that Auto programs as good.
      {good + Data(0x10, Pattern(16)).substr(1) + "\r\n" + kEnd, 2, "no ':'"},
      {good + Data(0x10, Pattern(16)), 0, "end record is missing"},  // cut short by a copy
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string path = dir.Write("fw.hex", c.text);
    const ImageLoadResult result = LoadHexImage(path, image);
    EXPECT_FALSE(result.ok);
    const std::string line = c.line ? "line " + std::to_string(c.line) + ":" : "";
    for (const std::string& part : {"\"" + path + "\"", std::string(c.why), line})
      EXPECT_NE(result.message.find(part), std::string::npos) << result.message;
    ExpectImageUntouched();
  }
}

// The third-last letter of the name, in either case, picks the loader; the window's tests load
// the other names.
TEST_F(LoaderTest, TheExtensionLetterPicksTheLoaderAndOtherCharactersCountAsZeroDigits) {
  const std::string text = ":0100000041BE\r\n:00000001FF\r\n";  // one byte as HEX
  for (const char* name : {"fw.HEX", "fw.h00", "fw.Bin"}) {
    ASSERT_TRUE(LoadProgramFile(dir.Write(name, text), image).ok) << name;
    EXPECT_EQ(image.bytes[0], name[3] == 'B' ? ':' : 0x41) << name;
  }
  EXPECT_EQ(HexDigitsValue("aB0G", 4), 0xAB00u);
  EXPECT_EQ(HexDigitsValue("123456789", 9), 0x23456789u);  // past 8 digits the value wraps
}

}  // namespace
}  // namespace velmora::testing
