// The options of the tool and of the demo as the two programs answer them when a shell starts
// them without any display, and which pages each shows by default.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include "command_line.h"
#include "velmora_version.h"

namespace velmora {
namespace {

TEST(ProgramOptions, TheToolShowsIspOnlyAndTheDemoEveryPageUnlessAsked) {
  EXPECT_FALSE(ReadCommandLine({"velmora-usbtool"}, Program::Tool).all_pages);
  EXPECT_TRUE(ReadCommandLine({"velmora-usbtool", "-all-pages"}, Program::Tool).all_pages);
  EXPECT_TRUE(ReadCommandLine({"velmora-usbtool-demo"}, Program::Demo).all_pages);
  const CommandLine isp_only = ReadCommandLine(
      {"velmora-usbtool-demo", "--isp-only", "--page=Gen. Bin File"}, Program::Demo);
  EXPECT_EQ(isp_only.exit_code, std::nullopt);
  EXPECT_FALSE(isp_only.all_pages);
  EXPECT_EQ(isp_only.first_page, "Gen. Bin File");
}

TEST(ProgramOptions, EachProgramAnswersWithoutADisplayInOneLineAndItsExitCode) {
  const char *tool = VELMORA_USBTOOL, *demo = VELMORA_USBTOOL_DEMO;
  const struct {
    const char* program;
    QStringList args;
    const char* platform;  // QT_QPA_PLATFORM; there is no display here
    int exit_code;
    QString out, err;  // what stdout starts with; what the one line on stderr says
  } rows[] = {
      {tool, {"--version"}, "xcb", 0, QString("velmora-usbtool ") + kVersion + "\n", ""},
      {demo, {"--help"}, "", 0, "Usage: velmora-usbtool-demo [--all-pages", ""},
      {tool, {}, "xcb", 1, "", "velmora-usbtool: no display to open the window on"},
      {demo, {"--all-pages"}, "", 1, "", "velmora-isp programs the chip"},
      // Qt's own options are the application's, not unknown ones.
      {tool, {"-platform", "offscreen", "--isp-only"}, "xcb", 2, "", "unknown option 'isp-only'"},
      {tool, {"--all-pages", "a.hex"}, "", 2, "", "velmora-usbtool: unexpected argument 'a.hex'"},
      {demo, {"--page"}, "", 2, "", "missing value after '--page' (try --help)"},
      {demo, {"--all-pages", "--isp-only"}, "", 2, "", "--all-pages and --isp-only exclude each"},
      {demo,
       {"--isp-only", "--page", "Parameter"},
       "offscreen",
       2,
       "",
       "no page 'Parameter' shows"},
  };
  for (const auto& row : rows) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QTemporaryDir runtime;  // a private runtime folder: Qt then has nothing to warn about
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
    if (*row.platform != '\0') env.insert("QT_QPA_PLATFORM", row.platform);
    process.setProcessEnvironment(env);
    process.start(row.program, row.args);
    ASSERT_TRUE(process.waitForFinished(20000)) << row.program;
    const QString out = process.readAllStandardOutput(), err = process.readAllStandardError();
    const std::string where = row.program + (" " + row.args.join(' ') + "\n" + err).toStdString();
    EXPECT_EQ(process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, row.exit_code)
        << where;
    EXPECT_TRUE(row.out.isEmpty() ? out.isEmpty() : out.startsWith(row.out)) << where;
    EXPECT_EQ(err.count('\n'), row.err.isEmpty() ? 0 : 1) << where;
    EXPECT_TRUE(err.contains(row.err)) << where;
  }
}

}  // namespace
}  // namespace velmora
