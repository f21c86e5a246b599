// velmora-isp's file commands: image info and dump load as the window does, patch-table does
// the "Gen. Bin File" job. No device is involved.
#include <gmock/gmock.h>

#include <filesystem>

#include "cli_fixture.h"
#include "program_file.h"

namespace velmora::cli::testing {
namespace {

using ::testing::HasSubstr;

std::string InfoText(std::uint32_t length, std::uint16_t checksum) {
  char text[64];
  std::snprintf(text, sizeof text, "length 0x%05X\nchecksum 0x%04X\n", length, checksum);
  return text;
}

TEST_F(CliTest, ImageInfoPrintsWhatTheWindowsLoaderFinds) {
  // The samples and the README agree on 0xF1AA; the fuzz corpus brings the HEX writers' quirks
  // (segment and linear records, start addresses, data past 64 KiB, a 4 GiB wrap, a raw file).
  EXPECT_EQ(Run({"image", "info", Sample("velmora-demo-fw.hex")}).out, InfoText(0x1200, 0xF1AA));
  EXPECT_EQ(Run({"image", "info", Sample("velmora-demo-fw.bin")}).out, InfoText(0x1200, 0xF1AA));
  EXPECT_EQ(Run({"image", "info", Write("ff.bin", Bytes(300, 0xFF))}).out, InfoText(300, 0x2AD4));
  EXPECT_EQ(Run({"image", "info", Write("empty.bin", "")}).out, InfoText(0, 0));

  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(VELMORA_FUZZ_CORPUS_DIR)) {
    files.push_back(entry.path().string());
  }
  files.push_back(Write("bad.hex", ":10000000ZZ\r\n:00000001FF\r\n"));
  files.push_back(Write("notes.txt", "hello"));
  files.push_back(Path("missing.hex"));
  int loaded = 0;
  for (const std::string& file : files) {
    ProgramImage image;
    const ImageLoadResult window = LoadProgramFile(file, image);
    const CliRun run = Run({"image", "info", file});
    if (window.ok) {
      ++loaded;
      EXPECT_EQ(run.code, 0) << file;
      EXPECT_EQ(run.out, InfoText(image.length, window.checksum)) << file;
    } else {
      EXPECT_EQ(run.code, 2) << file;
      EXPECT_EQ(run.err, window.message + "\n");
      EXPECT_EQ(run.out, "");
    }
  }
  EXPECT_GE(loaded, 8) << "most corpus files load";
}

TEST_F(CliTest, ImageDumpWritesTheImageBytesOnly) {
  const CliRun run = Run({"image", "dump", Sample("velmora-demo-fw.hex"), Path("img.bin")});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(Read(Path("img.bin")), Read(Sample("velmora-demo-fw.bin")));
  EXPECT_EQ(Run({"image", "dump", Path("missing.hex"), Path("none.bin")}).code, 2);
  EXPECT_FALSE(std::filesystem::exists(Path("none.bin")));
}

// An image with the table at 0x1000: bytes around it are neither blank nor spaces.
Bytes ImageWithTable(std::size_t size, std::size_t table) {
  Bytes image(size);
  for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(0x80 + i % 61);
  const std::string marker = "VLUSB_Table01";
  std::copy(marker.begin(), marker.end(), image.begin() + static_cast<std::ptrdiff_t>(table));
  return image;
}

std::string Field(const Bytes& image, std::size_t at) {
  return std::string(image.begin() + static_cast<std::ptrdiff_t>(at),
                     image.begin() + static_cast<std::ptrdiff_t>(at + 32));
}

TEST_F(CliTest, PatchTableWritesTheGivenFieldsAndThePagesTextsForTheRest) {
  const Bytes input = ImageWithTable(0x1800, 0x1000);
  const std::string in = Write("fw.bin", input);
  const std::string out = Path("new.bin");
  const CliRun run = Run({"patch-table", in, out, "--vid", "1d7a", "--serial", "SN-000123",
                          "--record-port", std::string(32, 'R')});
  ASSERT_EQ(run.code, 0) << run.err;
  const Bytes saved = Read(out);
  ASSERT_EQ(saved.size(), input.size());
  EXPECT_EQ(Bytes(saved.begin() + 0x100D, saved.begin() + 0x1011), (Bytes{0x1D, 0x7A, 0x60, 0x12}));
  EXPECT_EQ(Field(saved, 0x1011), "Velmora-inc" + std::string(21, ' '));
  EXPECT_EQ(Field(saved, 0x1031), "Velmora-inc UAC22" + std::string(15, ' '));
  EXPECT_EQ(Field(saved, 0x1051), "SN-000123" + std::string(23, ' '));
  EXPECT_EQ(Field(saved, 0x1071), "Primary Play Interface" + std::string(10, ' '));
  EXPECT_EQ(Field(saved, 0x1091), std::string(32, 'R'));
  // Everything outside the seven fields as it was, the marker included.
  EXPECT_TRUE(std::equal(input.begin(), input.begin() + 0x100D, saved.begin()));
  EXPECT_TRUE(std::equal(input.begin() + 0x10B1, input.end(), saved.begin() + 0x10B1));
  std::uint16_t sum = 0;
  for (std::uint8_t b : saved) sum = static_cast<std::uint16_t>(sum + b);
  char expected[32];
  std::snprintf(expected, sizeof expected, "sum 0x%04X\n", sum);
  EXPECT_EQ(run.out, expected);
  EXPECT_EQ(Read(in), input);
}

TEST_F(CliTest, PatchTableRefusesAnImageWithoutAWholeTableAndWritesNothing) {
  const struct {
    std::string in;
    const char* says;
  } cases[] = {
      {Write("plain.bin", Bytes(0x400, 0x11)), "holds no user table"},
      {Write("short.bin", ImageWithTable(0x100 + 176, 0x100)), "cut short"},
      {Write("bad.hex", ":10000000ZZ\r\n"), "bad.hex"},
  };
  for (const auto& c : cases) {
    const CliRun run = Run({"patch-table", c.in, Path("out.bin")});
    EXPECT_EQ(run.code, 2) << c.says;
    EXPECT_THAT(run.err, HasSubstr(c.says));
    EXPECT_FALSE(std::filesystem::exists(Path("out.bin"))) << c.says;
  }
}

}  // namespace
}  // namespace velmora::cli::testing
