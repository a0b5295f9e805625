#include "sdrtool/programming/sdr_programming.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "sdrtool/backup_image.h"
#include "sdrtool/bmc_status.h"
#include "sdrtool/repository/command_codes.h"
#include "sdrtool/repository/spared_repository.h"
#include "sdrtool/repository/with_reservation.h"
#include "sdrtool/sdr_run.h"
#include "sdrtool/sdr_text/sdr_parser.h"
#include "sdrtool/sdr_text/text_file.h"
#include "transport/ipmi_exchange.h"

namespace veltrop {
namespace {

constexpr int kWriteStartRatio = 35;
constexpr int kErasedRatio = 40;
constexpr int kWrittenRatio = 65;
constexpr int kReadBackRatio = 90;
constexpr double kPhasePoints = 24.0;
constexpr int kMaxChunk = 16;

std::string Format(const char* format, int value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

unsigned long long RecordReference(const SdrRecord* record) {
  return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(record));
}

// Raises the ratio to at least value and publishes it when it was raised.
void RaiseProgress(SdrRun& run, int value) {
  if (run.ctx.progressRatio < value) run.SetProgress(value);
}

// One step of a rising phase: the accumulator grows by 24 / file record count; the ratio
// follows below ceiling and is published on every tenth record.
void StepProgress(SdrRun& run, double* accumulator, int ceiling, int recordNumber) {
  int32_t& ratio = run.ctx.progressRatio;
  if (ratio >= ceiling) return;
  *accumulator += kPhasePoints / run.programming.fileRecordCount;
  const int reached = static_cast<int>(*accumulator);
  ratio = reached < ceiling ? reached : ceiling;
  if (recordNumber % 10 == 0 && ratio < ceiling) run.ctx.PublishProgress();
}

// One record of the read-back with its own budget of new reservations. 0 with *record set
// and *found true, 0 with *found false when the repository holds no record, or an error number.
int ReadRecord(SdrRun& run, bool spared, uint16_t recordId, SdrRecord* record, bool* found,
               uint16_t* nextId) {
  ReadBackState& state = run.programming.readState;
  const int firstCount = run.programming.ipmi15Format ? 5 : 16;
  SendOptions lossExpected;
  lossExpected.reservationLossExpected = true;
  *found = false;
  int failure = 0;

  auto emptyRepository = [&]() {
    WriteMessage(run, "No Sensor Data Records found on the server ");
    state = ReadBackState::kRepositoryEmpty;
  };
  const ReservedOutcome outcome = WithReservation(kReservationRetryLimit, [&]() {
    uint16_t reservation = 0;
    if (ReserveRepository(run, spared, &reservation, lossExpected) != 0) {
      failure = 29;
      return ReservedPass::kFailed;
    }
    wire::ByteWriter request =
        spared ? Request(kOemRequest, kCmdSparedGetSdr) : Request(kStorageRequest, kCmdGetSdr);
    request.U16(reservation).U16(recordId).U8(0).U8(static_cast<uint8_t>(firstCount));
    CommandReply reply;
    int result = run.commands.Send(request.bytes(), &reply, lossExpected);
    if (result != 0) {
      if (ReservationLost(result, reply)) return ReservedPass::kReservationLost;
      if (state != ReadBackState::kNothingRead) {
        failure = 29;
      } else {
        emptyRepository();
      }
      return ReservedPass::kFailed;
    }
    state = ReadBackState::kRecordRead;
    if (reply.length != firstCount + 5) {
      failure = 5;
      return ReservedPass::kFailed;
    }
    SdrRecord read;
    wire::ByteReader data = reply.Data();
    data.U16(nextId);
    data.Copy(static_cast<size_t>(firstCount), read.bytes);
    const int total = read.BodyLength() + kSdrHeaderBytes;
    if (total > kMaxSdrRecordBytes) {
      failure = 58;
      return ReservedPass::kFailed;
    }
    wire::Bytes chunkRequest = request.Take();
    for (int offset = firstCount; offset < total; offset += kMaxChunk) {
      const int count = offset + kMaxChunk < total ? kMaxChunk : total - offset;
      chunkRequest[6] = static_cast<uint8_t>(offset);
      chunkRequest[7] = static_cast<uint8_t>(count);
      result = run.commands.Send(chunkRequest, &reply, lossExpected);
      if (result != 0) {
        if (ReservationLost(result, reply)) return ReservedPass::kReservationLost;
        failure = 29;
        return ReservedPass::kFailed;
      }
      if (reply.length != count + 5) {
        failure = 4;
        return ReservedPass::kFailed;
      }
      reply.From(5).Copy(static_cast<size_t>(count), read.bytes + offset);
    }
    *record = read;
    *found = true;
    return ReservedPass::kDone;
  });
  switch (outcome) {
    case ReservedOutcome::kDone:
      return 0;
    case ReservedOutcome::kFailed:
      return failure;
    case ReservedOutcome::kAttemptsExhausted:
      break;
  }
  if (state == ReadBackState::kNothingRead) {
    emptyRepository();
    return 0;
  }
  run.errors.Report(27, 0, "Get SDR");
  return kAlreadyReported;
}

// One best-effort release that discards whatever the spared repository holds. A BMC that
// holds no lock refuses it (D5h); that is the expected answer then, so it is not reported.
void DiscardUpdateLock(SdrRun& run) {
  // A failed call of the Microsoft driver tore its path down; the release needs it once more.
  transport::ReopenAfterTeardown(run.ctx.transport);
  wire::ByteWriter request = Request(kOemRequest, kCmdSparedLock);
  request.U8(kLockReleaseFailed);
  CommandReply reply;
  SendOptions quiet;
  quiet.quietCompletion = true;
  run.commands.Send(request.bytes(), &reply, quiet);
}

bool ActiveRepositoryHolds(SdrRun& run, const SdrRecordList& records) {
  SdrRecordList active;
  return ReadRepository(run, false, &active) == 0 && VerifyRecords(run, active, records) == 0;
}

}  // namespace

void WriteMessage(SdrRun& run, const std::string& text) {
  run.Log(text);
  if (!run.programming.transcript.Write(text)) run.errors.Report(73);
}

int ProgramSdrFile(SdrRun& run, const std::string& fileName, const SetNameList* names, bool compareOnly) {
  // The input's records: the SDR text file, or the image loaded for -bin.
  SdrRecordList fileRecords;
  int result = 0;
  if (run.settings.input == InputBin) {
    result = BuildListFromImage(run, &fileRecords);
  } else {
    TextFile file;
    if (file.Open(fileName) != 0) return run.errors.Report(68);
    result = ParseSdrText(run, file, names, &fileRecords);
  }
  if (result == 0 && CompareSDRVersion(run) != 0) result = kAlreadyReported;

  const bool programs = run.settings.mode == ModeUpdate || run.settings.mode == ModeForce;
  // A server without sensor records is no sound result: an input without records is refused
  // before the repository is locked or erased.
  if (result == 0 && programs && !compareOnly && fileRecords.empty()) {
    run.Log("The SDR input holds no records; the repository is left as it is.");
    result = 62;
  }
  bool lockHeld = false;
  bool reported = false;
  if (result == 0 && programs) {
    if (compareOnly) {
      run.programming.programmed = false;
    } else if (run.ctx.StopRequested()) {
      return run.errors.Report(33);
    } else {
      result = SetSparedSdrLock(run, kLockTake);
      if (result != 0) {
        // An answer lost in transit may hide a lock the BMC did grant; a refused lock is not
        // held and nothing was changed.
        if (result == 29) DiscardUpdateLock(run);
        return result;
      }
      lockHeld = true;
      if (WriteRepository(run, fileRecords) != 0) {
        result = run.errors.Report(33);
        reported = true;
      } else {
        run.programming.programmed = true;
      }
    }
    if (!reported) {
      WriteMessage(run, "Reading SDR Repository.");
      SdrRecordList readBack;
      result = ReadRepository(run, lockHeld, &readBack);
      if (result != 0) run.errors.Report(result);
      if (run.settings.ConsoleEcho) run.Print("\n");
      run.SetProgress(kReadBackRatio);
      if (result == 0) result = VerifyRecords(run, readBack, fileRecords);
      if (compareOnly) {
        if (result != 0) {
          result = 32;
        } else {
          WriteMessage(run, "SDR data was successfully compared!");
        }
      } else if (result != 0) {
        result = 33;
      } else {
        WriteMessage(run, "SDR data was successfully written!");
      }
    }
  }

  if (result != 0 && !reported) result = run.errors.Report(result);
  if (lockHeld) {
    if (result != 0) transport::ReopenAfterTeardown(run.ctx.transport);
    const int release = SetSparedSdrLock(run, result == 0 ? kLockReleaseSucceeded : kLockReleaseFailed);
    if (result == 0 && release != 0) {
      // A commit that was refused or never arrived leaves the BMC locked with the new records
      // pending; one whose answer was lost may have happened. Either way no update may leave
      // the BMC locked: discard what is pending.
      DiscardUpdateLock(run);
      result = release;
      // Whether a commit without an answer happened, the repository itself tells: an update
      // is reported as done exactly when the repository holds the input.
      if (release == 29 && ActiveRepositoryHolds(run, fileRecords)) {
        run.Log("The commit's answer was lost, but the repository holds the new records.");
        result = 0;
      }
    }
  }
  return result;
}

int WriteRepository(SdrRun& run, const SdrRecordList& records) {
  RaiseProgress(run, kWriteStartRatio);
  if (run.ctx.StopRequested()) return kAlreadyReported;
  WriteMessage(run, "Clearing SDR Repository...");
  const int erased = ClearSparedSdr(run);
  RaiseProgress(run, kErasedRatio);
  double accumulator = run.ctx.progressRatio;

  int result = 0;
  if (erased != 0) {
    result = run.errors.Report(25);
  } else {
    run.Log("Writing SDR Record ");
    int number = 1;
    for (const SdrRecord& record : records) {
      // Between records is a safe point: the lock's release discards what was written.
      if (run.ctx.StopRequested()) {
        result = kAlreadyReported;
        break;
      }
      run.programming.transcript.DumpRecord(record.bytes, Format("Writing SDR Record #%d", number));
      if (PartialAddSparedSdr(run, record.bytes) != 0) {
        result = kAlreadyReported;
      } else {
        if (run.settings.ConsoleEcho) run.Print(Format(" ----- > #%d\r", number));
        ++number;
      }
      StepProgress(run, &accumulator, kWrittenRatio, number);
      if (result != 0) break;
    }
  }
  RaiseProgress(run, kWrittenRatio);
  if (run.settings.ConsoleEcho) run.Print("\n");
  return result;
}

int ReadRepository(SdrRun& run, bool spared, SdrRecordList* records) {
  ProgrammingState& state = run.programming;
  if (!state.readProgressStarted) {
    state.readProgressStarted = true;
    state.readProgressAccumulator = run.ctx.progressRatio;
  }
  // A chain that comes back to a record it has passed, or one longer than any repository
  // can be, would otherwise be read forever.
  std::vector<bool> seen(0x10000, false);
  size_t totalBytes = 0;
  uint16_t recordId = 0;
  while (recordId != 0xFFFF && state.readState != ReadBackState::kRepositoryEmpty) {
    if (run.ctx.StopRequested()) return kAlreadyReported;
    if (seen[recordId]) {
      run.Log(Format("Get SDR: record ID %04Xh comes again, the record chain loops", recordId));
      return 4;
    }
    seen[recordId] = true;
    SdrRecord record;
    bool found = false;
    uint16_t next = 0xFFFF;
    const int result = ReadRecord(run, spared, recordId, &record, &found, &next);
    if (result != 0) return result;
    if (!found) return 0;  // the repository holds no record
    totalBytes += static_cast<size_t>(record.BodyLength()) + kSdrHeaderBytes;
    if (totalBytes > kMaxReadBackBytes) {
      run.Log(
          Format("Get SDR: repository holds more than %d record bytes", static_cast<int>(kMaxReadBackBytes)));
      return 4;
    }
    try {
      records->push_back(record);
    } catch (const std::bad_alloc&) {
      return 2;
    }
    StepProgress(run, &state.readProgressAccumulator, kReadBackRatio, state.readRecordNumber);
    if (run.settings.ConsoleEcho) run.Print(Format(" ----- > #%d\r", state.readRecordNumber));
    ++state.readRecordNumber;
    recordId = next;
  }
  return 0;
}

int VerifyRecords(SdrRun& run, const SdrRecordList& readBack, const SdrRecordList& fromFile) {
  char line[160];
  int& count = run.programming.verifyCount;
  for (size_t i = 0;; ++i) {
    ++count;
    const SdrRecord* f = i < readBack.size() ? &readBack[i] : nullptr;
    const SdrRecord* e = i < fromFile.size() ? &fromFile[i] : nullptr;
    if (!f && !e) return 0;
    if (!f || !e) {
      std::snprintf(line, sizeof line, "Verify %d ++++++ record num unmatch fSensData=%llx eSensData =%llx",
                    count, RecordReference(f), RecordReference(e));
      run.Log(line);
      return kAlreadyReported;
    }
    const int ilength = f->BodyLength();
    const int elength = e->BodyLength();
    if (ilength != elength) {
      std::snprintf(line, sizeof line, "Verify %d ++++++++ length error ++++++ ilength = %d elength =%d",
                    count, ilength, elength);
      run.Log(line);
      return 58;
    }
    // A length byte beyond the record's bytes cannot be compared past them.
    const int last = std::min(ilength + kSdrHeaderBytes - 1, kMaxSdrRecordBytes - 1);
    for (int b = 2; b <= last; ++b) {
      if (f->bytes[b] != e->bytes[b]) {
        std::snprintf(line, sizeof line,
                      "Verify %d ++++++++ data error i=%d fSensData->Record[i]=%d eSensData->Record[i]=%d",
                      count, b, f->bytes[b], e->bytes[b]);
        run.Log(line);
        return kAlreadyReported;
      }
    }
  }
}

}  // namespace veltrop
