// The options of the tool and of the demo: read from an argument list, and answered by the two
// programs as a shell starts them, without any display.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include "command_line.h"
#include "velmora_version.h"

namespace velmora {
namespace {

TEST(CommandLine, TheToolShowsIspOnlyTheDemoEveryPageAndAnythingElseIsRefused) {
  const struct {
    Program program;
    QStringList args;
    bool all_pages;
    QString first_page, refusal;  // a refusal: exit code 2 and one line on stderr
  } rows[] = {
      {Program::Tool, {}, false, "", ""},
      {Program::Tool, {"-all-pages"}, true, "", ""},
      {Program::Demo, {}, true, "", ""},
      {Program::Demo, {"--isp-only", "--page=Gen. Bin File"}, false, "Gen. Bin File", ""},
      {Program::Demo, {"--page", "Parameter"}, true, "Parameter", ""},
      {Program::Tool, {"--isp-only"}, false, "", "unknown option 'isp-only'"},
      {Program::Tool, {"--all-pages", "fw.hex"}, false, "", "unexpected argument 'fw.hex'"},
      {Program::Tool, {"--all-pages=yes"}, false, "", "unexpected value after '--all-pages'"},
      {Program::Demo, {"--page"}, false, "", "missing value after '--page'"},
      {Program::Demo,
       {"--isp-only", "--all-pages"},
       false,
       "",
       "--all-pages and --isp-only exclude each other"},
  };
  for (const auto& row : rows) {
    const QString name = row.program == Program::Tool ? "velmora-usbtool" : "velmora-usbtool-demo";
    const CommandLine read = ReadCommandLine(QStringList{name} + row.args, row.program);
    const std::string where = (name + " " + row.args.join(' ')).toStdString();
    EXPECT_EQ(read.exit_code, row.refusal.isEmpty() ? std::nullopt : std::optional(2)) << where;
    EXPECT_EQ(read.err, row.refusal.isEmpty() ? "" : name + ": " + row.refusal + " (try --help)\n");
    EXPECT_TRUE(read.out.isEmpty()) << where;
    EXPECT_EQ(read.all_pages, row.all_pages) << where;
    EXPECT_EQ(read.first_page, row.first_page) << where;
  }
}

TEST(ProgramOptions, EachProgramAnswersWithoutADisplayInOneLineAndItsExitCode) {
  const struct {
    const char* program;
    QStringList args;
    const char* platform;  // QT_QPA_PLATFORM; none of them has a display here
    int exit_code;
    QString out, err;  // what stdout starts with; what the one line on stderr holds
  } rows[] = {
      {VELMORA_USBTOOL, {"--version"}, "xcb", 0, QString("velmora-usbtool ") + kVersion + "\n", ""},
      {VELMORA_USBTOOL_DEMO,
       {"--version"},
       "",
       0,
       QString("velmora-usbtool-demo ") + kVersion + "\n",
       ""},
      {VELMORA_USBTOOL, {"--help"}, "xcb", 0, "Usage: velmora-usbtool [--all-pages]\n", ""},
      {VELMORA_USBTOOL, {}, "xcb", 1, "", "no display to open the window on"},
      {VELMORA_USBTOOL_DEMO,
       {"--all-pages"},
       "",
       1,
       "",
       "velmora-isp programs the chip from the command line"},
      // Qt's own options are the application's, not unknown ones.
      {VELMORA_USBTOOL,
       {"-platform", "offscreen", "--bogus"},
       "xcb",
       2,
       "",
       "unknown option 'bogus'"},
      {VELMORA_USBTOOL_DEMO, {"-style", "fusion", "--bogus"}, "", 2, "", "unknown option 'bogus'"},
      {VELMORA_USBTOOL_DEMO,
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
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    if (*row.platform != '\0') env.insert("QT_QPA_PLATFORM", row.platform);
    process.setProcessEnvironment(env);
    process.start(row.program, row.args);
    ASSERT_TRUE(process.waitForFinished(20000)) << row.program;
    const QString out = process.readAllStandardOutput(), err = process.readAllStandardError();
    const std::string where = row.program + (" " + row.args.join(' ')).toStdString();
    EXPECT_EQ(process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, row.exit_code)
        << where << err.toStdString();
    EXPECT_TRUE(row.out.isEmpty() ? out.isEmpty() : out.startsWith(row.out)) << where;
    EXPECT_EQ(err.count('\n'), row.err.isEmpty() ? 0 : 1) << where << err.toStdString();
    EXPECT_TRUE(err.contains(row.err)) << where << err.toStdString();
  }
}

}  // namespace
}  // namespace velmora
