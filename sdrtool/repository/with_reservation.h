#pragma once
#include <functional>

namespace veltrop {

// Operations under a reservation start over after 0xC5 with a new one, this many times.
constexpr int kReservationRetryLimit = 300;

// What one pass of a reservation-based operation came to.
enum class ReservedPass {
  kDone,
  kReservationLost,  // 0xC5: start over with a new reservation
  kFailed,
};

enum class ReservedOutcome { kDone, kFailed, kAttemptsExhausted };

// Runs passes (each takes its own reservation and does the whole operation from its start)
// until one is done or fails, at most maxPasses of them.
ReservedOutcome WithReservation(int maxPasses, const std::function<ReservedPass()>& pass);

}  // namespace veltrop
