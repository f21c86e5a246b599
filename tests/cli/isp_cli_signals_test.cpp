// The program itself under Ctrl-C, `timeout` (SIGTERM) and a closed terminal (SIGHUP), each sent
// twice, at every moment of an Auto run and of a read-back, and under a reader that goes away. The
// virtual chip keeps its flash and state (ISP mode, status register) in files, so what a run left
// can be looked at after the process is gone. Plain runs take one signal per moment; CI=true all.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "cli_fixture.h"
#include "spawned_program.h"

namespace velmora::cli::testing {
namespace {

using velmora::testing::Spawned;

class SignalTest : public CliTest {
 protected:
  // Out of ISP mode, every block-protect bit and SRWD set, each file replaced whole.
  void ExpectChipLeftSafe(const std::string& flash) {
    EXPECT_EQ(ReadText(flash + ".state"), "isp_mode 0\nstatus 9c\n");
    EXPECT_EQ(Read(flash).size(), 512u * 1024);
    for (const auto& entry : std::filesystem::directory_iterator(Path(""))) {
      EXPECT_FALSE(entry.path().string().ends_with(".part")) << entry.path();
    }
  }
};

TEST_F(SignalTest, EverySignalAtEveryMomentStopsCleanlyAndKeepsEveryFileWholeOrUnchanged) {
  const struct {
    const char* marker;  // the progress line that says the moment has come
    int step;            // the step the stop lands in (its index in the report), or -1: read-back
  } moments[] = {{"Flash Sector Erase", 3},
                 {"Start Blanking Check", 4},
                 {"Start Programming", 5},
                 {"Start Verifying Check", 6},
                 {"Read Flash data back", -1}};
  const struct {
    int number;
    const char* name;
  } signals[] = {{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};
  const char* ci = std::getenv("CI");
  const bool every = ci != nullptr && std::string(ci) == "true";

  Bytes image(32 * 1024);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 13 + 1);
  const std::string program = Write("fw.bin", image), flash = Path("flash.bin");
  const std::string out = Path("out.txt"), log = Path("run.json");
  // A first run fills the kept flash for the read-backs; the others erase 32 KiB by sectors.
  ASSERT_EQ(Spawned({"--virtual", "--virtual-flash", flash, "auto", program}, out).Finish(), 0);
  const Bytes programmed = Read(flash);
  int runs = 0;
  for (std::size_t m = 0; m < std::size(moments); ++m) {
    for (std::size_t s = 0; s < std::size(signals); ++s) {
      if (!every && s != m % std::size(signals)) continue;
      const auto& [marker, step] = moments[m];
      SCOPED_TRACE(std::string(signals[s].name) + " at " + marker);
      ++runs;
      const std::string dump = Write("dump.bin", std::string("an earlier copy"));
      std::filesystem::remove(log);
      std::filesystem::remove(dump + ".partial");
      std::vector<std::string> args{"--virtual", "--verbose", "--virtual-flash",
                                    flash,       "--log",     log};
      if (step < 0) {
        args.insert(args.end(), {"read-back", dump});
      } else {
        args.insert(args.end(), {"auto", program, "--range", "0:32"});
      }
      Spawned p(args, out);
      ASSERT_GT(p.pid, 0);
      // Reads stderr until the moment comes, then stops reading, so the program soon blocks.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      char buffer[512];
      while (ReadText(out).find(marker) == std::string::npos) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << ReadText(out);
        ASSERT_GT(read(p.err_pipe, buffer, sizeof buffer), 0) << ReadText(out);
      }
      // A second signal while stopping must not cut the stop short.
      kill(p.pid, signals[s].number);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      kill(p.pid, signals[s].number);
      ASSERT_EQ(p.Finish(), 1) << ReadText(out);

      EXPECT_THAT(ReadText(out), HasSubstr(std::string("Verdict: stopped: Stopped by user (") +
                                           signals[s].name + ")"));
      const nlohmann::json report = ReadJson(log);
      EXPECT_EQ(report["verdict"], "stopped");
      EXPECT_EQ(report["signal"], signals[s].name);
      ExpectChipLeftSafe(flash);
      if (step < 0) {
        EXPECT_EQ(ReadText(dump), "an earlier copy");
        const std::size_t partial = Read(dump + ".partial").size();
        EXPECT_TRUE(partial == 0 || partial == 0x20000u) << partial;
        EXPECT_EQ(Read(flash), programmed);
      } else {
        EXPECT_EQ(report["steps"][step]["outcome"], "stopped");
        EXPECT_EQ(report["steps"][7]["outcome"], "ok");  // protect
        EXPECT_EQ(report["steps"][8]["outcome"], "ok");  // ISP exit
      }
    }
  }
  EXPECT_EQ(runs, every ? 15 : 5);
}

// A reader that goes away (`velmora-isp ... | head -n 6`) ends neither an Auto run nor a
// read-back: printing stops, the run goes to its end and says so in its report.
TEST_F(SignalTest, AClosedStdoutAndStderrNeverEndARun) {
  const std::string program = Write("fw.bin", Bytes(64 * 1024, 0x42));
  const std::string flash = Path("flash.bin"), log = Path("run.json");
  for (const std::string command : {"auto", "read-back"}) {
    SCOPED_TRACE(command);
    std::vector<std::string> args{"--virtual", "--verbose", "--virtual-flash", flash, "--log",
                                  log,         command};
    if (command == "auto") {
      args.insert(args.end(), {program, "--range", "0:64"});
    } else {
      args.push_back(Path("dump.bin"));
    }
    Spawned p(args, "");
    ASSERT_GT(p.pid, 0);
    char line[64];
    ASSERT_GT(read(p.out_pipe, line, sizeof line), 0);  // the first words, then the reader goes
    ASSERT_GT(read(p.err_pipe, line, sizeof line), 0);
    close(p.out_pipe);
    close(p.err_pipe);
    int status = 0;
    ASSERT_EQ(waitpid(p.pid, &status, 0), p.pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadJson(log)["verdict"], "success");
    ExpectChipLeftSafe(flash);
  }
  const Bytes kept = Read(flash);
  EXPECT_EQ(Read(Path("dump.bin")), Bytes(kept.begin(), kept.begin() + 0x20000));
}

}  // namespace
}  // namespace velmora::cli::testing
