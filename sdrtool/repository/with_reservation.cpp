#include "sdrtool/repository/with_reservation.h"

namespace veltrop {

ReservedOutcome WithReservation(int maxPasses, const std::function<ReservedPass()>& pass) {
  for (int passes = 1;; ++passes) {
    switch (pass()) {
      case ReservedPass::kDone:
        return ReservedOutcome::kDone;
      case ReservedPass::kFailed:
        return ReservedOutcome::kFailed;
      case ReservedPass::kReservationLost:
        if (passes >= maxPasses) return ReservedOutcome::kAttemptsExhausted;
        break;
    }
  }
}

}  // namespace veltrop
