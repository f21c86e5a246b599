// velmora-isp: the command-line flasher on this system's USB bus (libusb, or the Windows
// drivers), with Ctrl-C asking a running job to stop at its next boundary.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "isp_cli.h"
#include "sleeper.h"

#ifdef _WIN32
#include <io.h>

#include "win32_usb_platform.h"
#else
#include <sys/ioctl.h>
#include <unistd.h>

#include "libusb_usb_platform.h"
#endif

namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler sets it");

// The first Ctrl-C asks the job to stop (the flash is still protected and ISP mode left); a
// second one ends the program at once.
extern "C" void OnInterrupt(int) {
  interrupted = true;
  std::signal(SIGINT, SIG_DFL);
}

bool StdoutIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdout)) != 0;
#else
  return isatty(fileno(stdout)) != 0;
#endif
}

// The width help is wrapped to: $COLUMNS when it holds a number, else the terminal's, else 80.
std::size_t TerminalColumns() {
  if (const char* columns = std::getenv("COLUMNS")) {
    const long value = std::strtol(columns, nullptr, 10);
    if (value >= 40) return static_cast<std::size_t>(value);
  }
#ifndef _WIN32
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 40) return size.ws_col;
#endif
  return 80;
}

std::unique_ptr<velmora::UsbPlatform> MakeUsbPlatform() {
#ifdef _WIN32
  return std::make_unique<velmora::Win32UsbPlatform>();
#else
  return std::make_unique<velmora::LibusbUsbPlatform>();
#endif
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGINT, OnInterrupt);
  velmora::RealSleeper sleeper;
  velmora::cli::CliEnvironment env{.out = std::cout,
                                   .err = std::cerr,
                                   .out_is_terminal = StdoutIsTerminal(),
                                   .columns = TerminalColumns(),
                                   .interrupted = &interrupted,
                                   .make_usb_platform = MakeUsbPlatform,
                                   .sleeper = &sleeper,
                                   .virtual_pauses_real = true,
                                   .virtual_chip_made = {},
                                   .virtual_chip_done = {}};
  return velmora::cli::RunIspCli(argc, argv, env);
}
