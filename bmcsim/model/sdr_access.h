#pragma once
#include <cstdint>

#include "bmcsim/model/command_table.h"

namespace bmcsim {

// The commands both repositories answer the same way; the standard commands apply them to
// the active repository, the OEM ones to the spared one.

// True when a request carrying this reservation ID may proceed. 0000h is accepted only for a
// read from offset 0, which needs no reservation.
bool ReservationValid(const SdrRepository& repository, uint16_t reservation, bool allowNone);

// Reserve: a new ID, which cancels the previous holder's.
Reply ReserveRepository(CommandContext& context, SdrRepository& repository);

// Get SDR: reservation, record ID, offset, count (FFh = to the end of the record).
Reply ReadRecord(const SdrRepository& repository, wire::ByteReader& request);

}  // namespace bmcsim
