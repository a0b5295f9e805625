#pragma once
#include "ipmi/command.h"

namespace ipmi {

// Watches the exchanges of a sender: where a program keeps its trace, its pacing and the
// latest exchange for the log lines of a failure.
class ExchangeObserver {
 public:
  virtual ~ExchangeObserver() = default;
  // Before the request goes out.
  virtual void Sending(const transport::IpmiRequest& /*request*/) {}
  // Once its answer, or the transport's failure, is back.
  virtual void Answered(const transport::IpmiRequest& /*request*/, const Answer& /*answer*/) {}
};

// Keeps the latest exchange.
class LatestExchange : public ExchangeObserver {
 public:
  void Sending(const transport::IpmiRequest& request) override {
    this->request = request;
    answer = Answer{};
  }
  void Answered(const transport::IpmiRequest&, const Answer& answer) override { this->answer = answer; }

  transport::IpmiRequest request;
  Answer answer;
};

// The one way both programs send a command: the request built, shown to the observer, sent
// over the run's transport (no pause, trace or retry of its own), the answer shown to the
// observer and decoded by the command.
class Sender {
 public:
  explicit Sender(transport::IpmiTransport& transport, ExchangeObserver* observer = nullptr)
      : transport_(transport), observer_(observer) {}

  template <typename T>
  Outcome<T> Send(const Command<T>& command) {
    return command.Decode(Exchange(command.request));
  }
  // The answer in wire form, for a caller that decodes it itself. A request too long for the
  // wire is not sent: it fails as a request that could not be prepared.
  Answer Exchange(const Request& request);

  transport::IpmiTransport& transport() { return transport_; }

 private:
  transport::IpmiTransport& transport_;
  ExchangeObserver* observer_;
};

}  // namespace ipmi
