// The program itself under Ctrl-C, `timeout` (SIGTERM) and a closed terminal (SIGHUP), each sent
// twice, at every moment of an Auto run and of a read-back, and under a reader that goes away. The
// virtual chip keeps its flash and state (ISP mode, status register) in files, so what a run left
// can be looked at after the process is gone. Plain runs take one signal per moment; CI=true all.
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
  void ExpectChipLeftSafe() {
    EXPECT_EQ(ReadText(flash + ".state"), "isp_mode 0\nstatus 9c\n");
    EXPECT_EQ(Read(flash).size(), 512u * 1024);
    for (const auto& entry : std::filesystem::directory_iterator(Path(""))) {
      EXPECT_FALSE(entry.path().string().ends_with(".part")) << entry.path();
    }
  }
  std::vector<std::string> Args(std::vector<std::string> command) const {
    command.insert(command.begin(),
                   {"--virtual", "--verbose", "--virtual-flash", flash, "--log", log});
    return command;
  }
  const std::string flash = Path("flash.bin"), log = Path("run.json"), out = Path("out.txt");
};

TEST_F(SignalTest, EverySignalAtEveryMomentStopsCleanlyAndKeepsEveryFileWholeOrUnchanged) {
  // The progress lines that say the moment has come: erase, blank check, program and verify of
  // an Auto run (steps 3 to 6 in its report), and a read-back.
  const char* moments[] = {"Flash Sector Erase", "Start Blanking Check", "Start Programming",
                           "Start Verifying Check", "Read Flash data back"};
  const std::pair<int, std::string> signals[] = {
      {SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};
  const bool every = std::getenv("CI") != nullptr && std::string(std::getenv("CI")) == "true";
  const std::string program = Write("fw.bin", Bytes(32 * 1024, 0x5C)), dump = Path("dump.bin");
  // A first run fills the kept flash for the read-backs; the others erase 32 KiB by sectors.
  ASSERT_EQ(Spawned({"--virtual", "--virtual-flash", flash, "auto", program}, out).Finish(), 0);
  const Bytes programmed = Read(flash);
  for (std::size_t m = 0; m < std::size(moments); ++m) {
    for (std::size_t s = 0; s < std::size(signals); ++s) {
      if (!every && s != m % std::size(signals)) continue;
      const char* marker = moments[m];
      const int step = m < 4 ? static_cast<int>(m) + 3 : -1;
      const auto& [number, name] = signals[s];
      SCOPED_TRACE(name + " at " + marker);
      Write("dump.bin", std::string("an earlier copy"));
      std::filesystem::remove(log);
      std::filesystem::remove(dump + ".partial");
      Spawned p(Args(step < 0 ? std::vector<std::string>{"read-back", dump}
                              : std::vector<std::string>{"auto", program, "--range", "0:32"}),
                out);
      // Reads stderr until the moment comes, then stops reading, so the program soon blocks.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      char buffer[512];
      while (ReadText(out).find(marker) == std::string::npos) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << ReadText(out);
        ASSERT_GT(read(p.err_pipe, buffer, sizeof buffer), 0) << ReadText(out);
      }
      // A second signal while stopping must not cut the stop short.
      kill(p.pid, number);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      kill(p.pid, number);
      ASSERT_EQ(p.Finish(), 1) << ReadText(out);
      EXPECT_THAT(ReadText(out), HasSubstr("Verdict: stopped: Stopped by user (" + name + ")"));
      const nlohmann::json report = ReadJson(log);
      EXPECT_EQ(report["verdict"], "stopped");
      EXPECT_EQ(report["signal"], name);
      ExpectChipLeftSafe();
      if (step < 0) {
        EXPECT_EQ(ReadText(dump), "an earlier copy");
        const std::size_t partial = Read(dump + ".partial").size();
        EXPECT_TRUE(partial == 0 || partial == 0x20000u) << partial;
        EXPECT_EQ(Read(flash), programmed);
        continue;
      }
      EXPECT_EQ(report["steps"][step]["outcome"], "stopped");
      EXPECT_EQ(report["steps"][7]["outcome"], "ok");  // protect
      EXPECT_EQ(report["steps"][8]["outcome"], "ok");  // ISP exit
    }
  }
}

// A reader that goes away (`velmora-isp ... | head -n 6`) ends neither an Auto run nor a
// read-back: printing stops, the run goes to its end and says so in its report.
TEST_F(SignalTest, AClosedStdoutAndStderrNeverEndARun) {
  const std::string program = Write("fw.bin", Bytes(64 * 1024, 0x42)), dump = Path("dump.bin");
  for (const auto& command : {std::vector<std::string>{"auto", program, "--range", "0:64"},
                              std::vector<std::string>{"read-back", dump}}) {
    Spawned p(Args(command), "");
    char line[64];
    ASSERT_GT(read(p.out_pipe, line, sizeof line), 0);  // the first words, then the reader goes
    ASSERT_GT(read(p.err_pipe, line, sizeof line), 0);
    close(p.out_pipe);
    close(p.err_pipe);  // Finish() then reads nothing
    EXPECT_EQ(p.Finish(), 0) << "a run that ends by SIGPIPE gives -1";
    EXPECT_EQ(ReadJson(log)["verdict"], "success");
    ExpectChipLeftSafe();
  }
  const Bytes kept = Read(flash);
  EXPECT_EQ(Read(dump), Bytes(kept.begin(), kept.begin() + 0x20000));
}

}  // namespace
}  // namespace velmora::cli::testing
