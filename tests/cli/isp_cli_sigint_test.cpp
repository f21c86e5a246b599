// The velmora-isp program itself: a real SIGINT while its Auto run erases the virtual chip (the
// pauses are real there, as on hardware) stops the run, still protects the flash and leaves ISP
// mode, and exits 1.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "cli_fixture.h"

extern char** environ;

namespace velmora::cli::testing {
namespace {

using ::testing::HasSubstr;

class ProgramTest : public CliTest {
 protected:
  static std::string ReadText(const std::string& path) {
    const Bytes bytes = Read(path);
    return std::string(bytes.begin(), bytes.end());
  }

  // Starts the program with `args`, its stdout going to `out`.
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
};

TEST_F(ProgramTest, SigintDuringTheEraseStopsTheRunProtectedAndOutOfIspMode) {
  const std::string out = Path("out.txt");
  const std::string log = Path("run.json");
  const std::string flash = Path("flash.bin");
  const pid_t pid = Start(
      {"--virtual", "--virtual-flash", flash, "--log", log, "auto", Sample("velmora-demo-fw.hex")},
      out);
  ASSERT_GT(pid, 0);
  // The chip erase takes two seconds of real time: interrupt it once it is under way.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (ReadText(out).find("Flash Erase All") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_THAT(ReadText(out), HasSubstr("Flash Erase All"));
  kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "the program ended by itself, not by the signal";
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_THAT(ReadText(out),
              HasSubstr("Verdict: stopped: Stopped by user; flash protected, ISP mode left"));
  const nlohmann::json report = ReadJson(log);
  EXPECT_EQ(report["verdict"], "stopped");
  EXPECT_EQ(report["steps"][3]["outcome"], "stopped");  // erase
  EXPECT_EQ(report["steps"][7]["outcome"], "ok");       // protect
  EXPECT_EQ(report["steps"][8]["outcome"], "ok");       // ISP exit
  // Nothing was programmed: the erased part was kept as it is.
  const Bytes kept = Read(flash);
  ASSERT_EQ(kept.size(), 512u * 1024);
  EXPECT_TRUE(std::all_of(kept.begin(), kept.end(), [](auto b) { return b == 0xFF; }));
}

}  // namespace
}  // namespace velmora::cli::testing
