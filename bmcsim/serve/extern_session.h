#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "bmcsim/serve/extern_framing.h"
#include "bmcsim/store/bmc_directory.h"
#include "platform/clock.h"

namespace bmcsim {

// One QEMU connection's side of the external BMC protocol, without the socket: what QEMU sent
// goes in, the bytes to send back come out. Every request goes through the BMC directory as
// the simulated driver's do (fault rules, latency, state, exchange log).
class ExternSession {
 public:
  using Note = std::function<void(const std::string&)>;
  ExternSession(BmcDirectory& bmc, platform::Clock& clock, Note note);

  // A new connection: a frame under way on the old one is forgotten.
  void Restart();
  void Received(const uint8_t* data, size_t size);
  bool HasFrames() const { return !frames_.empty(); }
  // True when a request is among the frames not handled yet.
  bool RequestWaiting() const;
  // Handles the oldest frame (a request sleeps its latency and injected delay) and returns
  // what to send back: the answer, or nothing (a control command, a request the fault rules
  // leave unanswered, a frame QEMU would drop itself).
  wire::Bytes HandleNext();

 private:
  wire::Bytes Answer(uint8_t sequence, const wire::Bytes& request);
  void Command(const wire::Bytes& command);
  wire::Bytes InterruptSetting(const wire::Bytes& request, const wire::Bytes& response);

  BmcDirectory& bmc_;
  platform::Clock& clock_;
  Note note_;
  ExternDecoder decoder_;
  std::deque<ExternFrame> frames_;
};

}  // namespace bmcsim
