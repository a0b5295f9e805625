#pragma once
#include <cstddef>
#include <cstdint>

namespace veltrop {

class CProto;

// Stand-alone repository commands; each checks network function byte, completion code and
// length, leaving CommandCheckKind/CommandCheckValue on a failed check. True on success.

// Completion code and Get Device ID data: 12 bytes, or 16 with the auxiliary firmware revision.
bool GetDeviceId(CProto& proto, uint8_t out[16], int* count);
// Completion code and the 14 data bytes of Get SDR Repository Info.
bool GetSdrRepositoryInfo(CProto& proto, uint8_t out[15]);
bool ReserveSdrRepository(CProto& proto, uint16_t* reservation);
// Reads the whole record *recordId (0: the first) with the standard commands, re-reserving
// after 0xC5 (not in the version query), and replaces *recordId by the next record's ID.
// A record longer than capacity fails as a wrong size.
bool GetSdrRecord(CProto& proto, uint16_t* recordId, uint8_t* record, size_t capacity, int* totalLength);
// The three bytes of the OEM E0h query; a non-zero completion code fails without a message.
bool GetOemE0Info(CProto& proto, uint8_t out[3]);

// Reports the last failed check as error 30 with the command's name; returns the report's
// result.
int ReportCommandError(CProto& proto, const char* commandName);

constexpr int kReservationRetryLimit = 300;
// A repository record as Get SDR can deliver it: 5-byte header and a body of up to 255 bytes.
constexpr size_t kMaxRepositoryRecordBytes = 5 + 255;

// CommandCheckKind values.
constexpr uint8_t kCheckNetFn = 6;
constexpr uint8_t kCheckCompletion = 7;
constexpr uint8_t kCheckLength = 8;

}  // namespace veltrop
