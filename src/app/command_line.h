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

// Everything judged before the application object exists, so it works without a display:
// --help, --version, an unknown option (Qt's own options, such as -platform NAME, are let
// through), and no display to open the window on, which says so in one line naming the
// command-line flasher and gives exit code 1. The exit code when the program ends here.
std::optional<int> AnswerBeforeGui(int argc, char** argv, Program program);

// Whether Qt will find a display: the platform chosen by -platform or QT_QPA_PLATFORM (the first
// of a list that has one), else the desktop's DISPLAY or WAYLAND_DISPLAY. Platforms that need no
// display (offscreen, minimal, vnc, ...) always have one.
bool DisplayAvailable(const QStringList& arguments, const QString& platform_variable,
                      const QString& x11_display, const QString& wayland_display);

// Prints what `command_line` says to print and returns its exit code (it must have one).
int FinishCommandLine(const CommandLine& command_line);

}  // namespace velmora
