// The user table codec: the marker search, the string fields and the image sum. Where the fields
// land in a whole image is tested through the tab (bin_file_page_test).
#include "user_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {
namespace {

using Outcome = UserTableSearch::Outcome;
using Bytes = std::vector<std::uint8_t>;

// `size` bytes that are neither blank nor spaces nor 'V', with `text` written at `offset`.
Bytes ImageWith(std::size_t size, std::size_t offset, std::string_view text) {
  Bytes image(size);
  for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(0x80 + i % 61);
  std::copy(text.begin(), text.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
  return image;
}

TEST(UserTableSearchTest, FindsTheFirstMarkerWhoseFirstTenCharactersMatchAndWhoseTableFits) {
  Bytes two_markers = ImageWith(0x800, 0x300, "VLUSB_Table01");
  std::copy_n("VLUSB_Table01", 13, two_markers.begin() + 0x100);
  const struct {
    const char* what;
    Bytes image;
    Outcome outcome;
    std::uint32_t offset;
  } cases[] = {
      {"marker at 0", ImageWith(0x200, 0, "VLUSB_Table01"), Outcome::kFound, 0},
      {"a later revision", ImageWith(0x200, 0x20, "VLUSB_Table02"), Outcome::kFound, 0x20},
      {"ten characters suffice", ImageWith(0x200, 0x20, "VLUSB_TablX"), Outcome::kFound, 0x20},
      {"nine are not enough", ImageWith(0x200, 0x20, "VLUSB_TabX"), Outcome::kNoMarker, 0},
      {"a false start", ImageWith(0x200, 0x20, "VLUSB_TVLUSB_Table01"), Outcome::kFound, 0x27},
      {"the lower of two wins", two_markers, Outcome::kFound, 0x100},
      {"table ends at the image's end", ImageWith(0x100 + 177, 0x100, "VLUSB_Table01"),
       Outcome::kFound, 0x100},
      {"one byte short", ImageWith(0x100 + 176, 0x100, "VLUSB_Table01"), Outcome::kCutShort, 0x100},
      {"ten characters at the end", ImageWith(0x10A, 0x100, "VLUSB_Tabl"), Outcome::kCutShort,
       0x100},
      {"nine characters at the end", ImageWith(0x109, 0x100, "VLUSB_Tab"), Outcome::kNoMarker, 0},
      {"empty image", {}, Outcome::kNoMarker, 0},
  };
  for (const auto& c : cases) {
    const UserTableSearch search = FindUserTable(c.image);
    EXPECT_EQ(search.outcome, c.outcome) << c.what;
    EXPECT_EQ(search.offset, c.offset) << c.what;
    EXPECT_EQ(search.Found(), c.outcome == Outcome::kFound) << c.what;
  }
}

TEST(UserTableFieldsTest, StringsArePaddedWithSpacesOrCutAtThirtyTwoBytes) {
  const std::string forty = "0123456789abcdefghijklmnopqrstuvwxyzABCD";
  const struct {
    std::string text;
    std::string field;
  } cases[] = {
      {"ABC", "ABC" + std::string(29, ' ')},
      {"", std::string(32, ' ')},
      {forty, forty.substr(0, 32)},
  };
  for (const auto& c : cases) {
    Bytes image = ImageWith(0x200, 0, "VLUSB_Table01");
    UserTableFields fields;
    fields.strings.fill(c.text);  // a text running into its neighbour field would show
    ASSERT_TRUE(WriteUserTableFields(image, 0, fields));
    for (std::size_t k = 0; k < kUserStringCount; ++k) {
      EXPECT_EQ(std::string(image.begin() + 17 + 32 * k, image.begin() + 49 + 32 * k), c.field)
          << "\"" << c.text << "\" field " << k;
    }
    EXPECT_EQ(image[177], ImageWith(0x200, 0, "")[177]) << "the byte after the table";
  }
}

TEST(UserTableFieldsTest, ATableThatDoesNotFitIsNotWrittenAtAll) {
  for (std::uint32_t offset : {0x100u - 176u, 0x100u, 0xFFFFFFFFu}) {
    const Bytes original = ImageWith(0x100, 0, "");
    Bytes image = original;
    EXPECT_FALSE(PatchUserTable(image, offset, UserTableFields{}).ok) << offset;
    EXPECT_EQ(image, original) << offset;
  }
}

TEST(ImageSumTest, SixteenBitWrappingSumOfEveryByte) {
  EXPECT_EQ(ImageSum(Bytes{0xFF, 0xFF, 0x02}), 0x0200);
  EXPECT_EQ(ImageSum(Bytes(258, 0xFF)), 0x00FE);  // 0x100FE wraps
  EXPECT_EQ(ImageSum({}), 0);
}

}  // namespace
}  // namespace velmora
