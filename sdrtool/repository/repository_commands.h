#pragma once
#include <cstddef>
#include <cstdint>

namespace veltrop {

class SdrRun;

// Why a stand-alone command's answer was refused, for ReportCommandError.
struct CommandCheck {
  enum Kind : uint8_t { kNone = 0, kNetFn = 6, kCompletion = 7, kLength = 8 };
  uint8_t kind = kNone;
  uint8_t value = 0;
};

// Stand-alone repository commands; each checks network function byte, completion code and
// length, leaving the reason of a refused answer in *check. True on success.

// Completion code and Get Device ID data: 12 bytes, or 16 with the auxiliary firmware revision.
bool GetDeviceId(SdrRun& run, uint8_t out[16], int* count, CommandCheck* check);
// Completion code and the 14 data bytes of Get SDR Repository Info.
bool GetSdrRepositoryInfo(SdrRun& run, uint8_t out[15], CommandCheck* check);
bool ReserveSdrRepository(SdrRun& run, uint16_t* reservation, CommandCheck* check);
// Reads the whole record *recordId (0: the first) with the standard commands, re-reserving
// after 0xC5 (not in the version query, which must not disturb an update's reservations),
// and replaces *recordId by the next record's ID. A record longer than capacity fails as a
// wrong size.
bool GetSdrRecord(SdrRun& run, uint16_t* recordId, uint8_t* record, size_t capacity, int* totalLength,
                  CommandCheck* check);
// The three bytes of the OEM E0h query; a BMC that does not know it refuses without a message.
bool GetOemE0Info(SdrRun& run, uint8_t out[3], CommandCheck* check);

// Reports a refused answer as error 30 with the command's name; returns the report's result.
int ReportCommandError(SdrRun& run, const char* commandName, const CommandCheck& check);

// A repository record as Get SDR can deliver it: 5-byte header and a body of up to 255 bytes.
constexpr size_t kMaxRepositoryRecordBytes = 5 + 255;

}  // namespace veltrop
