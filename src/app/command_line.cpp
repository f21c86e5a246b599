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

std::optional<int> AnswerHelpOrVersion(int argc, char** argv, Program program) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const CommandLine command_line = ReadCommandLine(arguments, program);
  if (command_line.exit_code != 0) return std::nullopt;
  return FinishCommandLine(command_line);
}

int FinishCommandLine(const CommandLine& command_line) {
  std::fputs(command_line.out.toLocal8Bit().constData(), stdout);
  std::fputs(command_line.err.toLocal8Bit().constData(), stderr);
  return command_line.exit_code.value_or(0);
}

}  // namespace velmora
