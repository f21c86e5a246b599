// The velmora-isp program itself under the signals and closed pipes of everyday bench use: Ctrl-C,
// `timeout` (SIGTERM) and a closed terminal (SIGHUP), each sent twice, at every moment of an Auto
// run and of a read-back, and a reader that goes away. The virtual chip keeps its flash and its
// state (ISP mode, status register) in files, so what the run left behind can be looked at after
// the process is gone. The plain run takes a stride through the moments; CI=true runs them all.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "cli_fixture.h"

extern char** environ;

namespace velmora::cli::testing {
namespace {

using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kPartSize = 512 * 1024;

struct Spawned {
  pid_t pid = -1;
  int err_pipe = -1;  // the read end of the program's stderr, or -1
  int out_pipe = -1;  // the read end of the program's stdout, or -1
};

class SignalTest : public CliTest {
 protected:
  static std::string ReadText(const std::string& path) {
    const Bytes bytes = Read(path);
    return std::string(bytes.begin(), bytes.end());
  }

  // Starts the program with `args`. Its stdout goes to the file `out`, or to a pipe when `out` is
  // empty; its stderr to a pipe. --verbose fills the stderr pipe with a line per request, so a
  // test that stops reading it holds the program where it is.
  static Spawned Start(const std::vector<std::string>& args, const std::string& out) {
    std::vector<char*> argv{const_cast<char*>(VELMORA_ISP_PROGRAM)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    int err[2], piped_out[2] = {-1, -1};
    if (pipe(err) != 0 || (out.empty() && pipe(piped_out) != 0)) return {};
    fcntl(err[0], F_SETPIPE_SZ, 4096);  // a few dozen request lines, not a whole pass
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out.empty()) {
      posix_spawn_file_actions_adddup2(&actions, piped_out[1], 1);
      posix_spawn_file_actions_addclose(&actions, piped_out[0]);
    } else {
      posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0644);
    }
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    Spawned spawned;
    const int started =
        posix_spawn(&spawned.pid, VELMORA_ISP_PROGRAM, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(err[1]);
    if (piped_out[1] >= 0) close(piped_out[1]);
    spawned.err_pipe = err[0];
    spawned.out_pipe = piped_out[0];
    if (started != 0) spawned.pid = -1;
    return spawned;
  }

  // Reads the program's stderr until `out` shows `marker` (or the deadline passes); then stops
  // reading, so the program soon blocks mid-pass.
  static bool ReadUntil(const Spawned& p, const std::string& out, const std::string& marker) {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    char buffer[512];
    while (ReadText(out).find(marker) == std::string::npos) {
      if (Clock::now() > deadline || read(p.err_pipe, buffer, sizeof buffer) <= 0) return false;
    }
    return true;
  }

  // Drains stderr to its end and waits for the program; its exit code, or -1 when a signal
  // ended it.
  static int Finish(Spawned& p) {
    char buffer[4096];
    while (read(p.err_pipe, buffer, sizeof buffer) > 0) {
    }
    close(p.err_pipe);
    int status = 0;
    if (waitpid(p.pid, &status, 0) != p.pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }

  // The chip as the run left it: out of ISP mode and, as the run protects, with every
  // block-protect bit (and SRWD) set.
  void ExpectChipLeftSafe(const std::string& flash) {
    EXPECT_EQ(ReadText(flash + ".state"), "isp_mode 0\nstatus 9c\n");
    EXPECT_EQ(Read(flash).size(), kPartSize);
    // Every file was replaced whole: no temporary is left behind.
    for (const auto& entry : std::filesystem::directory_iterator(scratch.PathOf(""))) {
      EXPECT_FALSE(entry.path().filename().string().ends_with(".part")) << entry.path();
    }
  }

  static bool EveryMoment() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
  }
};

struct Moment {
  const char* name;
  const char* marker;  // the progress line that says the moment has come
  int step;            // the step the stop lands in (its index in the report), or -1: read-back
};

constexpr Moment kMoments[] = {
    {"erase", "Flash Sector Erase", 3},        {"blank check", "Start Blanking Check", 4},
    {"program", "Start Programming", 5},       {"verify", "Start Verifying Check", 6},
    {"read-back", "Read Flash data back", -1},
};

constexpr struct {
  int number;
  const char* name;
} kSignals[] = {{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};

TEST_F(SignalTest, EverySignalAtEveryMomentStopsCleanlyAndKeepsEveryFileWholeOrUnchanged) {
  Bytes image(32 * 1024);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 13 + 1);
  const std::string program = Write("fw.bin", image);
  const std::string flash = Path("flash.bin");
  // A first run programs the kept flash, so a read-back has something to read.
  // Sector erases (0.5 s for the 32 KiB range) keep each run short; a chip erase takes 2 s.
  const std::vector<std::string> run_auto{"auto", program, "--range", "0:32"};
  Spawned first = Start({"--virtual", "--virtual-flash", flash, "auto", program}, Path("o.txt"));
  ASSERT_EQ(Finish(first), 0) << ReadText(Path("o.txt"));
  const Bytes programmed = Read(flash);

  int runs = 0;
  for (std::size_t m = 0; m < std::size(kMoments); ++m) {
    const Moment& moment = kMoments[m];
    for (std::size_t s = 0; s < std::size(kSignals); ++s) {
      const auto& signal = kSignals[s];
      // The plain run: one signal per moment, taking turns, so each signal is met too.
      if (!EveryMoment() && s != m % std::size(kSignals)) continue;
      SCOPED_TRACE(std::string(signal.name) + " at " + moment.name);
      ++runs;
      const std::string out = Path("out.txt"), log = Path("run.json");
      const std::string dump = Write("dump.bin", "an earlier copy");
      std::filesystem::remove(log);
      std::filesystem::remove(dump + ".partial");
      const bool read_back = moment.step < 0;
      std::vector<std::string> args{"--virtual", "--verbose", "--virtual-flash",
                                    flash,       "--log",     log};
      if (read_back) {
        args.insert(args.end(), {"read-back", dump});
      } else {
        args.insert(args.end(), run_auto.begin(), run_auto.end());
      }
      Spawned p = Start(args, out);
      ASSERT_GT(p.pid, 0);
      ASSERT_TRUE(ReadUntil(p, out, moment.marker)) << ReadText(out);
      // A second signal while stopping must not cut the stop short.
      kill(p.pid, signal.number);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      kill(p.pid, signal.number);
      ASSERT_EQ(Finish(p), 1) << ReadText(out);

      EXPECT_THAT(ReadText(out), HasSubstr(std::string("Verdict: stopped: Stopped by user (") +
                                           signal.name + ")"));
      const nlohmann::json report = ReadJson(log);
      EXPECT_EQ(report["verdict"], "stopped");
      EXPECT_EQ(report["signal"], signal.name);
      ExpectChipLeftSafe(flash);
      if (read_back) {
        EXPECT_EQ(ReadText(dump), "an earlier copy");
        const Bytes partial = Read(dump + ".partial");
        EXPECT_TRUE(partial.empty() || partial.size() == 0x20000u) << partial.size();
        EXPECT_EQ(Read(flash), programmed);
      } else {
        EXPECT_EQ(report["steps"][moment.step]["outcome"], "stopped");
        EXPECT_EQ(report["steps"][7]["outcome"], "ok");  // protect
        EXPECT_EQ(report["steps"][8]["outcome"], "ok");  // ISP exit
      }
    }
  }
  EXPECT_EQ(runs, EveryMoment() ? 15 : 5);
}

// A reader that goes away (`velmora-isp ... | head -n 6`) ends neither an Auto run nor a
// read-back: printing stops, the run goes to its end and says so in its report.
TEST_F(SignalTest, AClosedStdoutAndStderrNeverEndARun) {
  Bytes image(64 * 1024, 0x42);
  const std::string program = Write("fw.bin", image);
  const std::string flash = Path("flash.bin");
  for (const char* command : {"auto", "read-back"}) {
    SCOPED_TRACE(command);
    const std::string log = Path("run.json");
    const std::string file = std::string(command) == "auto" ? program : Path("dump.bin");
    std::vector<std::string> args{"--virtual", "--verbose", "--virtual-flash", flash,
                                  "--log",     log,         command,           file};
    if (std::string(command) == "auto") args.insert(args.end(), {"--range", "0:64"});
    Spawned p = Start(args, "");
    ASSERT_GT(p.pid, 0);
    char line[64];
    ASSERT_GT(read(p.out_pipe, line, sizeof line), 0);  // the first words, then the reader goes
    close(p.out_pipe);
    ASSERT_GT(read(p.err_pipe, line, sizeof line), 0);
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
