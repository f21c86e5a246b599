// The user table inside a firmware image: the marker search and where the fields land. The
// parameter codec is tested through the Parameter tab, at the virtual chip's mailbox.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "user_table.h"

namespace velmora {
namespace {

using Bytes = std::vector<std::uint8_t>;

// `size` bytes that are neither blank nor spaces nor 'V', with `text` at `offset`.
Bytes ImageWith(std::size_t size, std::size_t offset, std::string_view text) {
  Bytes image(size);
  for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(0x80 + i % 61);
  std::copy(text.begin(), text.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
  return image;
}

TEST(UserTableTest, TheFirstMarkerMatchingTenCharactersWinsWhenItsTableFits) {
  using enum UserTableSearch::Outcome;
  Bytes two = ImageWith(0x800, 0x300, "VLUSB_Table01");
  std::copy_n("VLUSB_Table01", 13, two.begin() + 0x100);
  const struct {
    Bytes image;
    UserTableSearch::Outcome outcome;
    std::uint32_t offset;
  } cases[] = {
      {ImageWith(0x200, 0x20, "VLUSB_Table02"), kFound, 0x20},  // a later revision
      {ImageWith(0x200, 0x20, "VLUSB_TabX"), kNoMarker, 0},     // nine characters
      {ImageWith(0x200, 0x20, "VLUSB_TVLUSB_Table01"), kFound, 0x27},
      {two, kFound, 0x100},
      {ImageWith(0x100 + 177, 0x100, "VLUSB_Table01"), kFound, 0x100},
      {ImageWith(0x100 + 176, 0x100, "VLUSB_Table01"), kCutShort, 0x100},
      {ImageWith(0x109, 0x100, "VLUSB_Tab"), kNoMarker, 0},
  };
  for (const auto& c : cases) {
    const UserTableSearch search = FindUserTable(c.image);
    EXPECT_EQ(search.outcome, c.outcome) << c.offset;
    EXPECT_EQ(search.offset, c.offset);
  }
}

TEST(UserTableTest, IdsGoHighByteFirstAndStringsSpacePaddedOrCutAt32) {
  const std::string forty = "0123456789abcdefghijklmnopqrstuvwxyzABCD";
  Bytes image = ImageWith(0x1100 + 177, 0x1100, "VLUSB_Table01");
  Bytes expected = image;
  ASSERT_TRUE(WriteUserTableFields(image, 0x1100, {0x6CCF, 0x1D7A, {"ABC", "", forty, "", "y"}}));
  const std::string fields =
      "\x6C\xCF\x1D\x7A"
      "ABC" +
      std::string(61, ' ') + forty.substr(0, 32) + std::string(32, ' ') + "y" +
      std::string(31, ' ');
  std::copy(fields.begin(), fields.end(), expected.begin() + 0x110D);
  EXPECT_EQ(image, expected);
  EXPECT_FALSE(WriteUserTableFields(image, 0x1101, {}));  // one byte past the end: nothing
  EXPECT_EQ(image, expected);
}

}  // namespace
}  // namespace velmora
