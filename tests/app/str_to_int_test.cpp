// The toolkit's string-to-integer conversion and the conversion error that handlers raise.
#include "str_to_int.h"

#include <gtest/gtest.h>

#include <climits>

#include "convert_error.h"

namespace velmora {
namespace {

struct Converts {
  const char* text;
  std::int32_t value;
};

class StrToIntConverts : public ::testing::TestWithParam<Converts> {};

TEST_P(StrToIntConverts, ToItsValue) {
  const std::optional<std::int32_t> value = StrToInt(GetParam().text);
  ASSERT_TRUE(value.has_value()) << GetParam().text;
  EXPECT_EQ(*value, GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, StrToIntConverts,
    ::testing::Values(Converts{"0", 0}, Converts{"123", 123}, Converts{"   42", 42},
                      Converts{"+7", 7}, Converts{"-7", -7}, Converts{" -12", -12},
                      Converts{"007", 7}, Converts{"000000000000000000001", 1}, Converts{"$1F", 31},
                      Converts{"x1f", 31}, Converts{"X1F", 31}, Converts{"0x1F", 31},
                      Converts{"0Xa0", 160}, Converts{"0x1FF", 511}, Converts{"-$10", -16},
                      Converts{" +0x10", 16}, Converts{"$0", 0}, Converts{"2147483647", INT_MAX},
                      Converts{"-2147483648", INT_MIN},
                      // Hexadecimal may use all 32 bits and wraps like the toolkit's.
                      Converts{"$7FFFFFFF", INT_MAX}, Converts{"$80000000", INT_MIN},
                      Converts{"0xFFFFFFFF", -1}, Converts{"0x00000000FF", 255}));

class StrToIntRejects : public ::testing::TestWithParam<const char*> {};

TEST_P(StrToIntRejects, AsNoInteger) {
  EXPECT_FALSE(StrToInt(GetParam()).has_value()) << '"' << GetParam() << '"';
}

INSTANTIATE_TEST_SUITE_P(Texts, StrToIntRejects,
                         ::testing::Values("", " ", "-", "+", "$", "x", "0x", "-0x", "12 ", "1 2",
                                           "12a", "abc", "0xG1", "0x 5", "$ 5", "0x-5", "--5",
                                           "+-5", "\t5", "1.5", "1e3", "0b101", "2147483648",
                                           "-2147483649", "99999999999", "$100000000",
                                           "0x1FFFFFFFF"));

TEST(StrToIntOrRaise, RaisesTheToolkitMessageWithTheTextAsGiven) {
  EXPECT_EQ(StrToIntOrRaise("0x2A"), 42);
  const struct {
    QString text;
    QString message;
  } cases[] = {
      {"0xZZ", "'0xZZ' is not a valid integer value"},
      {"0x", "'0x' is not a valid integer value"},
      {"12 ", "'12 ' is not a valid integer value"},
      {"%1 %2", "'%1 %2' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    try {
      StrToIntOrRaise(c.text);
      ADD_FAILURE() << "no error for " << c.text.toStdString();
    } catch (const EConvertError& error) {
      EXPECT_EQ(error.Message(), c.message);
    }
  }
}

}  // namespace
}  // namespace velmora
