// The options of the tool and of the demo, read from an argument list. --help and --version
// are run end to end in program_options_test.
#include "command_line.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

QString Name(Program program) {
  return program == Program::Tool ? "velmora-usbtool" : "velmora-usbtool-demo";
}

// The program goes on to its window with these choices.
void CheckRuns(Program program, const QStringList& args, bool all_pages,
               const QString& first_page = QString()) {
  const CommandLine result = ReadCommandLine(QStringList{Name(program)} + args, program);
  const std::string where = (Name(program) + " " + args.join(' ')).toStdString();
  EXPECT_EQ(result.exit_code, std::nullopt) << where;
  EXPECT_TRUE(result.out.isEmpty() && result.err.isEmpty()) << where;
  EXPECT_EQ(result.all_pages, all_pages) << where;
  EXPECT_EQ(result.first_page, first_page) << where;
}

// The program ends with exit code 2 and "<name>: <why> (try --help)" as its one line.
void CheckRefused(Program program, const QStringList& args, const QString& why) {
  const CommandLine result = ReadCommandLine(QStringList{Name(program)} + args, program);
  const std::string where = (Name(program) + " " + args.join(' ')).toStdString();
  EXPECT_EQ(result.exit_code, 2) << where;
  EXPECT_TRUE(result.out.isEmpty()) << where;
  EXPECT_EQ(result.err, Name(program) + ": " + why + " (try --help)\n") << where;
}

TEST(CommandLine, TheToolShowsOnlyIspUnlessAskedForAllPages) {
  CheckRuns(Program::Tool, {}, false);
  CheckRuns(Program::Tool, {"--all-pages"}, true);
  CheckRuns(Program::Tool, {"-all-pages"}, true);
}

TEST(CommandLine, TheDemoShowsAllPagesUnlessAskedToStartAsShipped) {
  CheckRuns(Program::Demo, {}, true);
  CheckRuns(Program::Demo, {"--all-pages"}, true);
  CheckRuns(Program::Demo, {"--isp-only"}, false);
  CheckRuns(Program::Demo, {"--page", "Parameter"}, true, "Parameter");
  CheckRuns(Program::Demo, {"--isp-only", "--page=Gen. Bin File"}, false, "Gen. Bin File");
}

TEST(CommandLine, AnythingUnknownIsOneLineOnStderrAndExitCode2) {
  CheckRefused(Program::Tool, {"--bogus"}, "unknown option 'bogus'");
  CheckRefused(Program::Tool, {"--all-pages", "firmware.hex"},
               "unexpected argument 'firmware.hex'");
  // The demo's own options are unknown to the tool.
  CheckRefused(Program::Tool, {"--isp-only"}, "unknown option 'isp-only'");
  CheckRefused(Program::Tool, {"--all-pages=yes"}, "unexpected value after '--all-pages'");
  CheckRefused(Program::Demo, {"--page"}, "missing value after '--page'");
  CheckRefused(Program::Demo, {"--isp-only", "--all-pages"},
               "--all-pages and --isp-only exclude each other");
}

}  // namespace
}  // namespace velmora
