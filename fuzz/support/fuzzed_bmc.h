#pragma once
#include <cstddef>
#include <cstdint>
#include <map>

#include "bmcsim/model/bmc_model.h"
#include "bmcsim/model/bmc_state.h"
#include "platform/clock.h"
#include "transport/ipmi_driver.h"

namespace fuzzing {

// Reads the fuzz input front to back; past its end every read yields 0.
class InputBytes {
 public:
  InputBytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return pos_ >= size_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// The BMC's side of a run, taken from the fuzz input: an honest BMC (bmcsim's model on a state
// held in memory, no files) answers unless the input says otherwise for the exchange. Per
// exchange the driver reads one rule byte (none left: honest):
//   00h-7Fh  this exchange and the next n are answered honestly
//   80h+k    k mod 16: 0 driver unreachable (request not carried out); 1 transfer failed after
//            the BMC carried it out; 2 transfer failed with a length and bytes of the input;
//            3 completion code := next byte; 4 length := next byte (cut, or padded with input
//            bytes); 5 next byte n: n input bytes appended; 6 whole answer from the input (length
//            byte, bytes), request not carried out; 7 the same after the BMC carried it out;
//            8 answer byte [next] ^= next; 9 answer byte [next] := next; 10 network function and
//            command echo := next two bytes; 11 the next rule holds for every later exchange of
//            this request's network function and command; 12 the clock jumps next byte x 1 s,
//            then an honest answer; 13-15 honest.
// Answers never exceed the caller's capacity. A run of more than kMaxExchanges exchanges
// stops the process: no run may talk to the BMC without end.
class FuzzedBmcDriver : public transport::IpmiDriver {
 public:
  static constexpr uint64_t kMaxExchanges = 2000000;

  FuzzedBmcDriver(bmcsim::BmcState state, platform::Clock& clock, InputBytes& input)
      : state_(std::move(state)), clock_(clock), input_(input) {}

  transport::ExchangeStatus Exchange(const transport::IpmiRequest& request,
                                     transport::IpmiResponse* response) override;

  const bmcsim::BmcState& state() const { return state_; }
  uint64_t exchanges() const { return exchanges_; }
  // Every Firmware Erase request the run sent, by address, whatever became of it.
  const std::map<uint32_t, uint32_t>& eraseRequests() const { return eraseRequests_; }

 private:
  struct Rule {
    uint8_t kind = 0xFF;  // 0xFF: honest
    uint8_t a = 0, b = 0;
    wire::Bytes bytes;
  };
  Rule NextRule(bool allowSticky, uint16_t key);
  Rule ReadRule(uint8_t kind);
  wire::Bytes Honest(const uint8_t* request, uint8_t requestLength);

  bmcsim::BmcModel model_;
  bmcsim::BmcState state_;
  platform::Clock& clock_;
  InputBytes& input_;
  uint32_t honestLeft_ = 0;
  std::map<uint16_t, Rule> sticky_;
  uint64_t exchanges_ = 0;
  std::map<uint32_t, uint32_t> eraseRequests_;
};

}  // namespace fuzzing
