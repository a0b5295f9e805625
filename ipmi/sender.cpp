#include "ipmi/sender.h"

namespace ipmi {

Answer Sender::Exchange(const Request& request) {
  Answer answer;
  transport::IpmiRequest wire;
  const bool fits = request.Wire(&wire);
  if (observer_) observer_->Sending(wire);
  if (fits) {
    answer.status = transport::IpmiExchange(transport_, wire, &answer.response);
  } else {
    answer.status = transport::kDriverUnreachable;
  }
  if (observer_) observer_->Answered(wire, answer);
  return answer;
}

}  // namespace ipmi
