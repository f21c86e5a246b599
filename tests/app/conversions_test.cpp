// The window's plain conversions: an edit's text to an integer as the toolkit reads it, and the
// designed file-dialog filters into Qt's form.
#include <gtest/gtest.h>

#include "dialogs.h"
#include "str_to_int.h"

namespace velmora {
namespace {

TEST(StrToInt, ReadsDecimalAndPrefixedHexadecimalAndRejectsAnythingElse) {
  EXPECT_EQ(StrToInt("  -012"), -12);
  EXPECT_EQ(StrToInt("+$1F"), 31);
  EXPECT_EQ(StrToInt("-x1f"), -31);
  EXPECT_EQ(StrToInt("0Xa0"), 160);
  EXPECT_EQ(StrToInt("0xFFFFFFFF"), -1);  // hexadecimal takes all 32 bits and wraps
  for (const char* text : {"", "-", "$", "0x", "12 ", "12a", "0x 5", "0x-5", "--5", "\t5", "1.5",
                           "2147483648", "-2147483649", "$100000000"}) {
    EXPECT_EQ(StrToInt(text), std::nullopt) << '"' << text << '"';
  }
}

TEST(QtFileDialogs, TakeTheDesignedFiltersAndExtensionsInQtsForm) {
  EXPECT_EQ(QtNameFilter("Hex File|*.hex;*.h00|Binary File|*.bin"),
            "Hex File (*.hex *.h00);;Binary File (*.bin)");
  EXPECT_EQ(QtDefaultSuffix("*.hex") + QtDefaultSuffix(".bin") + QtDefaultSuffix(""), "hexbin");
}

}  // namespace
}  // namespace velmora
