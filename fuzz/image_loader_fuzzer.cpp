// libFuzzer target: arbitrary bytes as a program file, loaded by the HEX loader and by the raw
// loader into an image that already holds an earlier load. Besides crashes and sanitizer reports
// it stops on any broken promise a caller relies on:
//  - a failed load leaves the previous image and length untouched, and says why;
//  - a good load stays inside the 256 KiB image: the length is at most 256 KiB and every byte
//    past it is still 0xFF, so nothing was written beyond what the length covers;
//  - a good load's checksum is the 16-bit sum of image bytes 0 .. length - 1;
//  - the raw loader takes the file's first bytes (at most 256 KiB) unchanged.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "hex_record_mutator.h"
#include "image_loaders.h"
#include "program_image.h"

namespace {

using velmora::ImageLoadResult;
using velmora::kProgramImageSize;
using velmora::ProgramImage;

// The loaders read a path, so every input goes through one file of this process.
std::string g_path;

void RemoveInputFile() {
  std::remove(g_path.c_str());
}

void Require(bool ok, const char* loader, const char* promise) {
  if (ok) return;
  std::fprintf(stderr, "%s loader broke its promise: %s\n", loader, promise);
  std::abort();
}

// What the caller's image held before the load: a pattern no load produces.
const ProgramImage& EarlierLoad() {
  static const ProgramImage earlier = [] {
    ProgramImage image;
    for (std::uint32_t i = 0; i < kProgramImageSize; ++i) {
      image.bytes[i] = static_cast<std::uint8_t>(i * 131 + 7);
    }
    image.length = 0x2A5A5;
    return image;
  }();
  return earlier;
}

void CheckOutcome(const char* loader, const ImageLoadResult& result, const ProgramImage& image) {
  Require(image.bytes.size() == kProgramImageSize, loader, "the image stays 256 KiB");
  if (!result.ok) {
    Require(!result.message.empty(), loader, "a failed load says why");
    Require(image.length == EarlierLoad().length, loader, "a failed load keeps the length");
    Require(image.bytes == EarlierLoad().bytes, loader, "a failed load keeps the image");
    return;
  }
  Require(image.length <= kProgramImageSize, loader, "the length is at most 256 KiB");
  Require(std::all_of(image.bytes.begin() + image.length, image.bytes.end(),
                      [](std::uint8_t b) { return b == 0xFF; }),
          loader, "nothing is written past the length");
  std::uint16_t sum = 0;
  for (std::uint32_t i = 0; i < image.length; ++i) {
    sum = static_cast<std::uint16_t>(sum + image.bytes[i]);
  }
  Require(result.checksum == sum, loader, "the checksum is the sum of bytes 0 .. length - 1");
}

}  // namespace

// Three inputs in four are blind mutations with their records' counts and checksums repaired, one
// in eight a blind mutation as it stands (damaged records are inputs too), and one in eight gets a
// whole new record line.
extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t max_size);
extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t max_size, unsigned int seed) {
  std::minstd_rand random(seed);
  switch (random() % 8) {
    case 0:
      return velmora::fuzz::InsertRecordLine(data, size, max_size, random);
    case 1:
      return LLVMFuzzerMutate(data, size, max_size);
    default:
      size = LLVMFuzzerMutate(data, size, max_size);
      velmora::fuzz::RepairRecords(data, size);
      return size;
  }
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* tmp = std::getenv("TMPDIR");
  g_path = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/velmora-fuzz-" +
           std::to_string(getpid()) + ".input";
  std::atexit(RemoveInputFile);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(g_path.c_str(), "wb");
  if (file == nullptr) std::abort();
  const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !written) std::abort();

  // One image for the whole run: its storage is reused, as a window's image is.
  static ProgramImage image;
  image = EarlierLoad();
  const ImageLoadResult hex = velmora::LoadHexImage(g_path, image);
  CheckOutcome("HEX", hex, image);

  image = EarlierLoad();
  const ImageLoadResult raw = velmora::LoadBinaryImage(g_path, image);
  CheckOutcome("raw", raw, image);
  Require(raw.ok, "raw", "a readable file loads");
  const std::size_t taken = std::min<std::size_t>(size, kProgramImageSize);
  Require(image.length == taken, "raw", "the length is the file's size, at most 256 KiB");
  Require(std::equal(data, data + taken, image.bytes.begin()), "raw", "the bytes load unchanged");
  return 0;
}
