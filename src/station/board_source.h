// Where the station's boards come from: the USB bus of this system, or the virtual bench. A
// source lists the boards plugged in and hands out a link of its own for each board, so each
// board's thread talks through objects no other thread touches.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "chip_commands.h"

namespace velmora::station {

struct BoardSlot {
  std::string port_path;   // "1-4.2": where the board sits
  std::string identity;    // the identity path the device link finds it under
  std::uint64_t plug = 0;  // changes when another board is plugged into the same port (0: unknown)

  bool operator==(const BoardSlot&) const = default;
};

// One board's link, found and ready to open. Belongs to one thread at a time.
class BoardConnection {
 public:
  virtual ~BoardConnection() = default;
  virtual ChipLink& Link() = 0;
};

class BoardSource {
 public:
  virtual ~BoardSource() = default;
  // The boards plugged in now, in a stable order. Safe from any thread.
  virtual std::vector<BoardSlot> Present() = 0;
  // A link to `slot`'s board, or nullptr with `error` in words (gone, in use, no permission).
  // Safe from any thread; the connection is used by one thread.
  virtual std::unique_ptr<BoardConnection> Connect(const BoardSlot& slot, std::string& error) = 0;
  // The station has finished with `slot`'s board (the virtual bench's operator takes it away).
  virtual void BoardDone(const BoardSlot& /*slot*/) {}
};

}  // namespace velmora::station
