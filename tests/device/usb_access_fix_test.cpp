// The fix the permission error names follows how the tool was installed.
#include "usb_access_fix.h"

#include <gmock/gmock.h>

#include <set>

namespace velmora {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST(UsbAccessFixTest, NamesTheFixThatFitsTheInstallation) {
  const struct {
    const char* program;
    std::set<std::string> files;
    const char* says;
    const char* not_says;
  } cases[] = {
      {"/usr/bin/velmora-isp",
       {"/usr/lib/udev/rules.d/70-velmora-usbtool.rules"},
       "plugdev",
       "cmake"},
      {"/usr/local/bin/velmora-isp",
       {"/etc/udev/rules.d/70-velmora-usbtool.rules"},
       "/etc/udev/rules.d/70-velmora-usbtool.rules is installed",
       "cmake"},
      {"/usr/bin/velmora-isp", {}, "apt install --reinstall velmora-usbtool", "cmake"},
      {"/home/me/velmora/build/src/cli/velmora-isp", {}, "sudo cmake --install build", "apt"},
      {"/usr/local/bin/velmora-isp", {}, "sudo cmake --install build", "apt"},
  };
  for (const auto& c : cases) {
    const std::string words =
        UsbAccessFix(c.program, [&](const std::string& path) { return c.files.contains(path); });
    EXPECT_THAT(words, HasSubstr(c.says)) << c.program;
    EXPECT_THAT(words, Not(HasSubstr(c.not_says))) << c.program;
  }
}

}  // namespace
}  // namespace velmora
