#pragma once
#include <cstdint>

#include "ipmi/command.h"

// The standard SDR repository commands (network function Storage) on the repository the BMC
// uses, and the vendor's spared repository (network function OEM) into which an update is
// written. Reading a record is the same command shape in both.
namespace ipmi {

enum class Repository : uint8_t {
  kActive,  // the standard commands
  kSpared,  // the vendor's, while its update lock is held
};

struct RepositoryInfo {
  uint8_t sdrVersion = 0;
  uint16_t recordCount = 0;
  uint16_t freeSpace = 0;
  uint32_t additionTimestamp = 0;
  uint32_t eraseTimestamp = 0;
  uint8_t operationSupport = 0;
  wire::Bytes data;  // the 14 data bytes as they came
};
// Get SDR Repository Info: 14 data bytes.
Command<RepositoryInfo> GetSdrRepositoryInfo();

// Reserve SDR Repository, or the spared repository's reserve: the reservation ID.
Command<uint16_t> ReserveRepository(Repository repository);

struct RecordPart {
  uint16_t nextRecordId = 0;
  wire::Bytes bytes;  // exactly the count asked for
};
// Get SDR: count bytes of record recordId from offset on, and the next record's ID.
Command<RecordPart> GetSdr(Repository repository, uint16_t reservation, uint16_t recordId, uint8_t offset,
                           uint8_t count);

// The spared repository's update lock.
enum class LockMode : uint8_t {
  kTake = 0x00,
  kReleaseDiscarding = 0x01,  // after a failed update: what was written is dropped
  kReleaseCommitting = 0x02,  // after a verified update: the spared repository goes live
};
Command<Done> SparedUpdateLock(LockMode mode);

// Partial Add of one chunk of a new record into the spared repository. recordId 0000h asks the
// BMC for a new record; later chunks name the ID the first one returned. The answer is the
// record's ID.
Command<uint16_t> SparedPartialAdd(uint16_t reservation, uint16_t recordId, uint8_t offset, bool last,
                                   const uint8_t* bytes, uint8_t count);

enum class EraseStep : uint8_t {
  kStatus = 0x00,
  kStart = 0xAA,
};
constexpr uint8_t kEraseCompleted = 0x01;
// Clear of the spared repository: starts the erase or asks how far it is; the answer is the
// erase status (kEraseCompleted once done).
Command<uint8_t> SparedClear(uint16_t reservation, EraseStep step);

// The vendor's OEM E0h query: three bytes the backup image keeps.
Command<wire::Bytes> OemE0Info();

}  // namespace ipmi
