// The station over the virtual bench: the serial lands where it was asked to, a faulty board is
// failed with its words, boards get distinct serials and a row each, also from two stations at
// once, an image without a user table is refused before the record is made, and the program
// finishes the boards in progress on SIGTERM and SIGHUP and is found interrupted after SIGKILL.
#include <chrono>
#include <cstring>
#include <filesystem>
#include <set>
#include <thread>

#include "cli_fixture.h"
#include "device_lock.h"
#include "program_file.h"
#include "spawned_program.h"
#include "station_command.h"
#include "station_databases.h"
#include "station_engine.h"
#include "station_record.h"
#include "user_table.h"
#include "velmora_usb.h"

namespace velmora::station::testing {
namespace {

using cli::testing::CliRun;
using ::testing::HasSubstr;

const std::string kTableImage = std::string(VELMORA_SAMPLES_DIR) + "/velmora-demo-fw-table.bin";

TEST(StationEngineTest, TheSerialGoesIntoTheTableOrStringThree) {
  const struct {
    SerialVia via;
    bool faulty;
    AutoProfile profile;
    const char* table_serial;  // the flash's serial field after the run
    const char* string3;       // what the mailbox's string 3 holds
  } cases[] = {
      {SerialVia::UserTable, false, AutoProfile::Design, "VL000042", ""},
      {SerialVia::Params, false, AutoProfile::Design, "VLUA170405", "VL000042"},
      {SerialVia::UserTable, true, AutoProfile::Design, nullptr, ""},
      {SerialVia::UserTable, false, AutoProfile::Fast, "VL000042", ""},
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
    job.serial_via = c.via;
    job.profile = c.profile;
    ASSERT_TRUE(LoadProgramFile(kTableImage, job.image).ok);
    ASSERT_FALSE(JobRefusal(job));
    job.table_offset = FindUserTable(std::span(job.image.bytes.data(), job.image.length)).offset;
    const BoardResult result = ProgramBoard(link, job, "VL000042");
    // --fast reaches the board: far fewer transfers than the design for the same image.
    const std::size_t transfers = transcript.Count(sim::TranscriptEvent::Kind::Transfer);
    if (design_transfers == 0) design_transfers = transfers;
    if (c.profile == AutoProfile::Fast) {
      EXPECT_LT(transfers * 4, design_transfers * 3);
    }
    EXPECT_EQ(result.passed, !c.faulty);
    EXPECT_THAT(result.failure, HasSubstr(c.faulty ? "Fail at 0x" : ""));
    EXPECT_EQ(result.jedec_id, "C2 20 13");
    EXPECT_EQ(chip.Registers().mailbox_items().StringText(2), c.string3);
    if (c.table_serial == nullptr) continue;
    const auto field = chip.Flash().ReadRange(0x1000 + 81, 32);
    EXPECT_EQ(std::string(field.begin(), field.end()),
              c.table_serial + std::string(32 - std::strlen(c.table_serial), ' '));
    EXPECT_EQ(result.image_checksum, ImageWithSerial(job, c.table_serial).Checksum());
  }
}

class StationCliTest : public cli::testing::CliTest {
 protected:
  CliRun Station(const std::vector<std::string>& args) {
    const cli::CommandAdder station[] = {AddStationCommand};
    return Run(args, station);
  }

  // verdict -> boards of `bench`; adds every serial the bench was given to `serials`.
  std::map<std::string, int> Verdicts(const std::string& url, const std::string& bench,
                                      std::set<std::string>& serials) {
    std::string error;
    auto record = StationRecord::Open(OpenDatabase(url, error), error);
    std::vector<SqlRow> rows;
    EXPECT_TRUE(record && record->Db().Run("SELECT verdict, serial, failure FROM boards WHERE "
                                           "bench = ?",
                                           {bench}, &rows))
        << error;
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
};

TEST_F(StationCliTest, BoardsOnTheUsbBusAreLockedAndEachGetsItsSerial) {
  sim::VirtualUsbPlatform usb;
  sim::VirtualChip first(bus_clock), second(bus_clock);
  first.PlugInto(usb, "usb:vid_6ccf&pid_6012:bus1-port1");
  second.PlugInto(usb, "usb:vid_1d7a&pid_6000:bus1-port2", sim::Visibility::GenericOnly);
  bus = &usb;
  const std::vector<std::string> args{"station",  kTableImage, "--db", "sqlite:" + Path("u.db"),
                                      "--boards", "2"};
  {
    // Another program holds the first board: the station fails it with the words and goes on.
    std::string error;
    const auto held = DeviceLock::Acquire("1-1", error);
    const CliRun run = Station(args);
    EXPECT_EQ(run.code, 1);
    EXPECT_THAT(run.out, HasSubstr("VL000001 at 1-1 failed: The device 1-1 is in use by another "
                                   "program"));
    EXPECT_THAT(run.out, HasSubstr("VL000002 at 1-2 passed"));
  }
  EXPECT_EQ(Station(args).code, 0);
  for (auto [chip, serial] : {std::pair{&first, "VL000003"}, std::pair{&second, "VL000004"}}) {
    const auto field = chip->Flash().ReadRange(0x1000 + 81, 8);
    EXPECT_EQ(std::string(field.begin(), field.end()), serial);
  }
}

TEST_F(StationCliTest, EveryBoardGetsADistinctSerialAndARow) {
  // The script runs on the wall clock: a second leaves the first board time to finish.
  const std::string script = Write("swap.txt", std::string("wait 1000\nunplug 1-1\nplug 1-1\n"));
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
      const std::string bench = Unique("b");
      std::vector<std::string> args{
          "station",         kTableImage,        "--db", url, "--bench", bench,
          "--serial-format", Unique("S") + "-%d"};
      args.insert(args.end(), c.options.begin(), c.options.end());
      const CliRun run = Station(args);
      EXPECT_EQ(run.code, c.code) << run.err;
      std::set<std::string> serials;
      auto verdicts = Verdicts(url, bench, serials);
      EXPECT_EQ(verdicts["passed"], c.passed) << url;
      EXPECT_EQ(verdicts["failed"], c.failed) << url;
      EXPECT_EQ(verdicts.size(), 2u) << "no other verdict";
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
    CliRun runs[2];
    std::vector<std::thread> stations;
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
  const CliRun run = Station({"--virtual-boards", "2", "station", Sample("velmora-demo-fw.bin"),
                              "--db", "sqlite:" + Path("never.db")});
  EXPECT_EQ(run.code, 2);
  EXPECT_THAT(run.err, HasSubstr("The image has no user table"));
  EXPECT_FALSE(std::filesystem::exists(Path("never.db")));
}

// The program itself, its pauses real, so a signal lands while boards are being programmed.
TEST_F(StationCliTest, SigtermFinishesTheBoardsInProgressAndSigkillLeavesThemInterrupted) {
  for (const std::string& url : TestDatabases(scratch)) {
    for (const int signal : {SIGTERM, SIGHUP, SIGKILL}) {
      SCOPED_TRACE(url + " signal " + std::to_string(signal));
      const std::string bench = Unique("p"), out = Path("out.txt");
      const std::vector<std::string> args{
          "--virtual-boards", "2",   "station",         kTableImage,         "--db",  url,
          "--bench",          bench, "--serial-format", Unique("P") + "-%d", "--gang"};
      velmora::testing::Spawned station(args, out);
      ASSERT_GT(station.pid, 0);
      // Both boards are being erased (2 s) once the record holds two running rows.
      std::set<std::string> serials;
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while ((!std::filesystem::exists(Path("station.db")) && !url.starts_with("postgres")) ||
             Verdicts(url, bench, serials)["running"] != 2) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      kill(station.pid, signal);
      const int code = station.Finish();
      auto verdicts = Verdicts(url, bench, serials);
      if (signal == SIGKILL) {
        EXPECT_EQ(verdicts["running"], 2);
        std::vector<std::string> again = args;
        again[1] = "1";
        again.insert(again.end(), {"--boards", "1"});
        EXPECT_EQ(velmora::testing::Spawned(again, out).Finish(), 0);
        verdicts = Verdicts(url, bench, serials);
        EXPECT_EQ(verdicts["interrupted"], 2);
        EXPECT_EQ(verdicts["passed"], 1);
        EXPECT_EQ(serials.size(), 3u);  // the interrupted boards' serials were not issued again
      } else {
        EXPECT_EQ(code, 0) << "the program ended by itself, not by the signal";
        EXPECT_EQ(verdicts["passed"], 2);
        EXPECT_EQ(verdicts["running"], 0);
        EXPECT_THAT(ReadText(out), HasSubstr("Totals: 2 boards, 2 passed, 0 failed"));
      }
    }
  }
}

}  // namespace
}  // namespace velmora::station::testing
