#include "sdrtool/programming/sdr_programming.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "ipmi/sdr_repository_commands.h"
#include "sdrtool/backup_image.h"
#include "sdrtool/bmc_status.h"
#include "sdrtool/command_errors.h"
#include "sdrtool/programming/repository_switch.h"
#include "sdrtool/repository/record_chain.h"
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

SendOptions LossExpected() {
  SendOptions options;
  options.reservationLossExpected = true;
  return options;
}

// One record of the read-back with its own budget of new reservations. kNoRecord when the
// repository holds no record; kFailed with *failure set (to kAlreadyReported when the log
// already says why).
RecordRead ReadRecord(SdrRun& run, ipmi::Repository repository, uint16_t recordId, ChainRecord* record,
                      SdrError* failure) {
  ReadBackState& state = run.programming.readState;
  const uint8_t firstCount = run.programming.ipmi15Format ? 5 : 16;
  bool empty = false;

  auto emptyRepository = [&]() {
    WriteMessage(run, "No Sensor Data Records found on the server ");
    state = ReadBackState::kRepositoryEmpty;
    empty = true;
  };
  const ReservedOutcome outcome = WithReservation(kReservationRetryLimit, [&]() {
    const ipmi::Outcome<uint16_t> reserved = ReserveRepository(run, repository, LossExpected());
    if (!reserved) {
      *failure = SdrError::kSendFailed;
      return ReservedPass::kFailed;
    }
    ipmi::Outcome<ipmi::RecordPart> part =
        run.commands.Send(ipmi::GetSdr(repository, reserved.value, recordId, 0, firstCount), LossExpected());
    if (part.Refused(ipmi::kCcReservationCancelled)) return ReservedPass::kReservationLost;
    if (!part && !NotTheCommandsAnswer(part.As<ipmi::Done>())) {
      if (state != ReadBackState::kNothingRead) {
        *failure = SdrError::kSendFailed;
      } else {
        emptyRepository();
      }
      return ReservedPass::kFailed;
    }
    state = ReadBackState::kRecordRead;
    if (!part) {
      *failure = MalformedAnswerError(AnswerUse::kFirstPart);
      return ReservedPass::kFailed;
    }
    record->nextRecordId = part.value.nextRecordId;
    record->bytes = part.value.bytes;
    const int total = SdrBodyLength(record->bytes) + kSdrHeaderBytes;
    if (total > kMaxSdrRecordBytes) {
      *failure = SdrError::kInvalidRecordLength;
      return ReservedPass::kFailed;
    }
    // A first read of 16 bytes may reach past a short record.
    if (record->bytes.size() > static_cast<size_t>(total)) record->bytes.resize(static_cast<size_t>(total));
    for (int offset = firstCount; offset < total; offset += kMaxChunk) {
      const int count = offset + kMaxChunk < total ? kMaxChunk : total - offset;
      part = run.commands.Send(ipmi::GetSdr(repository, reserved.value, recordId,
                                            static_cast<uint8_t>(offset), static_cast<uint8_t>(count)),
                               LossExpected());
      if (part.Refused(ipmi::kCcReservationCancelled)) return ReservedPass::kReservationLost;
      if (!part) {
        *failure = NotTheCommandsAnswer(part.As<ipmi::Done>()) ? MalformedAnswerError(AnswerUse::kLaterPart)
                                                               : SdrError::kSendFailed;
        return ReservedPass::kFailed;
      }
      record->bytes.insert(record->bytes.end(), part.value.bytes.begin(), part.value.bytes.end());
    }
    return ReservedPass::kDone;
  });
  switch (outcome) {
    case ReservedOutcome::kDone:
      return RecordRead::kRecord;
    case ReservedOutcome::kFailed:
      return empty ? RecordRead::kNoRecord : RecordRead::kFailed;
    case ReservedOutcome::kAttemptsExhausted:
      break;
  }
  if (state == ReadBackState::kNothingRead) {
    emptyRepository();
    return RecordRead::kNoRecord;
  }
  run.errors.Report(SdrError::kRetriesExhausted, 0, "Get SDR");
  *failure = SdrError::kAlreadyReported;
  return RecordRead::kFailed;
}

}  // namespace

void WriteMessage(SdrRun& run, const std::string& text) {
  run.Log(text);
  if (!run.programming.transcript.Write(text)) run.errors.Report(SdrError::kTempFileWriteFailed);
}

SdrError ProgramSdrFile(SdrRun& run, const std::string& fileName, const SetNameList* names,
                        bool compareOnly) {
  // The input's records: the SDR text file, or the image loaded for -bin.
  SdrRecordList fileRecords;
  SdrError result = SdrError::kNone;
  if (run.settings.input == InputBin) {
    result = BuildListFromImage(run, &fileRecords);
  } else {
    TextFile file;
    if (file.Open(fileName) != TextFile::Opened::kOpened)
      return run.errors.Report(SdrError::kSdrFileOpenFailed);
    result = ParseSdrText(run, file, names, &fileRecords);
  }
  if (result == SdrError::kNone && CompareSDRVersion(run) != 0) result = SdrError::kAlreadyReported;

  const bool programs = run.settings.mode == ModeUpdate || run.settings.mode == ModeForce;
  // A server without sensor records is no sound result: an input without records is refused
  // before the repository is locked or erased.
  if (result == SdrError::kNone && programs && !compareOnly && fileRecords.empty()) {
    run.Log("The SDR input holds no records; the repository is left as it is.");
    result = SdrError::kSdrFileParsing;
  }
  bool lockTaken = false;
  bool reported = false;
  if (result == SdrError::kNone && programs) {
    if (compareOnly) {
      run.programming.programmed = false;
    } else if (run.ctx.StopRequested()) {
      return run.errors.Report(SdrError::kWriteFailed);
    } else {
      // A lock that was not taken changed nothing; its failure is in the log.
      if (!TakeUpdateLock(run)) return SdrError::kAlreadyReported;
      lockTaken = true;
      if (WriteRepository(run, fileRecords) != SdrError::kNone) {
        result = run.errors.Report(SdrError::kWriteFailed);
        reported = true;
      } else {
        run.programming.programmed = true;
      }
    }
    if (!reported) {
      WriteMessage(run, "Reading SDR Repository.");
      SdrRecordList readBack;
      result = ReadRepository(run, lockTaken, &readBack);
      if (result != SdrError::kNone) run.errors.Report(result);
      if (run.settings.ConsoleEcho) run.Print("\n");
      run.SetProgress(kReadBackRatio);
      if (result == SdrError::kNone) result = VerifyRecords(run, readBack, fileRecords);
      if (compareOnly) {
        if (result != SdrError::kNone) {
          result = SdrError::kCompareMismatch;
        } else {
          WriteMessage(run, "SDR data was successfully compared!");
        }
      } else if (result != SdrError::kNone) {
        result = SdrError::kWriteFailed;
      } else {
        WriteMessage(run, "SDR data was successfully written!");
      }
    }
  }

  if (result != SdrError::kNone && !reported) result = run.errors.Report(result);
  if (lockTaken) {
    if (result != SdrError::kNone) {
      transport::ReopenAfterTeardown(run.ctx.transport);
      ReleaseUpdateLock(run, ipmi::LockMode::kReleaseDiscarding);
    } else {
      result = CommitUpdate(run, fileRecords);
    }
  }
  return result;
}

SdrError WriteRepository(SdrRun& run, const SdrRecordList& records) {
  RaiseProgress(run, kWriteStartRatio);
  if (run.ctx.StopRequested()) return SdrError::kAlreadyReported;
  WriteMessage(run, "Clearing SDR Repository...");
  const bool erased = ClearSparedSdr(run);
  RaiseProgress(run, kErasedRatio);
  double accumulator = run.ctx.progressRatio;

  SdrError result = SdrError::kNone;
  if (!erased) {
    result = run.errors.Report(SdrError::kClearFailed);
  } else {
    run.Log("Writing SDR Record ");
    int number = 1;
    for (const SdrRecord& record : records) {
      // Between records is a safe point: the lock's release discards what was written.
      if (run.ctx.StopRequested()) {
        result = SdrError::kAlreadyReported;
        break;
      }
      run.programming.transcript.DumpRecord(record.bytes, Format("Writing SDR Record #%d", number));
      if (PartialAddSparedSdr(run, record.bytes) != SdrError::kNone) {
        result = SdrError::kAlreadyReported;
      } else {
        if (run.settings.ConsoleEcho) run.Print(Format(" ----- > #%d\r", number));
        ++number;
      }
      StepProgress(run, &accumulator, kWrittenRatio, number);
      if (result != SdrError::kNone) break;
    }
  }
  RaiseProgress(run, kWrittenRatio);
  if (run.settings.ConsoleEcho) run.Print("\n");
  return result;
}

SdrError ReadRepository(SdrRun& run, bool spared, SdrRecordList* records) {
  ProgrammingState& state = run.programming;
  if (!state.readProgressStarted) {
    state.readProgressStarted = true;
    state.readProgressAccumulator = run.ctx.progressRatio;
  }
  if (state.readState == ReadBackState::kRepositoryEmpty) return SdrError::kNone;
  const ipmi::Repository repository = spared ? ipmi::Repository::kSpared : ipmi::Repository::kActive;
  SdrError failure = SdrError::kNone;

  RecordChainWalk walk;
  walk.maxBytes = kMaxReadBackBytes;
  walk.goOn = [&run, &failure]() {
    if (!run.ctx.StopRequested()) return true;
    failure = SdrError::kAlreadyReported;
    return false;
  };
  walk.read = [&](uint16_t recordId, ChainRecord* record) {
    return ReadRecord(run, repository, recordId, record, &failure);
  };
  walk.take = [&](const ChainRecord& read) {
    SdrRecord record;
    std::copy(read.bytes.begin(), read.bytes.end(), record.bytes);
    try {
      records->push_back(record);
    } catch (const std::bad_alloc&) {
      failure = SdrError::kInsufficientMemory;
      return false;
    }
    StepProgress(run, &state.readProgressAccumulator, kReadBackRatio, state.readRecordNumber);
    if (run.settings.ConsoleEcho) run.Print(Format(" ----- > #%d\r", state.readRecordNumber));
    ++state.readRecordNumber;
    return true;
  };
  const ChainWalkResult walked = WalkRecordChain(walk);
  switch (walked.end) {
    case ChainEnd::kComplete:
      return SdrError::kNone;
    case ChainEnd::kFailed:
      return failure;
    case ChainEnd::kLoops:
      run.Log(Format("Get SDR: record ID %04Xh comes again, the record chain loops", walked.recordId));
      return SdrError::kRecordReadError;
    case ChainEnd::kTooLarge:
      run.Log(
          Format("Get SDR: repository holds more than %d record bytes", static_cast<int>(kMaxReadBackBytes)));
      return SdrError::kRecordReadError;
  }
  return failure;
}

SdrError VerifyRecords(SdrRun& run, const SdrRecordList& readBack, const SdrRecordList& fromFile) {
  char line[160];
  int& count = run.programming.verifyCount;
  for (size_t i = 0;; ++i) {
    ++count;
    const SdrRecord* f = i < readBack.size() ? &readBack[i] : nullptr;
    const SdrRecord* e = i < fromFile.size() ? &fromFile[i] : nullptr;
    if (!f && !e) return SdrError::kNone;
    if (!f || !e) {
      std::snprintf(line, sizeof line, "Verify %d ++++++ record num unmatch fSensData=%llx eSensData =%llx",
                    count, RecordReference(f), RecordReference(e));
      run.Log(line);
      return SdrError::kAlreadyReported;
    }
    const int ilength = f->BodyLength();
    const int elength = e->BodyLength();
    if (ilength != elength) {
      std::snprintf(line, sizeof line, "Verify %d ++++++++ length error ++++++ ilength = %d elength =%d",
                    count, ilength, elength);
      run.Log(line);
      return SdrError::kInvalidRecordLength;
    }
    // A length byte beyond the record's bytes cannot be compared past them.
    const int last = std::min(ilength + kSdrHeaderBytes - 1, kMaxSdrRecordBytes - 1);
    for (int b = 2; b <= last; ++b) {
      if (f->bytes[b] != e->bytes[b]) {
        std::snprintf(line, sizeof line,
                      "Verify %d ++++++++ data error i=%d fSensData->Record[i]=%d eSensData->Record[i]=%d",
                      count, b, f->bytes[b], e->bytes[b]);
        run.Log(line);
        return SdrError::kAlreadyReported;
      }
    }
  }
}

}  // namespace veltrop
