// The raw and Intel HEX loaders: image contents, length, checksum and the damaged-file rules.
#include "image_loaders.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <numeric>

#include "hex_digits.h"
#include "loader_test_files.h"

namespace velmora {
namespace {

using testing::Data;
using testing::kEnd;
using testing::Pattern;
using testing::Record;
using testing::ScratchDir;

std::uint16_t Sum16(const std::vector<std::uint8_t>& bytes, std::size_t count) {
  return static_cast<std::uint16_t>(std::accumulate(bytes.begin(), bytes.begin() + count, 0u));
}

// An image left over from an earlier load, so a loader that fails to start afresh or that
// touches the image on failure is caught.
ProgramImage PreviousImage() {
  ProgramImage image;
  image.bytes = Pattern(kProgramImageSize, 99);
  image.length = 0x2345;
  return image;
}

class LoaderTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  ProgramImage image = PreviousImage();

  void ExpectImageUntouched() {
    EXPECT_EQ(image.length, 0x2345u);
    EXPECT_EQ(image.bytes, Pattern(kProgramImageSize, 99));
  }
};

// ---- raw bytes

struct RawCase {
  const char* name;
  std::vector<std::uint8_t> file;
  std::uint32_t length;
  std::uint16_t checksum;
};

TEST_F(LoaderTest, RawFileFillsImageFromZeroAndTheRestIsErased) {
  const std::vector<RawCase> cases = {
      {"empty", {}, 0, 0x0000},
      {"three bytes", {0x01, 0x02, 0x03}, 3, 0x0006},
      {"300 x FF", std::vector<std::uint8_t>(300, 0xFF), 300, 0x2AD4},
      {"300 pattern", Pattern(300), 300, Sum16(Pattern(300), 300)},
      {"exactly 256 KiB", Pattern(kProgramImageSize, 5), kProgramImageSize,
       Sum16(Pattern(kProgramImageSize, 5), kProgramImageSize)},
      {"0xFF padding past 256 KiB",
       [] {
         auto bytes = Pattern(kProgramImageSize, 5);
         bytes.resize(kProgramImageSize + 1000, 0xFF);
         return bytes;
       }(),
       kProgramImageSize, Sum16(Pattern(kProgramImageSize, 5), kProgramImageSize)},
  };
  for (const RawCase& c : cases) {
    SCOPED_TRACE(c.name);
    image = PreviousImage();
    const ImageLoadResult result = LoadBinaryImage(dir.Write("fw.bin", c.file), image);
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(result.message, "");
    // Padding that is not programmed is said, with the file's size.
    EXPECT_EQ(result.note.find("263144 bytes") != std::string::npos,
              c.file.size() > kProgramImageSize)
        << result.note;
    EXPECT_EQ(result.checksum, c.checksum);
    EXPECT_EQ(image.length, c.length);
    for (std::uint32_t i = 0; i < kProgramImageSize; ++i) {
      const std::uint8_t expected = i < c.length ? c.file[i] : 0xFF;
      ASSERT_EQ(image.bytes[i], expected) << "at " << i;
    }
  }
}

TEST_F(LoaderTest, UnopenableFileFailsNamingItAndKeepsPreviousImage) {
  // The folder itself is refused as no regular file, below.
  for (const std::string& path : {dir.PathOf("missing.bin"), std::string()}) {
    SCOPED_TRACE(path);
    for (auto load : {LoadBinaryImage, LoadHexImage}) {
      const ImageLoadResult result = load(path, image);
      EXPECT_FALSE(result.ok);
      EXPECT_NE(result.message.find("Cannot open"), std::string::npos) << result.message;
      EXPECT_NE(result.message.find(path), std::string::npos) << result.message;
      ExpectImageUntouched();
    }
  }
}

// ---- What is not a program file is refused before it is read

// Runs `load` on another thread; when it has not returned within a few seconds (a FIFO blocks
// its reader until a writer comes), the test fails and a writer is opened to release it.
ImageLoadResult LoadWithinSeconds(ImageLoadResult (*load)(const std::string&, ProgramImage&),
                                  const std::string& path, ProgramImage& image) {
  auto loading = std::async(std::launch::async, [&] { return load(path, image); });
  if (loading.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
    ADD_FAILURE() << "the load of " << path << " blocked";
    const int writer = ::open(path.c_str(), O_WRONLY);
    if (writer >= 0) ::close(writer);
  }
  return loading.get();
}

TEST_F(LoaderTest, FifosDevicesAndOversizedFilesAreRefusedWithoutReading) {
  const std::string fifo = dir.PathOf("pipe.hex");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", dir.PathOf("zero.bin"));
  std::filesystem::create_symlink("/dev/zero", dir.PathOf("zero.hex"));
  // Sparse files: no disk is used for their size.
  const std::string largest = dir.Write("largest.bin", "");
  const std::string too_large_bin = dir.Write("too-large.bin", "");
  const std::string too_large_hex = dir.Write("too-large.hex", "");
  std::filesystem::resize_file(largest, kLargestProgramFile);
  std::filesystem::resize_file(too_large_bin, kLargestProgramFile + 1);
  std::filesystem::resize_file(too_large_hex, kLargestProgramFile + 1);

  const struct {
    std::string path;
    const char* why;
  } refused[] = {
      {fifo, "not a regular file"},
      {dir.PathOf("zero.bin"), "not a regular file"},
      {dir.PathOf("zero.hex"), "not a regular file"},
      {"/dev/null", "not a regular file"},
      {dir.PathOf(""), "not a regular file"},  // the folder itself
      {too_large_bin, "larger than 16 MiB"},
      {too_large_hex, "larger than 16 MiB"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.path);
    for (auto load : {LoadBinaryImage, LoadHexImage}) {
      const ImageLoadResult result = LoadWithinSeconds(load, c.path, image);
      EXPECT_FALSE(result.ok);
      EXPECT_NE(result.message.find(c.why), std::string::npos) << result.message;
      EXPECT_NE(result.message.find(c.path), std::string::npos) << result.message;
      ExpectImageUntouched();
    }
  }
  // A link to a regular file is that file. A raw file of the largest size is read to its end:
  // its bytes past 256 KiB are zeros, not padding, so cutting it would lose them.
  std::filesystem::create_symlink(largest, dir.PathOf("link.bin"));
  for (const std::string& path : {largest, dir.PathOf("link.bin")}) {
    const ImageLoadResult result = LoadBinaryImage(path, image);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find("holds 16777216 bytes"), std::string::npos) << result.message;
    EXPECT_NE(result.message.find("not 0xFF padding"), std::string::npos) << result.message;
    ExpectImageUntouched();
  }
}

// ---- Intel HEX: what the loader always did must still hold for plain files

// The loader as it used to read a file: every ':' starts a record whose type and checksum are
// not looked at; the bytes land at the 16-bit address; the length is the highest address + count.
ProgramImage LoadedTheOldWay(std::string_view text) {
  ProgramImage old;
  std::size_t pos = 0;
  auto field = [&](std::size_t width) {
    std::string chars;
    while (chars.size() < width && pos < text.size()) {
      chars.push_back(text[pos++]);
      if (chars.back() == '\n') break;
    }
    return HexDigitsValue(chars.data(), chars.size());
  };
  while (pos < text.size()) {
    if (text[pos++] != ':') continue;
    const std::uint32_t count = field(2);
    std::uint32_t address = field(4);
    if (address + count >= old.length) old.length = address + count;
    field(2);
    for (std::uint32_t i = 0; i < count; ++i) old.bytes[address++] = field(2);
    field(2);
  }
  return old;
}

TEST_F(LoaderTest, PlainHexFilesLoadAsTheyAlwaysDid) {
  const std::string crlf = "\r\n";
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"16 bytes at 0x0100", Data(0x0100, Pattern(16)) + "\n" + kEnd + "\n"},
      {"objcopy style, CRLF", Data(0, Pattern(16)) + crlf + Data(0x10, Pattern(16, 3)) + crlf +
                                  Data(0x20, Pattern(5, 9)) + crlf + kEnd + crlf},
      {"CR only, out of order, overlapping", Data(0x40, Pattern(32)) + "\r" +
                                                 Data(0x00, Pattern(8)) + "\r" +
                                                 Data(0x44, {1, 2}) + "\r" + kEnd + "\r"},
      {"lower case, junk before the colon and blank lines",
       "\n \t\n; made by hand  " + std::string(":0400100001020a0bd4") + "\n\n" + kEnd + "\n\n\n"},
      {"runs past 64 KiB", Data(0xFFF0, Pattern(32)) + "\n" + kEnd},
      {"255 bytes at 0xFFFF", Data(0xFFFF, Pattern(255)) + "\n" + kEnd + "\n"},
  };
  for (const auto& [name, text] : cases) {
    SCOPED_TRACE(name);
    const ProgramImage old = LoadedTheOldWay(text);
    const ImageLoadResult result = LoadHexImage(dir.Write("fw.hex", text), image);
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(image.length, old.length);
    EXPECT_EQ(result.checksum, old.Checksum());
    EXPECT_TRUE(image.bytes == old.bytes);
  }
}

TEST_F(LoaderTest, SixteenBytesAt0x0100GiveLength0x110WithTheLeadingErasedBytesSummed) {
  const std::vector<std::uint8_t> data = Pattern(16, 1);
  const ImageLoadResult result =
      LoadHexImage(dir.Write("fw.hex", Data(0x0100, data) + "\r\n" + kEnd + "\r\n"), image);
  ASSERT_TRUE(result.ok) << result.message;
  EXPECT_EQ(image.length, 0x110u);
  EXPECT_EQ(result.checksum, static_cast<std::uint16_t>(0xFF00 + Sum16(data, 16)));
}

// ---- Intel HEX: the record types and the text forms that real writers produce

struct Placed {
  std::uint32_t address;
  std::vector<std::uint8_t> bytes;
};

struct GoodHexCase {
  const char* name;
  std::string text;
  std::vector<Placed> placed;
  std::uint32_t length;
};

TEST_F(LoaderTest, HexRecordsLandAtTheirBaseAndOtherTextIsSkipped) {
  const std::vector<std::uint8_t> a = Pattern(16, 1), b = Pattern(4, 2);
  const std::vector<GoodHexCase> cases = {
      {"segment base (02) = value << 4",
       Record(0x02, 0, {0x10, 0x00}) + "\n" + Data(0x0010, a) + "\n" + kEnd,
       {{0x10010, a}},
       0x10020},
      {"linear base (04) = value << 16",
       Record(0x04, 0, {0x00, 0x01}) + "\n" + Data(0x0000, a) + "\n" + kEnd,
       {{0x10000, a}},
       0x10010},
      {"base changes apply to the records after them",
       Data(0, b) + "\n" + Record(0x04, 0, {0, 3}) + "\n" + Data(0xFFF0, a) + "\n" +
           Record(0x04, 0, {0, 0}) + "\n" + Data(0x20, b) + "\n" + kEnd,
       {{0, b}, {0x3FFF0, a}, {0x20, b}},
       0x40000},
      {"start addresses (03, 05) store nothing",
       Record(0x03, 0, {0x12, 0x34, 0x56, 0x78}) + "\r\n" + Data(0x08, b) + "\r\n" +
           Record(0x05, 0, {0x00, 0x00, 0x01, 0x00}) + "\r\n" + kEnd + "\r\n",
       {{0x08, b}},
       0x0C},
      {"srec_cat style: linear record first, LF",
       Record(0x04, 0, {0, 0}) + "\n" + Data(0, Pattern(32)) + "\n" + kEnd + "\n",
       {{0, Pattern(32)}},
       32},
      {"lower case digits", ":0400080001020a0bdc\n:00000001ff\n", {{8, {1, 2, 0x0A, 0x0B}}}, 12},
      {"junk before ':' and blanks after the record",
       "junk" + Data(0x08, b) + " \t\r\n\r\n" + kEnd,
       {{0x08, b}},
       0x0C},
      {"anything after the end record is ignored",
       Data(0x08, b) + "\n" + kEnd + "\n\n\x1A" + "garbage\n:0400000001020304FF\n" + Data(0x100, b),
       {{0x08, b}},
       0x0C},
      {"no final line end", Data(0x08, b) + "\n" + kEnd, {{0x08, b}}, 0x0C},
      {"Ctrl-Z right after the end record",
       Data(0x08, b) + "\r\n" + kEnd + "\x1A",
       {{0x08, b}},
       0x0C},
      {"Ctrl-Z on the line after the end record",
       Data(0x08, b) + "\r\n" + kEnd + "\r\n\x1A",
       {{0x08, b}},
       0x0C},
      {"end record alone", std::string(kEnd) + "\n", {}, 0},
  };
  for (const GoodHexCase& c : cases) {
    SCOPED_TRACE(c.name);
    image = PreviousImage();
    const ImageLoadResult result = LoadHexImage(dir.Write("fw.hex", c.text), image);
    ASSERT_TRUE(result.ok) << result.message;
    ProgramImage expected;
    for (const Placed& p : c.placed) {
      std::copy(p.bytes.begin(), p.bytes.end(), expected.bytes.begin() + p.address);
    }
    expected.length = c.length;
    EXPECT_EQ(image.length, c.length);
    EXPECT_EQ(result.checksum, expected.Checksum());
    EXPECT_TRUE(image.bytes == expected.bytes);
  }
}

struct BadHexCase {
  const char* name;
  std::string text;
  unsigned line;
  const char* why;
};

TEST_F(LoaderTest, DamagedHexFailsNamingFileAndLineAndKeepsPreviousImage) {
  const std::string good = Data(0, Pattern(16)) + "\r\n";
  const std::vector<BadHexCase> cases = {
      {"bad checksum", good + ":0400000001020304F1\r\n" + kEnd, 2, "checksum is F1 where F2"},
      {"checksum one off", good + good + ":0100000041BF\r\n", 3, "checksum"},
      {"non-hex character", good + ":04000000010G0304F2\r\n", 2, "'G'"},
      {"space inside the record", ":04000000 01020304F2\n", 1, "0x20"},
      {"text after the record", good + "\n\n" + Data(0, {1}) + "x\n", 4, "'x'"},
      {"two records on a line", Data(0, {1}) + kEnd + "\n", 1, "':'"},
      {"too short", good + ":1000\n", 2, "too short"},
      {"cut short", good + Data(0x10, Pattern(16)).substr(0, 30) + "\n" + kEnd, 2, "shorter"},
      {"longer than its count", ":0100000041AABE\n", 1, "longer"},
      {"unknown type", good + Record(0x06, 0, {1, 2}) + "\n", 2, "type 06"},
      {"extended record without 2 bytes", Record(0x04, 0, {1}) + "\n", 1, "instead of 2"},
      {"linear base beyond the image", Record(0x04, 0, {0, 4}) + "\n" + Data(0, {1}) + "\n" + kEnd,
       2, "beyond"},
      {"data crosses the image end", Record(0x04, 0, {0, 3}) + "\n" + Data(0xFFF8, Pattern(9)), 2,
       "beyond"},
      {"segment base beyond the image", Record(0x02, 0, {0x40, 0x00}) + "\n" + Data(0, {1}), 2,
       "beyond"},
      {"CR-only lines are counted", good + "\r\r:0400\r", 4, "too short"},
      {"LF-only lines are counted", good + "\n\n:0400\n", 4, "too short"},
      {"CRLF counts as one line end", good + "\r\n\r\n:0400\r\n", 4, "too short"},
      // A base near 4 GiB must not wrap the record's end past the image check.
      {"linear base near 4 GiB", Record(0x04, 0, {0xFF, 0xFF}) + "\n" + Data(0xFFF0, Pattern(16)),
       2, "beyond"},
      {"data ending exactly at 4 GiB",
       good + Record(0x04, 0, {0xFF, 0xFF}) + "\n" + Data(0xFFFF, {1}) + "\n" + kEnd, 3, "beyond"},
      // A record that lost its colon would leave a hole of 0xFF that Auto programs as good.
      {"record without its colon", good + Data(0x10, Pattern(16)).substr(1) + "\r\n" + kEnd, 2,
       "no ':'"},
      {"Ctrl-Z before the end record", good + "\x1A\r\n" + kEnd, 2, "no ':'"},
      {"text without records", "this is not a HEX file\n", 1, "no ':'"},
      // A file cut short by a copy or a download.
      {"no end record", good + Data(0x10, Pattern(16)) + "\r\n", 0, "end record is missing"},
      {"no end record, no final line end", good + Data(0x10, Pattern(16)), 0,
       "end record is missing"},
      {"empty file", "", 0, "holds no HEX records"},
      {"blank lines only", "\r\n \r\n", 0, "holds no HEX records"},
  };
  for (const BadHexCase& c : cases) {
    SCOPED_TRACE(c.name);
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

// ---- files from other tools

#ifdef VELMORA_OBJCOPY
TEST_F(LoaderTest, ObjcopyHexAbove64KiBLoadsTheSameBytesAsTheRawFile) {
  const std::vector<std::uint8_t> bytes = Pattern(0x32000 + 5, 17);  // 200 KiB and a bit
  const std::string raw = dir.Write("big.bin", bytes);
  const std::string hex = dir.PathOf("big.hex");
  const std::string command =
      std::string(VELMORA_OBJCOPY) + " -I binary -O ihex \"" + raw + "\" \"" + hex + "\"";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::ifstream text(hex, std::ios::binary);
  const std::string content((std::istreambuf_iterator<char>(text)), {});
  ASSERT_NE(content.find(":020000021000"), std::string::npos) << "no segment record written";

  const ImageLoadResult from_hex = LoadHexImage(hex, image);
  ASSERT_TRUE(from_hex.ok) << from_hex.message;
  ProgramImage from_raw;
  ASSERT_TRUE(LoadBinaryImage(raw, from_raw).ok);
  EXPECT_EQ(image.length, bytes.size());
  EXPECT_EQ(from_hex.checksum, Sum16(bytes, bytes.size()));
  EXPECT_TRUE(image.bytes == from_raw.bytes);
}
#endif

TEST_F(LoaderTest, DemoFirmwareFilesHoldTheSameImageAsDocumented) {
  const std::string samples = VELMORA_SAMPLES_DIR;
  const ImageLoadResult raw = LoadBinaryImage(samples + "/velmora-demo-fw.bin", image);
  ASSERT_TRUE(raw.ok) << raw.message;
  ProgramImage hex_image;
  const ImageLoadResult hex = LoadHexImage(samples + "/velmora-demo-fw.hex", hex_image);
  ASSERT_TRUE(hex.ok) << hex.message;
  EXPECT_EQ(image.length, 4608u);
  EXPECT_EQ(hex_image.length, 4608u);
  EXPECT_EQ(raw.checksum, 0xF1AA);  // the value samples/README.md gives
  EXPECT_EQ(hex.checksum, 0xF1AA);
  EXPECT_TRUE(image.bytes == hex_image.bytes);
}

}  // namespace
}  // namespace velmora
