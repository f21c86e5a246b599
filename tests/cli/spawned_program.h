// velmora-isp as a process of its own, for what only a real process meets: signals, closed
// pipes, a kill in the middle of a write.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace velmora::testing {

struct Spawned {
  pid_t pid = -1;
  int err_pipe = -1;  // the read end of its stderr
  int out_pipe = -1;  // the read end of its stdout, or -1 when it goes to a file

  // Starts the program; its stdout goes to the file `out`, or to a pipe when `out` is empty. The
  // stderr pipe holds a few dozen --verbose lines: a test that stops reading it holds the program.
  // Close-on-exec: the program holds only its own ends, so a test that closes its end is gone.
  Spawned(const std::vector<std::string>& args, const std::string& out) {
    std::vector<char*> argv{const_cast<char*>(VELMORA_ISP_PROGRAM)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    int err[2], piped[2] = {-1, -1};
    if (pipe2(err, O_CLOEXEC) != 0 || (out.empty() && pipe2(piped, O_CLOEXEC) != 0)) return;
    fcntl(err[0], F_SETPIPE_SZ, 4096);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int to_file = O_WRONLY | O_CREAT | O_TRUNC;
    out.empty() ? posix_spawn_file_actions_adddup2(&actions, piped[1], 1)
                : posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), to_file, 0644);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(err[1]);
    if (out.empty()) close(piped[1]);
    err_pipe = err[0];
    out_pipe = piped[0];
  }

  // Drains stderr and waits: the exit code, or -1 when a signal ended the program.
  int Finish() {
    char buffer[4096];
    while (read(err_pipe, buffer, sizeof buffer) > 0) {
    }
    close(err_pipe);
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

}  // namespace velmora::testing
