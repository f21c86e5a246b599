#include "command_line.h"

#include <QCommandLineParser>
#include <cstdio>

#include "velmora_version.h"

namespace velmora {

namespace {

constexpr int kUsageError = 2;

QString ProgramName(Program program) {
  return program == Program::Tool ? "velmora-usbtool" : "velmora-usbtool-demo";
}

QString HelpText(Program program) {
  if (program == Program::Tool) {
    return "Usage: velmora-usbtool [--all-pages]\n"
           "Maintenance and in-system programming of the Velmora USB audio bridge chip.\n"
           "\n"
           "  --all-pages  also show the engineering pages (Register, I2C Access, Parameter,\n"
           "               Information, Gen. Bin File) and the ISP page's single steps,\n"
           "               step switches and range\n"
           "  -h, --help   show this help and exit\n"
           "  --version    show the version and exit\n";
  }
  return "Usage: velmora-usbtool-demo [--all-pages | --isp-only] [--page NAME]\n"
         "The tool over a virtual chip plugged in as 6ccf:6012, to try every page without\n"
         "hardware. Its settings are kept apart from the tool's.\n"
         "\n"
         "  --all-pages  show every page (the default)\n"
         "  --isp-only   start as the shipped tool does, with only the ISP page\n"
         "  --page NAME  show the page with caption NAME first (\"Parameter\", \"ISP\", ...)\n"
         "  -h, --help   show this help and exit\n"
         "  --version    show the version and exit\n";
}

CommandLine Refuse(Program program, const QString& why) {
  CommandLine result;
  result.exit_code = kUsageError;
  result.err = ProgramName(program) + ": " + why + " (try --help)\n";
  return result;
}

}  // namespace

CommandLine ReadCommandLine(const QStringList& arguments, Program program) {
  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help(QStringList{"h", "help"});
  const QCommandLineOption version("version");
  const QCommandLineOption all_pages("all-pages");
  const QCommandLineOption isp_only("isp-only");
  const QCommandLineOption page("page", QString(), "NAME");
  parser.addOption(help);
  parser.addOption(version);
  parser.addOption(all_pages);
  if (program == Program::Demo) {
    parser.addOption(isp_only);
    parser.addOption(page);
  }

  const bool parsed = parser.parse(arguments);
  CommandLine result;
  if (parser.isSet(help)) {
    result.exit_code = 0;
    result.out = HelpText(program);
    return result;
  }
  if (parser.isSet(version)) {
    result.exit_code = 0;
    result.out = ProgramName(program) + " " + kVersion + "\n";
    return result;
  }
  if (!parsed) {
    QString why = parser.errorText();  // "Unknown option 'x'."
    if (why.endsWith('.')) why.chop(1);
    if (!why.isEmpty()) why[0] = why[0].toLower();
    return Refuse(program, why);
  }
  if (!parser.positionalArguments().isEmpty()) {
    return Refuse(program, "unexpected argument '" + parser.positionalArguments().first() + "'");
  }
  if (program == Program::Tool) {
    result.all_pages = parser.isSet(all_pages);
    return result;
  }
  if (parser.isSet(isp_only) && parser.isSet(all_pages)) {
    return Refuse(program, "--all-pages and --isp-only exclude each other");
  }
  result.all_pages = !parser.isSet(isp_only);
  result.first_page = parser.value(page);
  return result;
}

namespace {

// Qt's own options, which QApplication takes out of the arguments later.
const QStringList kQtOptionsWithValue{"platform",        "platformpluginpath",
                                      "platformtheme",   "plugin",
                                      "qwindowgeometry", "qwindowicon",
                                      "qwindowtitle",    "session",
                                      "display",         "style",
                                      "stylesheet",      "name",
                                      "title",           "visual"};
const QStringList kQtFlags{"reverse", "widgetcount", "nograb", "dograb", "sync"};

QString OptionName(const QString& argument) {
  QString name = argument;
  while (name.startsWith('-')) name.remove(0, 1);
  return name.section('=', 0, 0);
}

}  // namespace

bool DisplayAvailable(const QStringList& arguments, const QString& platform_variable,
                      const QString& x11_display, const QString& wayland_display) {
  QString platforms = platform_variable;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    if (OptionName(arguments[i]) != "platform" || !arguments[i].startsWith('-')) continue;
    platforms = arguments[i].contains('=') ? arguments[i].section('=', 1) : arguments.value(i + 1);
  }
  if (platforms.isEmpty()) return !x11_display.isEmpty() || !wayland_display.isEmpty();
  for (const QString& entry : platforms.split(';', Qt::SkipEmptyParts)) {
    const QString platform = entry.section(':', 0, 0);
    if (platform == "xcb"                ? !x11_display.isEmpty()
        : platform.startsWith("wayland") ? !wayland_display.isEmpty()
                                         : true) {
      return true;
    }
  }
  return false;
}

std::optional<int> AnswerBeforeGui(int argc, char** argv, Program program) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  QStringList own{arguments.value(0)};
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString name = OptionName(arguments[i]);
    const bool option = arguments[i].startsWith('-') && arguments[i] != "--";
    if (option && kQtFlags.contains(name)) continue;
    if (option && kQtOptionsWithValue.contains(name)) {
      if (!arguments[i].contains('=')) ++i;  // the value follows
      continue;
    }
    own << arguments[i];
  }
  const CommandLine command_line = ReadCommandLine(own, program);
  if (command_line.exit_code) return FinishCommandLine(command_line);
  if (DisplayAvailable(arguments, qEnvironmentVariable("QT_QPA_PLATFORM"),
                       qEnvironmentVariable("DISPLAY"), qEnvironmentVariable("WAYLAND_DISPLAY"))) {
    return std::nullopt;
  }
  std::fprintf(stderr,
               "%s: no display to open the window on (DISPLAY is not set); velmora-isp programs "
               "the chip from the command line\n",
               qPrintable(ProgramName(program)));
  return 1;
}

int FinishCommandLine(const CommandLine& command_line) {
  std::fputs(command_line.out.toLocal8Bit().constData(), stdout);
  std::fputs(command_line.err.toLocal8Bit().constData(), stderr);
  return command_line.exit_code.value_or(0);
}

}  // namespace velmora
