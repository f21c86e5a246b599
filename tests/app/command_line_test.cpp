// The options of the tool and of the demo, and what the programs answer before any window exists:
// Qt's own options pass, anything unknown or no display to open a window on ends them in one line.
#include "command_line.h"

#include <gtest/gtest.h>

#include "velmora_version.h"

namespace velmora {
namespace {

TEST(CommandLine, TheToolShowsIspOnlyTheDemoEveryPageAndAnythingUnknownIsOneLine) {
  EXPECT_FALSE(ReadCommandLine({"velmora-usbtool"}, Program::Tool).all_pages);
  EXPECT_TRUE(ReadCommandLine({"velmora-usbtool", "-all-pages"}, Program::Tool).all_pages);
  EXPECT_TRUE(ReadCommandLine({"velmora-usbtool-demo"}, Program::Demo).all_pages);
  EXPECT_EQ(ReadCommandLine({"velmora-usbtool", "--version"}, Program::Tool).out,
            QString("velmora-usbtool ") + kVersion + "\n");
  EXPECT_EQ(ReadCommandLine({"x", "--all-pages", "--isp-only"}, Program::Demo).err,
            "velmora-usbtool-demo: --all-pages and --isp-only exclude each other (try --help)\n");

  qunsetenv("DISPLAY");
  qunsetenv("WAYLAND_DISPLAY");
  qputenv("QT_QPA_PLATFORM", "xcb");
  const auto answer = [](std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    ::testing::internal::CaptureStderr();
    const std::optional<int> code = AnswerBeforeGui(int(argv.size()), argv.data(), Program::Tool);
    return std::to_string(code.value_or(-1)) + " " + ::testing::internal::GetCapturedStderr();
  };
  EXPECT_EQ(answer({"velmora-usbtool", "-style", "fusion", "-platform=offscreen"}), "-1 ");
  EXPECT_EQ(answer({"velmora-usbtool", "-platform", "offscreen", "--isp-only"}),
            "2 velmora-usbtool: unknown option 'isp-only' (try --help)\n");
  EXPECT_EQ(answer({"velmora-usbtool", "--all-pages"}),
            "1 velmora-usbtool: no display to open the window on (DISPLAY is not set); velmora-isp "
            "programs the chip from the command line\n");
}

}  // namespace
}  // namespace velmora
