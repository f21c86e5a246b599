// The station over the virtual bench: the serial lands where it was asked to, a faulty board is
// failed with its words, a gang of boards gets distinct serials and a row each, an image
// without a user table is refused before the record is made, and the program finishes the
// boards in progress on SIGTERM and is found interrupted after SIGKILL.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "cli_fixture.h"
#include "device_lock.h"
#include "isp_cli.h"
#include "program_file.h"
#include "station_command.h"
#include "station_databases.h"
#include "station_engine.h"
#include "station_record.h"
#include "user_table.h"
#include "velmora_usb.h"
#include "virtual_chip.h"
#include "virtual_usb_platform.h"

extern char** environ;

namespace velmora::station::testing {
namespace {

using ::testing::HasSubstr;

std::string Sample(const std::string& name) {
  return std::string(VELMORA_SAMPLES_DIR) + "/" + name;
}
const std::string kTableImage = Sample("velmora-demo-fw-table.bin");

TEST(StationEngineTest, TheSerialGoesIntoTheTableOrStringThree) {
  const struct {
    SerialVia via;
    bool faulty;
    const char* table_serial;  // the flash's serial field after the run
    const char* string3;       // what the mailbox's string 3 holds
    const char* failure;
    AutoProfile profile = AutoProfile::Design;
  } cases[] = {
      {SerialVia::UserTable, false, "VL000042", "", "", AutoProfile::Design},
      {SerialVia::Params, false, "VLUA170405", "VL000042", ""},
      {SerialVia::UserTable, true, nullptr, "", "Fail at 0x"},
      {SerialVia::UserTable, false, "VL000042", "", "", AutoProfile::Fast},
  };
  std::size_t design_transfers = 0;
  for (const auto& c : cases) {
    sim::VirtualClock clock;
    sim::VirtualChip chip(clock);
    sim::Transcript transcript;
    sim::VirtualUsbPlatform platform(&transcript);
    chip.PlugInto(platform);
    VelmoraUsb usb(platform);
    usb.SetBackend(VelmoraUsb::kPropertyBackend);
    usb.SetMatchText("vid_6ccf&pid_6012");
    usb.FindDevice();
    ChipLink link{usb, clock};
    if (c.faulty) chip.FlipReadBits(0x01, sim::VirtualChip::Flip::Always, 8);

    StationJob job;
    ASSERT_TRUE(LoadProgramFile(kTableImage, job.image).ok);
    job.serial_via = c.via;
    ASSERT_FALSE(JobRefusal(job));
    job.table_offset = FindUserTable(std::span(job.image.bytes.data(), job.image.length)).offset;
    job.profile = c.profile;
    const BoardResult result = ProgramBoard(link, job, "VL000042");
    // --fast reaches the board: far fewer transfers than the design for the same image.
    const std::size_t transfers = transcript.Count(sim::TranscriptEvent::Kind::Transfer);
    if (c.profile == AutoProfile::Design && !c.faulty && c.via == SerialVia::UserTable) {
      design_transfers = transfers;
    }
    if (c.profile == AutoProfile::Fast) {
      EXPECT_LT(transfers * 4, design_transfers * 3);
    }

    EXPECT_EQ(result.passed, !c.faulty);
    EXPECT_THAT(result.failure, HasSubstr(c.failure));
    EXPECT_EQ(result.jedec_id, "C2 20 13");
    EXPECT_EQ(chip.Registers().mailbox_items().StringText(2), c.string3);
    if (c.table_serial == nullptr) continue;
    const auto field = chip.Flash().ReadRange(0x1000 + 81, 32);
    std::string expected(c.table_serial);
    expected.resize(32, ' ');
    EXPECT_EQ(std::string(field.begin(), field.end()), expected);
    EXPECT_EQ(result.image_checksum,
              ImageWithSerial(job, c.string3[0] ? "VLUA170405" : "VL000042").Checksum());
  }
}

struct StationRun {
  int code = -1;
  std::string out, err;
};

class StationCliTest : public ::testing::Test {
 protected:
  StationRun Station(const std::vector<std::string>& args) {
    std::vector<const char*> argv{"velmora-isp"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    std::ostringstream out, err;
    cli::CliEnvironment env{
        .out = out,
        .err = err,
        .out_is_terminal = false,
        .interrupted = &stop,
        .make_usb_platform = [this] { return std::make_unique<cli::testing::SharedPlatform>(bus); },
        .sleeper = &bus_clock,
        .virtual_pauses_real = false,
        .virtual_chip_made = {},
        .virtual_chip_done = {},
        .stop_signal = nullptr,
        .out_reader_gone = {}};
    const cli::CommandAdder more[] = {AddStationCommand};
    StationRun run;
    run.code = cli::RunIspCli(static_cast<int>(argv.size()), argv.data(), env, more);
    run.out = out.str();
    run.err = err.str();
    return run;
  }

  // verdict -> boards of `bench`, and every serial the bench was given.
  std::map<std::string, int> Verdicts(const std::string& url, const std::string& bench,
                                      std::set<std::string>& serials) {
    std::string error;
    auto record = StationRecord::Open(OpenDatabase(url, error), error);
    std::vector<SqlRow> rows;
    EXPECT_TRUE(record &&
                record->Db().Run("SELECT verdict, serial, failure FROM boards WHERE bench = ?",
                                 {bench}, &rows));
    std::map<std::string, int> verdicts;
    for (const SqlRow& row : rows) {
      ++verdicts[row[0].value_or("")];
      serials.insert(row[1].value_or(""));
      if (row[0] == "failed") {
        EXPECT_THAT(row[2].value_or(""), HasSubstr("Fail at 0x"));
      }
    }
    return verdicts;
  }

  velmora::testing::ScratchDir scratch;
  std::atomic<bool> stop{false};
  // The USB bus without --virtual-boards: empty unless a test plugs chips in.
  sim::VirtualClock bus_clock;
  sim::VirtualUsbPlatform bus;
};

TEST_F(StationCliTest, BoardsOnTheUsbBusAreLockedAndEachGetsItsSerial) {
  sim::VirtualChip first(bus_clock), second(bus_clock);
  first.PlugInto(bus, "usb:vid_6ccf&pid_6012:bus1-port1");
  second.PlugInto(bus, "usb:vid_1d7a&pid_6000:bus1-port2", sim::Visibility::GenericOnly);
  ::setenv("VELMORA_LOCK_DIR", scratch.PathOf("").c_str(), 1);
  std::string error;
  {
    // Another program holds the first board: the station fails it with the words and goes on.
    const auto held = DeviceLock::Acquire("1-1", error);
    const StationRun run = Station(
        {"station", kTableImage, "--db", "sqlite:" + scratch.PathOf("usb.db"), "--boards", "2"});
    EXPECT_EQ(run.code, 1);
    EXPECT_THAT(run.out, HasSubstr("VL000001 at 1-1 failed: The device 1-1 is in use by another "
                                   "program"));
    EXPECT_THAT(run.out, HasSubstr("VL000002 at 1-2 passed"));
  }
  const StationRun run = Station(
      {"station", kTableImage, "--db", "sqlite:" + scratch.PathOf("usb2.db"), "--boards", "2"});
  EXPECT_EQ(run.code, 0) << run.err;
  for (auto* chip : {&first, &second}) {
    const auto field = chip->Flash().ReadRange(0x1000 + 81, 8);
    EXPECT_EQ(std::string(field.begin(), field.end()), chip == &first ? "VL000001" : "VL000002");
  }
}

TEST_F(StationCliTest, EveryBoardGetsADistinctSerialAndARow) {
  // The script runs on the wall clock, beside the board: a second leaves the first board time to
  // finish even on a loaded machine (it takes milliseconds), so the unplug never cuts it short.
  const std::string script = scratch.Write("swap.txt", "wait 1000\nunplug 1-1 # done\nplug 1-1\n");
  const struct {
    std::vector<std::string> options;
    int code, passed, failed;
  } cases[] = {
      {{"--virtual-boards", "4", "--gang", "--boards", "8"}, 0, 8, 0},
      {{"--virtual-boards", "1", "--boards", "3"}, 0, 3, 0},
      // The script takes the board away and plugs the next: without it the station would wait.
      {{"--virtual-boards", "1", "--boards", "2", "--virtual-script", script}, 0, 2, 0},
      {{"--virtual-boards", "3", "--gang", "--boards", "6", "--virtual-fault-rate", "1"}, 1, 0, 6},
  };
  for (const std::string& url : TestDatabases(scratch)) {
    for (const auto& c : cases) {
      const std::string bench = Unique("b"), format = Unique("S") + "-%d";
      std::vector<std::string> args{"station", kTableImage,       "--db", url, "--bench",
                                    bench,     "--serial-format", format};
      args.insert(args.end(), c.options.begin(), c.options.end());
      const StationRun run = Station(args);
      EXPECT_EQ(run.code, c.code) << run.err;
      std::set<std::string> serials;
      const auto verdicts = Verdicts(url, bench, serials);
      EXPECT_EQ(verdicts.size(), 1u) << url;
      EXPECT_EQ(verdicts.count("passed") ? verdicts.at("passed") : 0, c.passed) << url;
      EXPECT_EQ(verdicts.count("failed") ? verdicts.at("failed") : 0, c.failed) << url;
      EXPECT_EQ(serials.size(), static_cast<std::size_t>(c.passed + c.failed));
      EXPECT_THAT(run.out, HasSubstr("Totals: " + std::to_string(c.passed + c.failed) +
                                     " boards, " + std::to_string(c.passed) + " passed"));
    }
  }
}

TEST_F(StationCliTest, TwoStationsAtOnceOnOneRecordShareNoSerialAndLoseNoRow) {
  constexpr int kBoards = 200;
  for (const std::string& url : TestDatabases(scratch)) {
    const std::string format = Unique("T") + "-%d";
    const std::string benches[] = {Unique("x"), Unique("y")};
    std::vector<std::thread> stations;
    StationRun runs[2];
    for (int i = 0; i < 2; ++i) {
      stations.emplace_back([&, i] {
        runs[i] = Station({"station", kTableImage, "--db", url, "--bench", benches[i],
                           "--serial-format", format, "--virtual-boards", "4", "--gang", "--boards",
                           std::to_string(kBoards)});
      });
    }
    for (std::thread& station : stations) station.join();
    std::set<std::string> serials;
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(runs[i].code, 0) << runs[i].err;
      EXPECT_EQ(Verdicts(url, benches[i], serials)["passed"], kBoards) << url;
    }
    // Every number of the counter once: none issued twice, none skipped.
    EXPECT_EQ(serials.size(), 2u * kBoards);
    for (int n = 1; n <= 2 * kBoards; ++n) EXPECT_TRUE(serials.count(FormatSerial(format, n))) << n;
  }
}

TEST_F(StationCliTest, AnImageWithoutATableIsRefusedBeforeTheRecordIsMade) {
  const std::string db = scratch.PathOf("never.db");
  const StationRun run = Station(
      {"--virtual-boards", "2", "station", Sample("velmora-demo-fw.bin"), "--db", "sqlite:" + db});
  EXPECT_EQ(run.code, 2);
  EXPECT_THAT(run.err, HasSubstr("The image has no user table"));
  EXPECT_FALSE(std::filesystem::exists(db));
}

// The program itself, its pauses real, so a signal lands while boards are being programmed.
class StationProgramTest : public StationCliTest {
 protected:
  pid_t Start(const std::vector<std::string>& args, const std::string& out) {
    std::vector<char*> argv{const_cast<char*>(VELMORA_ISP_PROGRAM)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int started =
        posix_spawn(&pid, VELMORA_ISP_PROGRAM, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return started == 0 ? pid : -1;
  }
  // Waits until `url` holds `count` rows of `bench` still running.
  bool WaitForRunning(const std::string& url, const std::string& bench, int count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      std::set<std::string> serials;
      if (std::filesystem::exists(scratch.PathOf("station.db")) || url.starts_with("postgres")) {
        const auto verdicts = Verdicts(url, bench, serials);
        if (verdicts.count("running") && verdicts.at("running") == count) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
};

TEST_F(StationProgramTest, SigtermFinishesTheBoardsInProgressAndSigkillLeavesThemInterrupted) {
  for (const std::string& url : TestDatabases(scratch)) {
    for (const int signal : {SIGTERM, SIGHUP, SIGKILL}) {
      SCOPED_TRACE(url + " signal " + std::to_string(signal));
      const std::string bench = Unique("p"), format = Unique("P") + "-%d";
      const std::string out = scratch.PathOf("out.txt");
      const std::vector<std::string> args{
          "--virtual-boards", "2",   "station",         kTableImage, "--gang", "--db", url,
          "--bench",          bench, "--serial-format", format};
      const pid_t pid = Start(args, out);
      ASSERT_GT(pid, 0);
      ASSERT_TRUE(WaitForRunning(url, bench, 2));  // both boards are being erased (2 s)
      kill(pid, signal);
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      std::set<std::string> serials;
      auto verdicts = Verdicts(url, bench, serials);
      if (signal == SIGKILL) {
        EXPECT_EQ(verdicts["running"], 2);
        const pid_t again = Start({"--virtual-boards", "1", "station", kTableImage, "--db", url,
                                   "--bench", bench, "--serial-format", format, "--boards", "1"},
                                  out);
        ASSERT_EQ(waitpid(again, &status, 0), again);
        serials.clear();
        verdicts = Verdicts(url, bench, serials);
        EXPECT_EQ(verdicts["interrupted"], 2);
        EXPECT_EQ(verdicts["passed"], 1);
        EXPECT_EQ(serials.size(), 3u);  // the interrupted boards' serials were not issued again
      } else {
        ASSERT_TRUE(WIFEXITED(status)) << "the program ended by itself, not by the signal";
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(verdicts["passed"], 2);
        EXPECT_EQ(verdicts.count("running"), 0u);
        std::ifstream in(out);
        std::stringstream text;
        text << in.rdbuf();
        EXPECT_THAT(text.str(), HasSubstr("Totals: 2 boards, 2 passed, 0 failed"));
      }
    }
  }
}

}  // namespace
}  // namespace velmora::station::testing
