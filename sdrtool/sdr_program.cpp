#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "sdrtool/bmc_status.h"
#include "sdrtool/repository_commands.h"
#include "sdrtool/repository_image.h"
#include "sdrtool/sdr_file.h"
#include "sdrtool/veltrop_run.h"

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

unsigned long long NodeReference(const SensData* node) {
  return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(node));
}

}  // namespace

int SDRFile::ProgramSdrFile(const std::string& fileName, const SetNameList* names) {
  VeltropRun& run = run_;
  file_.Reset();
  UpdateLockHeld = 0;

  int result = 0;
  if (run.settings.input != InputBin) {
    if (OpenFile(fileName, &file_, "r") != 0) return Report(68);
  }
  result = run.settings.input == InputBin ? BuildListFromImage(*this) : Parse(names);

  if (result == 0 && CompareSDRVersion(*this) != 0) result = kAlreadyReported;
  const bool programs = run.settings.mode == ModeUpdate || run.settings.mode == ModeForce;
  bool reported = false;
  if (result == 0 && programs) {
    if (run.CompareOnly) {
      run.ProgrammedFlag = false;
    } else {
      result = SetSparedSdrLock(kLockTake);
      if (result != 0) {
        // Nothing was changed yet and the lock is not held: nothing to release.
        file_.Close();
        FileList.reset();
        return result;
      }
      UpdateLockHeld = 1;
      if (WriteRepository() != 0) {
        result = Report(33);
        reported = true;
      } else {
        run.ProgrammedFlag = true;
      }
    }
    if (!reported) {
      WriteMessage("Reading SDR Repository.");
      result = ReadRepository(&ReadList, 0);
      if (result != 0) Report(result);
      if (run.settings.ConsoleEcho) run.Print("\n");
      run.status.ProgressRatio = kReadBackRatio;
      run.status.PublishProgress();
      if (result == 0) result = VerifyRecords(ReadList.get(), FileList.get());
      if (run.CompareOnly) {
        if (result != 0) {
          result = 32;
        } else {
          WriteMessage("SDR data was successfully compared!");
        }
      } else if (result != 0) {
        result = 33;
      } else {
        WriteMessage("SDR data was successfully written!");
      }
    }
  }

  // A failed file is closed too: nothing else would release it before the next one opens.
  file_.Close();
  ReadList.reset();
  FileList.reset();
  if (result != 0 && !reported) result = Report(result);

  if (UpdateLockHeld) {
    const int release = SetSparedSdrLock(result == 0 ? kLockReleaseSucceeded : kLockReleaseFailed);
    if (result == 0) result = release;
    UpdateLockHeld = 0;
  }
  return result;
}

void SDRFile::RaiseProgress(int value) {
  status::StatusFiles& status = run_.status;
  if (status.ProgressRatio < value) {
    status.ProgressRatio = value;
    status.PublishProgress();
  }
}

void SDRFile::StepProgress(double* accumulator, int ceiling, int recordNumber) {
  VeltropRun& run = run_;
  status::StatusFiles& status = run.status;
  if (status.ProgressRatio >= ceiling) return;
  *accumulator += kPhasePoints / run.FileRecordCount;
  const int ratio = static_cast<int>(*accumulator);
  status.ProgressRatio = ratio < ceiling ? ratio : ceiling;
  if (recordNumber % 10 == 0 && status.ProgressRatio < ceiling) status.PublishProgress();
}

int SDRFile::WriteRepository() {
  VeltropRun& run = run_;
  RaiseProgress(kWriteStartRatio);
  WriteMessage("Clearing SDR Repository...");
  const int erased = ClearSparedSdr();
  RaiseProgress(kErasedRatio);
  double accumulator = run.status.ProgressRatio;

  int result = 0;
  if (erased != 0) {
    result = Report(25);
  } else {
    run.LogLine("Writing SDR Record ");
    int number = 1;
    for (const SensData* node = FileList.get(); node && result == 0; node = node->Next.get()) {
      DumpRecord(node->Record, Format("Writing SDR Record #%d", number).c_str());
      if (PartialAddSparedSdr(node->Record) != 0) {
        result = kAlreadyReported;
      } else {
        if (run.settings.ConsoleEcho) run.Print(Format(" ----- > #%d\r", number));
        ++number;
      }
      StepProgress(&accumulator, kWrittenRatio, number);
    }
  }
  RaiseProgress(kWrittenRatio);
  if (run.settings.ConsoleEcho) run.Print("\n");
  return result;
}

int SDRFile::ReadRepository(std::unique_ptr<SensData>* slot, uint16_t recordId) {
  VeltropRun& run = run_;
  if (!run.readProgressStarted) {
    run.readProgressStarted = true;
    run.readProgressAccumulator = run.status.ProgressRatio;
  }
  // A chain that comes back to a record it has passed, or one longer than any repository
  // can be, would otherwise be read forever.
  std::vector<bool> seen(0x10000, false);
  size_t totalBytes = 0;
  while (recordId != 0xFFFF && run.RepositoryReadState != 6) {
    if (seen[recordId]) {
      run.LogLine(Format("Get SDR: record ID %04Xh comes again, the record chain loops", recordId));
      return 4;
    }
    seen[recordId] = true;
    std::unique_ptr<SensData> node;
    uint16_t next = 0xFFFF;
    const int result = ReadRecord(recordId, &node, &next);
    if (result != 0) return result;
    if (!node) return 0;  // the repository holds no record
    totalBytes += static_cast<size_t>(node->Record[4]) + kSdrHeaderBytes;
    if (totalBytes > kMaxReadBackBytes) {
      run.LogLine(
          Format("Get SDR: repository holds more than %d record bytes", static_cast<int>(kMaxReadBackBytes)));
      return 4;
    }
    *slot = std::move(node);

    StepProgress(&run.readProgressAccumulator, kReadBackRatio, run.ReadRecordNumber);
    if (run.settings.ConsoleEcho) run.Print(Format(" ----- > #%d\r", run.ReadRecordNumber));
    ++run.ReadRecordNumber;
    slot = &(*slot)->Next;
    recordId = next;
  }
  return 0;
}

int SDRFile::ReadRecord(uint16_t recordId, std::unique_ptr<SensData>* node, uint16_t* nextId) {
  VeltropRun& run = run_;
  ReservationLossExpected expectLoss(run);
  const bool spared = UpdateLockHeld != 0;
  const int firstCount = run.Ipmi15Format ? 5 : 16;
  int attempts = 0;
  for (;;) {
    std::memset(request_, 0, sizeof request_);
    std::memset(response_, 0, sizeof response_);
    uint16_t reservation = 0;
    if (Reserve(spared, &reservation) != 0) return 29;

    request_[0] = spared ? 0xF8 : 0x28;
    request_[1] = spared ? 0x12 : 0x23;
    request_[2] = static_cast<uint8_t>(reservation & 0xFF);
    request_[3] = static_cast<uint8_t>(reservation >> 8);
    request_[4] = static_cast<uint8_t>(recordId & 0xFF);
    request_[5] = static_cast<uint8_t>(recordId >> 8);
    request_[6] = 0;
    request_[7] = static_cast<uint8_t>(firstCount);
    int length = 0;
    int result = SendCommand(request_, 8, response_, sizeof response_, &length);
    bool lost = false;
    if (result != 0) {
      lost = ReservationLost(result, length);
      if (!lost) {
        if (run.RepositoryReadState != 1) return 29;
        WriteMessage("No Sensor Data Records found on the server ");
        run.RepositoryReadState = 6;
        return 0;
      }
    } else {
      run.RepositoryReadState = 0;
      if (length != firstCount + 5) return 5;
      *nextId = static_cast<uint16_t>(response_[3] | response_[4] << 8);
      const int total = response_[9] + kSdrHeaderBytes;
      if (total > kMaxSdrRecordBytes) return 58;
      std::unique_ptr<SensData> read(new (std::nothrow) SensData);
      if (!read) return 2;
      std::memcpy(read->Record, response_ + 5, static_cast<size_t>(firstCount));
      for (int offset = firstCount; offset < total; offset += kMaxChunk) {
        const int count = offset + kMaxChunk < total ? kMaxChunk : total - offset;
        request_[6] = static_cast<uint8_t>(offset);
        request_[7] = static_cast<uint8_t>(count);
        result = SendCommand(request_, 8, response_, sizeof response_, &length);
        if (result != 0) {
          if (!ReservationLost(result, length)) return 29;
          lost = true;
          break;
        }
        if (length != count + 5) return 4;
        std::memcpy(read->Record + offset, response_ + 5, static_cast<size_t>(count));
      }
      if (!lost) {
        *node = std::move(read);
        return 0;
      }
    }
    // The reservation was lost: the record starts over with a new one.
    if (++attempts < kReservationRetryLimit) continue;
    if (run.RepositoryReadState == 1) {
      WriteMessage("No Sensor Data Records found on the server ");
      run.RepositoryReadState = 6;
      return 0;
    }
    Report(27, 0, "Get SDR");
    return kAlreadyReported;
  }
}

int SDRFile::VerifyRecords(const SensData* f, const SensData* e) {
  VeltropRun& run = run_;
  char line[160];
  for (;; f = f->Next.get(), e = e->Next.get()) {
    ++run.VerifyCount;
    if (!f && !e) return 0;
    if (!f || !e) {
      std::snprintf(line, sizeof line, "Verify %d ++++++ record num unmatch fSensData=%llx eSensData =%llx",
                    run.VerifyCount, NodeReference(f), NodeReference(e));
      run.LogLine(line);
      return kAlreadyReported;
    }
    const int ilength = f->Record[4];
    const int elength = e->Record[4];
    if (ilength != elength) {
      std::snprintf(line, sizeof line, "Verify %d ++++++++ length error ++++++ ilength = %d elength =%d",
                    run.VerifyCount, ilength, elength);
      run.LogLine(line);
      return 58;
    }
    // A length byte beyond the node's bytes cannot be compared past them.
    const int last = std::min(ilength + kSdrHeaderBytes - 1, kMaxSdrRecordBytes - 1);
    for (int i = 2; i <= last; ++i) {
      if (f->Record[i] != e->Record[i]) {
        std::snprintf(line, sizeof line,
                      "Verify %d ++++++++ data error i=%d fSensData->Record[i]=%d eSensData->Record[i]=%d",
                      run.VerifyCount, i, f->Record[i], e->Record[i]);
        run.LogLine(line);
        return kAlreadyReported;
      }
    }
  }
}

}  // namespace veltrop
