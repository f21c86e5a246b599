// The toolkit's string-to-integer conversion and the conversion error that handlers raise.
#include "str_to_int.h"

#include <gtest/gtest.h>

#include <climits>

#include "convert_error.h"

namespace velmora {
namespace {

TEST(StrToInt, ReadsDecimalAndPrefixedHexadecimalAndRejectsAnythingElse) {
  const std::pair<const char*, std::optional<std::int32_t>> rows[] = {
      {"123", 123},
      {"   42", 42},
      {"+7", 7},
      {" -12", -12},
      {"000000000000000000001", 1},
      {"$1F", 31},
      {"x1f", 31},
      {"X1F", 31},
      {"0Xa0", 160},
      {"-$10", -16},
      {" +0x10", 16},
      {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN},
      {"$80000000", INT_MIN},
      {"0xFFFFFFFF", -1},
      {"0x00000000FF", 255},  // hexadecimal uses all 32 bits and wraps
      {"", {}},
      {" ", {}},
      {"-", {}},
      {"$", {}},
      {"0x", {}},
      {"12 ", {}},
      {"12a", {}},
      {"0x 5", {}},
      {"0x-5", {}},
      {"--5", {}},
      {"\t5", {}},
      {"1.5", {}},
      {"0b101", {}},
      {"2147483648", {}},
      {"-2147483649", {}},
      {"$100000000", {}}};
  for (const auto& [text, value] : rows) EXPECT_EQ(StrToInt(text), value) << '"' << text << '"';

  EXPECT_EQ(StrToIntOrRaise("0x2A"), 42);
  try {
    StrToIntOrRaise("%1 %2");
    ADD_FAILURE() << "no error";
  } catch (const EConvertError& error) {
    EXPECT_EQ(error.Message(), "'%1 %2' is not a valid integer value");
  }
}

}  // namespace
}  // namespace velmora
