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
  // The connection ended: tells how many odd frames went without a line of their own.
  void End();
  // Control commands and frames QEMU would drop itself are dealt with as they arrive: only
  // requests wait, so a peer sending nothing else makes the session hold nothing.
  void Received(const uint8_t* data, size_t size);
  bool RequestWaiting() const { return !requests_.empty(); }
  // Handles the oldest request (it sleeps its latency and injected delay) and returns what to
  // send back: the answer, or nothing (a request the fault rules leave unanswered).
  wire::Bytes HandleNext();
  // Something odd the peer did (a dropped frame, an answer it no longer waits for): the first
  // few of a connection get a line each, the rest are counted.
  void NoteOdd(const std::string& line);

 private:
  wire::Bytes Answer(uint8_t sequence, const wire::Bytes& request);
  void Command(const wire::Bytes& command);
  wire::Bytes InterruptSetting(const wire::Bytes& request, const wire::Bytes& response);

  BmcDirectory& bmc_;
  platform::Clock& clock_;
  Note note_;
  ExternDecoder decoder_;
  std::deque<ExternFrame> requests_;  // messages and too-long messages only
  size_t oddFrames_ = 0;              // on this connection
};

}  // namespace bmcsim
