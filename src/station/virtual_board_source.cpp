#include "virtual_board_source.h"

#include <chrono>
#include <sstream>

#include "demo_sleeper.h"
#include "velmora_usb.h"
#include "virtual_chip.h"
#include "virtual_clock.h"
#include "virtual_usb_platform.h"

namespace velmora::station {

// The chip sits behind a switch the bench may open from another thread: an unplugged board
// fails every transfer, as a board pulled off its cable does.
class PulledSwitch final : public sim::VirtualDevice {
 public:
  explicit PulledSwitch(sim::VirtualChip& chip) : chip_(chip) {}
  bool HandleControl(Backend backend, const ControlSetup& setup, std::uint8_t* data,
                     std::uint32_t length) override {
    return !pulled.load() && chip_.HandleControl(backend, setup, data, length);
  }
  bool HandleProbe(Backend backend) override {
    return !pulled.load() && chip_.HandleProbe(backend);
  }
  std::atomic<bool> pulled{false};

 private:
  sim::VirtualChip& chip_;
};

struct VirtualBoardSource::Board final : public BoardConnection {
  Board(const std::string& identity, bool real_pauses)
      : chip(clock, sim::FlashConfig{}), pull(chip), usb(platform) {
    if (real_pauses) demo = std::make_unique<DemoSleeper>(clock);
    link = std::make_unique<ChipLink>(ChipLink{usb, demo ? *demo : static_cast<Sleeper&>(clock)});
    platform.Plug(identity, &pull);
    usb.SetBackend(VelmoraUsb::kPropertyBackend);
    usb.SetMatchText(identity);
    usb.FindDevice();
  }
  ChipLink& Link() override { return *link; }

  sim::VirtualClock clock;
  sim::VirtualChip chip;
  PulledSwitch pull;
  sim::VirtualUsbPlatform platform;
  std::unique_ptr<Sleeper> demo;
  VelmoraUsb usb;
  std::unique_ptr<ChipLink> link;
};

namespace {

// Hands the board to one thread; the bench keeps its own reference for unplugging.
class SharedBoard final : public BoardConnection {
 public:
  explicit SharedBoard(std::shared_ptr<VirtualBoardSource::Board> board)
      : board_(std::move(board)) {}
  ChipLink& Link() override { return board_->Link(); }

 private:
  std::shared_ptr<VirtualBoardSource::Board> board_;
};

struct ScriptLine {
  std::string verb, argument;
};

std::optional<ScriptLine> ParseLine(const std::string& line, std::string& error) {
  std::istringstream in(line.substr(0, line.find('#')));
  ScriptLine parsed;
  if (!(in >> parsed.verb)) return std::nullopt;  // blank or a comment
  std::string extra;
  if (!(in >> parsed.argument) || (in >> extra)) {
    error = "\"" + line + "\": give a verb and one argument";
    return std::nullopt;
  }
  if (parsed.verb == "wait") {
    if (parsed.argument.find_first_not_of("0123456789") != std::string::npos) {
      error = "\"" + line + "\": wait takes milliseconds";
      return std::nullopt;
    }
  } else if (parsed.verb != "plug" && parsed.verb != "unplug") {
    error = "\"" + line + "\": the verbs are plug, unplug and wait";
    return std::nullopt;
  }
  return parsed;
}

}  // namespace

std::optional<std::string> CheckBenchScript(const std::string& text) {
  std::istringstream in(text);
  std::string line, error;
  while (std::getline(in, line)) {
    ParseLine(line, error);
    if (!error.empty()) return error;
  }
  return std::nullopt;
}

VirtualBoardSource::VirtualBoardSource(VirtualBenchOptions options, std::string script_text)
    : options_(std::move(options)), random_(options_.fault_seed) {
  std::lock_guard<std::mutex> hold(mutex_);
  for (unsigned k = 1; k <= options_.boards; ++k) {
    Port port{"1-" + std::to_string(k), "usb:vid_6ccf&pid_6012:bus1-port" + std::to_string(k),
              nullptr, 0};
    PlugFresh(port);
    ports_.push_back(std::move(port));
  }
  if (!script_text.empty()) script_ = std::thread([this, script_text] { RunScript(script_text); });
}

VirtualBoardSource::~VirtualBoardSource() {
  quit_ = true;
  if (script_.joinable()) script_.join();
}

void VirtualBoardSource::PlugFresh(Port& port) {
  port.board = std::make_shared<Board>(port.identity, options_.real_pauses);
  ++port.plug;
  ++made_;
  if (std::uniform_real_distribution<double>(0, 1)(random_) < options_.fault_rate) {
    // Past the three id bytes: the part is recognised, its data reads wrong.
    port.board->chip.FlipReadBits(0x01, sim::VirtualChip::Flip::Always, 8);
    ++faulty_;
  }
}

void VirtualBoardSource::RunScript(std::string text) {
  std::istringstream in(text);
  std::string line, error;
  while (!quit_ && std::getline(in, line)) {
    const std::optional<ScriptLine> step = ParseLine(line, error);
    if (!step) continue;
    if (step->verb == "wait") {
      const auto until =
          std::chrono::steady_clock::now() + std::chrono::milliseconds(std::stoul(step->argument));
      while (!quit_ && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      continue;
    }
    std::lock_guard<std::mutex> hold(mutex_);
    for (Port& port : ports_) {
      if (port.port_path != step->argument) continue;
      if (step->verb == "unplug" && port.board) {
        port.board->pull.pulled = true;
        port.board.reset();
      } else if (step->verb == "plug" && !port.board) {
        PlugFresh(port);
      }
    }
  }
}

std::vector<BoardSlot> VirtualBoardSource::Present() {
  std::lock_guard<std::mutex> hold(mutex_);
  std::vector<BoardSlot> slots;
  for (const Port& port : ports_) {
    if (port.board) slots.push_back({port.port_path, port.identity, port.plug});
  }
  return slots;
}

std::unique_ptr<BoardConnection> VirtualBoardSource::Connect(const BoardSlot& slot,
                                                             std::string& error) {
  std::lock_guard<std::mutex> hold(mutex_);
  for (const Port& port : ports_) {
    if (port.port_path == slot.port_path && port.board && port.plug == slot.plug) {
      return std::make_unique<SharedBoard>(port.board);
    }
  }
  error = "The board at " + slot.port_path + " is gone";
  return nullptr;
}

void VirtualBoardSource::BoardDone(const BoardSlot& slot) {
  if (script_.joinable()) return;  // the script plugs and unplugs
  std::lock_guard<std::mutex> hold(mutex_);
  for (Port& port : ports_) {
    if (port.port_path == slot.port_path && port.plug == slot.plug) PlugFresh(port);
  }
}

unsigned VirtualBoardSource::BoardsMade() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return made_;
}

unsigned VirtualBoardSource::FaultyBoardsMade() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return faulty_;
}

}  // namespace velmora::station
