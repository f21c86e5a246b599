// The station over the virtual bench and virtual USB boards: the serial lands in the board's
// table, a faulty or locked board is failed with its words, boards get distinct serials and a
// row each, also from two stations at once, what cannot serve is refused before the record is
// made, and the program finishes the boards in progress on SIGTERM and SIGHUP and is found
// interrupted after SIGKILL. Every record test runs on a fresh SQLite file and, when
// VELMORA_TEST_PG_URL names one (test.sh starts a throwaway server), on PostgreSQL too; tests share
// that server, so each works under bench names and serial formats of its own (Unique()).
#include <set>
#include <thread>

#include "cli_fixture.h"
#include "device_lock.h"
#include "spawned_program.h"
#include "station_command.h"
#include "station_record.h"

namespace velmora::station::testing {
namespace {

using cli::testing::CliRun;
using ::testing::HasSubstr;

// A short name no earlier run on the same database used (serials must fit 31 characters).
std::string Unique(const std::string& stem) {
  static unsigned counter = 0;
  return stem + std::to_string(std::time(nullptr) % 100000000) + "n" + std::to_string(++counter);
}

class StationCliTest : public cli::testing::CliTest {
 protected:
  std::vector<std::string> Databases() const {
    const char* pg = std::getenv("VELMORA_TEST_PG_URL");
    if (pg == nullptr || *pg == '\0') return {"sqlite:" + Path("station.db")};
    return {"sqlite:" + Path("station.db"), pg};
  }
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
    const std::string query = "SELECT verdict, serial FROM boards WHERE bench = ?";
    EXPECT_TRUE(record && record->Db().Run(query, {bench}, &rows)) << error;
    std::map<std::string, int> verdicts;
    for (const SqlRow& row : rows) {
      ++verdicts[row[0].value_or("")];
      serials.insert(row[1].value_or(""));
    }
    return verdicts;
  }
  const std::string image = Sample("velmora-demo-fw-table.bin");
};

TEST_F(StationCliTest, UsbBoardsAreLockedAndGetTheirSerialInTheirTable) {
  sim::VirtualUsbPlatform usb;
  cli::testing::Chip first(bus_clock), second(bus_clock);
  first.PlugInto(usb, "usb:vid_6ccf&pid_6012:bus1-port1");
  second.PlugInto(usb, "usb:vid_1d7a&pid_6000:bus1-port2", sim::Visibility::GenericOnly);
  bus = &usb;
  // Another program holds the first board: the station fails it with the words and goes on.
  std::string error;
  const auto held = DeviceLock::Acquire("1-1", error);
  const CliRun run = Station({"station", image, "--db", "sqlite:" + Path("u.db"), "--boards", "2"});
  EXPECT_EQ(run.code, 1);
  EXPECT_THAT(run.out, HasSubstr("VL000001 at 1-1 failed: The device 1-1 is in use by another"));
  EXPECT_THAT(run.out, HasSubstr("VL000002 at 1-2 passed"));
  const auto field = second.Flash().ReadRange(0x1000 + 81, 32);
  EXPECT_EQ(std::string(field.begin(), field.end()), "VL000002" + std::string(24, ' '));
}

TEST_F(StationCliTest, EveryBoardGetsADistinctSerialAndARowAlsoFromTwoStationsAtOnce) {
  // The script runs on the wall clock: a second leaves the first board time to finish. It takes
  // the board away and plugs the next: without it the station would wait.
  const std::string script = Write("swap.txt", std::string("wait 1000\nunplug 1-1\nplug 1-1\n"));
  const std::vector<std::string> cases[] = {
      {"--boards", "2", "--virtual-boards", "1", "--virtual-script", script},
      {"--boards", "6", "--virtual-boards", "3", "--gang", "--virtual-fault-rate", "1"},
      {"--boards", "200", "--virtual-boards", "4", "--gang"},  // two stations at once
  };
  for (const std::string& url : Databases()) {
    for (const auto& options : cases) {
      const int boards = std::stoi(options[1]), stations = boards == 200 ? 2 : 1;
      const std::string format = Unique("S") + "-%d", benches[] = {Unique("x"), Unique("y")};
      std::vector<std::thread> threads;
      CliRun runs[2];
      for (int i = 0; i < stations; ++i) {
        threads.emplace_back([&, i] {
          std::vector<std::string> args{"station", image, "--db", url, "--bench", benches[i]};
          args.insert(args.end(), {"--serial-format", format});
          args.insert(args.end(), options.begin(), options.end());
          runs[i] = Station(args);
        });
      }
      for (std::thread& thread : threads) thread.join();
      std::set<std::string> serials;
      const int passed = options.back() == "1" ? 0 : boards;
      for (int i = 0; i < stations; ++i) {
        EXPECT_EQ(runs[i].code, passed ? 0 : 1) << runs[i].err;
        EXPECT_THAT(runs[i].out, HasSubstr("Totals: " + std::to_string(boards) + " boards, " +
                                           std::to_string(passed) + " passed"));
        auto verdicts = Verdicts(url, benches[i], serials);
        EXPECT_EQ(verdicts[passed ? "passed" : "failed"], boards) << url;
        EXPECT_EQ(verdicts.size(), 1u) << "no other verdict";
      }
      // Every number of the counter once: none issued twice, none skipped.
      for (int n = 1; n <= stations * boards; ++n)
        EXPECT_EQ(serials.count(FormatSerial(format, n)), 1u);
    }
  }
}

TEST_F(StationCliTest, WhatCannotServeIsRefusedBeforeTheRecordIsMade) {
  const std::string db = "sqlite:" + Path("never.db");
  const CliRun run = Station({"--virtual-boards", "1", "station", Sample("velmora-demo-fw.bin"),
                              "--db", db, "--boards", "1"});
  EXPECT_EQ(run.code, 2);
  EXPECT_THAT(run.err, HasSubstr("The image has no user table"));
  EXPECT_EQ(Station({"station", image, "--db", db, "--serial-format", "VL%d%d"}).code, 2);
  EXPECT_FALSE(std::filesystem::exists(Path("never.db")));
  // A record of a newer schema than this tool's.
  std::string error;
  auto record = StationRecord::Open(OpenDatabase(db, error), error);
  record->Db().Run("UPDATE schema_version SET version = 99", {});
  EXPECT_EQ(StationRecord::Open(OpenDatabase(db, error), error), nullptr);
  EXPECT_EQ(error,
            "The record has schema version 99, newer than this tool's 2: use a newer velmora-isp");
}

// The program itself, its pauses real, so a signal lands while boards are being programmed.
TEST_F(StationCliTest, SigtermFinishesTheBoardsInProgressAndSigkillLeavesThemInterrupted) {
  for (const std::string& url : Databases()) {
    for (const int signal : {SIGTERM, SIGHUP, SIGKILL}) {
      SCOPED_TRACE(url + " signal " + std::to_string(signal));
      const std::string bench = Unique("p"), out = Path("out.txt");
      std::vector<std::string> args{"--virtual-boards", "2", "station", image, "--gang", "--db"};
      args.insert(args.end(), {url, "--bench", bench, "--serial-format", Unique("P") + "-%d"});
      velmora::testing::Spawned station(args, out);
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
      if (signal != SIGKILL) {
        EXPECT_EQ(code, 0) << "the program ended by itself, not by the signal";
        EXPECT_EQ(verdicts["passed"], 2);
        EXPECT_EQ(verdicts["running"], 0);
        EXPECT_THAT(ReadText(out), HasSubstr("Totals: 2 boards, 2 passed, 0 failed"));
        continue;
      }
      EXPECT_EQ(verdicts["running"], 2);
      args[1] = "1";
      args.insert(args.end(), {"--boards", "1"});
      EXPECT_EQ(velmora::testing::Spawned(args, out).Finish(), 0);
      verdicts = Verdicts(url, bench, serials);
      EXPECT_EQ(verdicts["interrupted"], 2);
      EXPECT_EQ(verdicts["passed"], 1);
      EXPECT_EQ(serials.size(), 3u);  // the interrupted boards' serials were not issued again
    }
  }
}

}  // namespace
}  // namespace velmora::station::testing
