// velmora-isp: the command-line flasher on this system's USB bus (libusb, or the Windows
// drivers). Ctrl-C, SIGTERM (timeout, kill) and SIGHUP (a closed terminal) ask a running job to
// stop at its next boundary; a reader that goes away (a closed pipe) never ends a run.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "isp_cli.h"
#ifdef VELMORA_WITH_STATION
#include "station_command.h"
#endif
#include "sleeper.h"

#ifdef _WIN32
#include <io.h>

#include "win32_usb_platform.h"
#else
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "libusb_usb_platform.h"
#endif

namespace {

std::atomic<bool> interrupted{false};
std::atomic<int> stop_signal{0};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler sets it");
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler sets it");

// The first signal asks the job to stop (the flash is still protected and ISP mode left). A
// further one only says that the stop is under way: ending the program then would leave the
// part erased, unprotected and in ISP mode.
extern "C" void OnStopSignal(int number) {
  if (interrupted.exchange(true)) {
    static const char kUnderWay[] =
        "\nStopping: the flash protect and the ISP exit still run, please wait\n";
#ifdef _WIN32
    std::signal(number, OnStopSignal);  // the Windows runtime resets the handler on each signal
    (void)!_write(2, kUnderWay, sizeof kUnderWay - 1);
#else
    (void)!write(2, kUnderWay, sizeof kUnderWay - 1);
#endif
    return;
  }
  stop_signal = number;
#ifdef _WIN32
  std::signal(number, OnStopSignal);
#endif
}

void CatchStopSignals() {
#ifdef _WIN32
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
#else
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaction(number, &action, nullptr);
  // A closed stdout or stderr makes writes fail with EPIPE instead: the streams then drop what
  // is printed and the run goes on to its end.
  std::signal(SIGPIPE, SIG_IGN);
#endif
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

// A pipe whose read end is closed reports an error condition on its write end.
bool StdoutReaderGone() {
#ifdef _WIN32
  return false;
#else
  pollfd watch{.fd = 1, .events = 0, .revents = 0};
  return poll(&watch, 1, 0) == 1 && (watch.revents & POLLERR) != 0;
#endif
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
  CatchStopSignals();
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
                                   .virtual_chip_done = {},
                                   .stop_signal = &stop_signal,
                                   .out_reader_gone = StdoutReaderGone};
#ifdef VELMORA_WITH_STATION
  const velmora::cli::CommandAdder more[] = {velmora::station::AddStationCommand};
  return velmora::cli::RunIspCli(argc, argv, env, more);
#else
  return velmora::cli::RunIspCli(argc, argv, env);
#endif
}
