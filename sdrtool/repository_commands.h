#pragma once
#include <cstdint>

namespace veltrop {

class CProto;

// Stand-alone repository commands; each checks network function byte, completion code and
// length, leaving CommandCheckKind/CommandCheckValue on a failed check. True on success.
bool GetDeviceId(CProto& proto, uint8_t* out, int* count);  // 12 or 16 bytes
bool GetSdrRepositoryInfo(CProto& proto, uint8_t out[15]);
bool ReserveSdrRepository(CProto& proto, uint16_t* reservation);
bool GetSdrRecord(CProto& proto, uint16_t* recordId, uint8_t* record, int* totalLength);
bool GetOemE0Info(CProto& proto, uint8_t out[3]);

// Reports the last failed check as error 30 with the command's name; returns the report's
// result.
int ReportCommandError(CProto& proto, const char* commandName);

constexpr int kReservationRetryLimit = 300;

}  // namespace veltrop
