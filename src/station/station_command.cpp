#include "station_command.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "arguments.h"
#include "cli_options.h"
#include "program_file.h"
#include "station_loop.h"
#include "station_report.h"
#include "usb_board_source.h"
#include "user_table.h"
#include "velmora_version.h"
#include "virtual_board_source.h"

namespace velmora::station {
namespace {

using cli::CliContext;
using cli::Fail;
using cli::kExitStepFailed;
using cli::kExitSuccess;
using cli::kExitUsage;

struct StationArguments {
  std::string file;
  std::string db = "sqlite:station.db";
  std::string serial_via = "table";
  std::string range;
  StationSettings settings;
  bool fast = false;
  cli::StepSwitches switches;
  // The global virtual-bench options.
  unsigned virtual_boards = 0;
  std::string virtual_script;
  double fault_rate = 0;
  // station report
  std::string since;
  bool csv = false;
};

std::unique_ptr<StationRecord> OpenRecord(CliContext& ctx, const std::string& url) {
  std::string error;
  std::unique_ptr<SqlConnection> db = OpenDatabase(url, error);
  std::unique_ptr<StationRecord> record = db ? StationRecord::Open(std::move(db), error) : nullptr;
  if (!record) Fail(ctx, kExitStepFailed, error);
  return record;
}

int RunReport(CliContext& ctx, const StationArguments& args) {
  std::unique_ptr<StationRecord> record = OpenRecord(ctx, args.db);
  if (!record) return kExitStepFailed;
  std::string error;
  if (!PrintReport(record->Db(), args.since, args.csv, ctx.env.out, error)) {
    return Fail(ctx, kExitStepFailed, error);
  }
  return kExitSuccess;
}

int RunStationCommand(CliContext& ctx, const StationArguments& args) {
  // Everything that can be checked is checked before the first board is looked at.
  StationJob job;
  const ImageLoadResult loaded = LoadProgramFile(args.file, job.image);
  if (!loaded.ok) return Fail(ctx, kExitUsage, loaded.message);
  job.serial_via = args.serial_via == "params" ? SerialVia::Params : SerialVia::UserTable;
  if (const auto refusal = JobRefusal(job)) return Fail(ctx, kExitUsage, *refusal);
  job.table_offset = FindUserTable(std::span(job.image.bytes.data(), job.image.length)).offset;
  job.steps = args.switches.Steps();
  if (!args.range.empty()) job.range = cli::ParseRange(args.range).value_or(FlashRange{});
  job.profile = args.fast ? AutoProfile::Fast : AutoProfile::Design;
  if (const auto refusal = AutoRefusal(job.steps, job.range, job.image, job.profile)) {
    return Fail(ctx, kExitUsage, *refusal);
  }
  if (const auto refusal = SerialFormatRefusal(args.settings.serial_format)) {
    return Fail(ctx, kExitUsage, *refusal);
  }
  std::string script;
  if (!args.virtual_script.empty()) {
    std::ifstream in(args.virtual_script);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) return Fail(ctx, kExitUsage, "Cannot read the bench script " + args.virtual_script);
    script = text.str();
    if (const auto bad = CheckBenchScript(script)) {
      return Fail(ctx, kExitUsage, args.virtual_script + ": " + *bad);
    }
  }
  if (ctx.options.virtual_chip) {
    return Fail(ctx, kExitUsage, "The station's virtual bench is --virtual-boards N");
  }

  std::unique_ptr<StationRecord> record = OpenRecord(ctx, args.db);
  if (!record) return kExitStepFailed;

  std::unique_ptr<BoardSource> source;
  if (args.virtual_boards > 0) {
    source = std::make_unique<VirtualBoardSource>(
        VirtualBenchOptions{.boards = args.virtual_boards,
                            .fault_rate = args.fault_rate,
                            .fault_seed = 1,
                            .real_pauses = ctx.env.virtual_pauses_real},
        script);
  } else {
    source = std::make_unique<UsbBoardSource>(
        ctx.env.make_usb_platform, *ctx.env.sleeper,
        static_cast<std::uint16_t>(cli::ParseHex(ctx.options.vid, 16).value_or(0)),
        static_cast<std::uint16_t>(cli::ParseHex(ctx.options.pid, 16).value_or(0)));
  }

  StationSettings settings = args.settings;
  settings.image_name = std::filesystem::path(args.file).filename().string();
  settings.image_length = job.image.length;
  settings.tool_version = kVersion;
  StationIo io{ctx.env.out, ctx.env.err, ctx.env.out_is_terminal, ctx.env.interrupted};
  const StationTotals totals = RunStation(*source, *record, job, settings, io);
  ctx.message = TotalsText(totals);
  return totals.record_failed || totals.failed > 0 ? kExitStepFailed : kExitSuccess;
}

}  // namespace

void AddStationCommand(CLI::App& app, cli::CommandRun& run) {
  auto a = std::make_shared<StationArguments>();
  app.add_option("--virtual-boards", a->virtual_boards,
                 "station: plug N virtual boards in at once (ports 1-1 .. 1-N) instead of USB")
      ->type_name("N");
  app.add_option("--virtual-script", a->virtual_script,
                 "station: plug and unplug the virtual boards by FILE's lines (plug PORT, "
                 "unplug PORT, wait MS) instead of swapping each finished board at once")
      ->type_name("FILE");
  app.add_option("--virtual-fault-rate", a->fault_rate,
                 "station: the share of virtual boards (0 to 1) that come with a flash fault")
      ->check(CLI::Range(0.0, 1.0).description(""))
      ->type_name("P");

  CLI::App* station = app.add_subcommand(
      "station",
      "The production station: waits for boards and gives each the next unique serial, the "
      "Auto run and a row in the record, until --boards or Ctrl-C/SIGTERM/SIGHUP (the boards in "
      "progress finish first)");
  station->add_option("FILE", a->file, "Program file with a user table (the serial goes there)")
      ->type_name("");
  const auto add_db = [a](CLI::App* command) {
    command
        ->add_option("--db", a->db,
                     "The record: sqlite:PATH (default station.db here) or postgresql://...")
        ->type_name("URL");
  };
  add_db(station);
  station->add_option("--bench", a->settings.bench, "This bench's name in the record (bench)")
      ->type_name("NAME");
  station
      ->add_option("--serial-format", a->settings.serial_format,
                   "The serials, with one %d for the record's counter (VL%06d)")
      ->type_name("FORMAT");
  station->add_option("--boards", a->settings.boards, "Stop after N boards")->type_name("N");
  station->add_flag("--gang", a->settings.gang,
                    "Program every board present at once, each on a thread and link of its own");
  station
      ->add_option("--serial-via", a->serial_via,
                   "Where the serial goes: table (the image's user table, default) or params "
                   "(string 3 through the mailbox, after programming)")
      ->check(cli::OneOf({"table", "params"}))
      ->type_name("WHERE");
  station
      ->add_option("--range", a->range,
                   "Program at START_KB and erase SIZE_KB from there instead of the whole chip")
      ->check(cli::RangeText())
      ->type_name("START_KB:SIZE_KB");
  station->add_flag("--fast", a->fast,
                    "Each board as auto --fast: 255-byte verify reads, no separate blank check "
                    "while verify runs, the fewest status reads a page needs");
  cli::AddStepSwitches(station, a->switches);
  cli::AddDeviceIds(station, run.options);
  cli::AddExamples(station,
                   {"velmora-isp station firmware.bin --bench line1 --serial-format VL%06d",
                    "velmora-isp --virtual-boards 4 station samples/velmora-demo-fw-table.bin "
                    "--gang --boards 8",
                    "velmora-isp station report --since 2026-12-08 --csv > boards.csv"});

  CLI::App* report = station->add_subcommand(
      "report", "Totals per bench and day and the failures by text, or every row as CSV");
  add_db(report);
  report->add_option("--since", a->since, "Only boards started on or after DATE (2026-12-08)")
      ->type_name("DATE");
  report->add_flag("--csv", a->csv, "Every row as CSV, each step's outcome and seconds last");
  report->callback([a, &run] { run.code = RunReport(run.ctx, *a); });

  station->callback([a, station, &run] {
    if (station->got_subcommand("report")) return;
    if (a->file.empty()) {
      run.code = Fail(run.ctx, kExitUsage, "station: give the program FILE");
      return;
    }
    run.code = RunStationCommand(run.ctx, *a);
  });
}

}  // namespace velmora::station
