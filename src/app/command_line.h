// The options of the two programs. Both answer --help and --version and refuse anything they do
// not know with one line on stderr and exit code 2.
//
//   velmora-usbtool       [--all-pages]
//   velmora-usbtool-demo  [--all-pages | --isp-only] [--page NAME]   (every page by default)
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace velmora {

enum class Program { Tool, Demo };

struct CommandLine {
  // Set when the program ends here, with what it prints on stdout (help, version) or stderr.
  std::optional<int> exit_code;
  QString out;
  QString err;

  bool all_pages = false;
  QString first_page;  // demo: the page to show first, by caption or sheet name
};

// Reads `arguments` (the program's name first, as QCoreApplication::arguments gives them).
CommandLine ReadCommandLine(const QStringList& arguments, Program program);

// --help and --version, answered before the application object exists, so they work without a
// display. Qt's own options are not taken out yet, so nothing else is judged here. The exit code
// when the program ends here.
std::optional<int> AnswerHelpOrVersion(int argc, char** argv, Program program);

// Prints what `command_line` says to print and returns its exit code (it must have one).
int FinishCommandLine(const CommandLine& command_line);

}  // namespace velmora
