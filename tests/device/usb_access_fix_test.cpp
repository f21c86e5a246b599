// The fix the permission error names follows how the tool was installed.
#include "usb_access_fix.h"

#include <gmock/gmock.h>

namespace velmora {
namespace {

TEST(UsbAccessFixTest, NamesTheFixThatFitsTheInstallation) {
  const std::string kRules = "/udev/rules.d/70-velmora-usbtool.rules";
  // Program, the rule installed ("" none), words the fix says, words it must not say.
  for (const auto& [program, rule, says, not_says] :
       {std::tuple{"/usr/bin/velmora-isp", "/usr/lib" + kRules, std::string("plugdev"), "cmake"},
        {"/usr/local/bin/velmora-isp", "/etc" + kRules, "/etc" + kRules + " is installed", "cmake"},
        {"/usr/bin/velmora-isp", "", "apt install --reinstall velmora-usbtool", "cmake"},
        {"/home/me/velmora/build/src/cli/velmora-isp", "", "sudo cmake --install build", "apt"},
        {"/usr/local/bin/velmora-isp", "", "sudo cmake --install build", "apt"}}) {
    const std::string words =
        UsbAccessFix(program, [&](const std::string& p) { return p == rule; });
    EXPECT_THAT(words, testing::HasSubstr(says)) << program;
    EXPECT_THAT(words, testing::Not(testing::HasSubstr(not_says))) << program;
  }
}

}  // namespace
}  // namespace velmora
