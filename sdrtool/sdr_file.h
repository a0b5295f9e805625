#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "sdrtool/cproto.h"
#include "sdrtool/lib_funct.h"
#include "sdrtool/sens_data.h"
#include "sdrtool/set_name_list.h"

namespace veltrop {

// Update lock modes of the spared repository.
constexpr uint8_t kLockTake = 0x00;
constexpr uint8_t kLockReleaseFailed = 0x01;
constexpr uint8_t kLockReleaseSucceeded = 0x02;

// The read-back refuses repositories whose records add up to more than this.
constexpr size_t kMaxReadBackBytes = 65535;
// How long an erase may take before it counts as failed.
constexpr uint64_t kEraseTimeLimitMs = 10 * 60 * 1000;

class VeltropRun;

// Marks a reservation-based operation for the command layer, so 0xC5 is taken as a lost
// reservation instead of an error; cleared however the operation ends.
class ReservationLossExpected {
 public:
  explicit ReservationLossExpected(VeltropRun& run);
  ~ReservationLossExpected();
  ReservationLossExpected(const ReservationLossExpected&) = delete;
  ReservationLossExpected& operator=(const ReservationLossExpected&) = delete;

 private:
  VeltropRun& run_;
};

// One SDR text file (or loaded image) and the procedure that programs it into the BMC.
class SDRFile : public CProto {
 public:
  explicit SDRFile(VeltropRun& run);
  virtual ~SDRFile();
  SDRFile(const SDRFile&) = delete;
  SDRFile& operator=(const SDRFile&) = delete;

  // Builds FileList from the SDR file (or the loaded image), compares versions, and writes,
  // reads back and verifies, or only compares. 0 on success; failures already reported.
  int ProgramSdrFile(const std::string& fileName, const SetNameList* names);

  // Parses the open file into FileList, keeping tagged records selected by names.
  int Parse(const SetNameList* names);

  // Spared-repository commands. The lock request returns the SendCommand result; the erase
  // 0, 29 or 81; the record write (5-byte header and body) 0, 58 (body above 64 bytes,
  // nothing sent) or 81.
  int SetSparedSdrLock(uint8_t mode);
  int ClearSparedSdr();
  int PartialAddSparedSdr(const uint8_t* record);

  // Erases the spared repository and writes FileList into it. 0, 25 or 81.
  int WriteRepository();
  // Reads the repository (the spared one while the lock is held) from recordId on into
  // *slot, in repository order. 0, or an error number not yet reported (2, 4, 5, 29, 58) or 81.
  int ReadRepository(std::unique_ptr<SensData>* slot, uint16_t recordId);
  // Compares the read-back list with the file list record by record, record IDs aside.
  // 0 when equal, 58 when a length differs, 81 for a byte or a record count that differs.
  int VerifyRecords(const SensData* readList, const SensData* fileList);
  // Logs the text and copies it unchanged to the transcript.
  void WriteMessage(const std::string& text);

  std::unique_ptr<SensData> FileList;
  std::unique_ptr<SensData> ReadList;
  int UpdateLockHeld = 0;

 protected:
  // Reserves the spared (F8 11) or the standard (28 22) repository. The SendCommand result;
  // a response too short to carry a reservation ID is reported as 5 and gives 81.
  int Reserve(bool spared, uint16_t* reservation);
  // True when a failed request was answered with 0xC5: the reservation was taken away.
  bool ReservationLost(int result, int responseLength) const;

  FileContext file_;
  uint8_t request_[256] = {};
  uint8_t response_[256] = {};

 private:
  // One record of the read-back with its own budget of new reservations. 0 with *node set,
  // 0 with *node empty when the repository holds no record, or an error number.
  int ReadRecord(uint16_t recordId, std::unique_ptr<SensData>* node, uint16_t* nextId);
  // Raises the ratio to at least value and publishes it when it was raised.
  void RaiseProgress(int value);
  // One step of a rising phase: the accumulator grows by 24 / FileRecordCount; the ratio
  // follows below ceiling and is published on every tenth record.
  void StepProgress(double* accumulator, int ceiling, int recordNumber);
};

}  // namespace veltrop
