// The two programs as a shell starts them: --help and --version answer without any display,
// an unknown option is one line on stderr and exit code 2, no display one line and exit code 1.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include "velmora_version.h"

namespace velmora {
namespace {

struct Finished {
  int exit_code = -1;
  QString out, err;
};

// Runs a program with no display at all: a window, had one been tried, could not open.
Finished Start(const QString& program, const QStringList& args, const QString& platform = "xcb") {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  const QTemporaryDir runtime;  // a private runtime folder: Qt then has nothing to warn about
  env.insert("XDG_RUNTIME_DIR", runtime.path());
  env.remove("DISPLAY");
  env.remove("WAYLAND_DISPLAY");
  if (!platform.isEmpty()) env.insert("QT_QPA_PLATFORM", platform);
  if (platform.isEmpty()) env.remove("QT_QPA_PLATFORM");
  process.setProcessEnvironment(env);
  process.start(program, args);
  EXPECT_TRUE(process.waitForFinished(20000)) << program.toStdString();
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          QString::fromLocal8Bit(process.readAllStandardOutput()),
          QString::fromLocal8Bit(process.readAllStandardError())};
}

TEST(ProgramOptions, HelpAndVersionAnswerWithoutADisplay) {
  const struct {
    const char* path;
    const char* name;
  } programs[] = {{VELMORA_USBTOOL, "velmora-usbtool"},
                  {VELMORA_USBTOOL_DEMO, "velmora-usbtool-demo"}};
  for (const auto& program : programs) {
    const Finished version = Start(program.path, {"--version"});
    EXPECT_EQ(version.exit_code, 0) << program.name << version.err.toStdString();
    EXPECT_EQ(version.out, QString(program.name) + " " + kVersion + "\n");
    const Finished help = Start(program.path, {"--help"});
    EXPECT_EQ(help.exit_code, 0) << program.name << help.err.toStdString();
    EXPECT_TRUE(help.out.startsWith(QString("Usage: ") + program.name)) << help.out.toStdString();
  }
}

TEST(ProgramOptions, AnUnknownOptionOrNoDisplayIsOneLineAndItsExitCode) {
  const struct {
    QStringList args;
    const char* platform;  // none of them has a display here
    int exit_code;
    const char* says;
  } rows[] = {{{"--bogus"}, "offscreen", 2, "unknown option 'bogus'"},
              {{"--bogus"}, "xcb", 2, "unknown option 'bogus'"},
              {{"-style", "fusion", "--bogus"}, "", 2, "unknown option 'bogus'"},
              {{}, "xcb", 1, "no display to open the window on"},
              {{"--all-pages"}, "", 1, "velmora-isp programs the chip from the command line"}};
  for (const char* path : {VELMORA_USBTOOL, VELMORA_USBTOOL_DEMO}) {
    for (const auto& row : rows) {
      const Finished run = Start(path, row.args, row.platform);
      EXPECT_EQ(run.exit_code, row.exit_code) << path << row.says;
      EXPECT_TRUE(run.out.isEmpty()) << path;
      EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
      EXPECT_TRUE(run.err.contains(row.says)) << run.err.toStdString();
    }
  }
  // Qt's own options are the application's, not unknown ones.
  const Finished qt_option = Start(VELMORA_USBTOOL, {"-platform", "offscreen", "--bogus"}, "xcb");
  EXPECT_EQ(qt_option.exit_code, 2);
  EXPECT_TRUE(qt_option.err.contains("unknown option 'bogus'")) << qt_option.err.toStdString();
}

TEST(ProgramOptions, TheDemoRefusesAPageThatDoesNotShow) {
  const Finished run =
      Start(VELMORA_USBTOOL_DEMO, {"--isp-only", "--page", "Parameter"}, "offscreen");
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_TRUE(run.err.contains("no page 'Parameter' shows")) << run.err.toStdString();
}

}  // namespace
}  // namespace velmora
