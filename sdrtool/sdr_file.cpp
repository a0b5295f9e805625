#include "sdrtool/sdr_file.h"

#include "sdrtool/veltrop_run.h"

namespace veltrop {

ReservationLossExpected::ReservationLossExpected(VeltropRun& run) : run_(run) {
  run_.ExpectReservationLoss = 1;
}
ReservationLossExpected::~ReservationLossExpected() {
  run_.ExpectReservationLoss = 0;
}

// The request and response buffers start zeroed by their initialisers.
SDRFile::SDRFile(VeltropRun& run) : CProto(run) {}

// The file context closes its file and the lists free their nodes themselves.
SDRFile::~SDRFile() = default;

int SDRFile::Reserve(bool spared, uint16_t* reservation) {
  request_[0] = spared ? 0xF8 : 0x28;
  request_[1] = spared ? 0x11 : 0x22;
  int length = 0;
  int result = SendCommand(request_, 2, response_, sizeof response_, &length);
  if (result != 0) return result;
  // Without this check the ID would come from whatever the buffer held before.
  if (length < 5) {
    Report(5);
    return kAlreadyReported;
  }
  *reservation = static_cast<uint16_t>(response_[3] | response_[4] << 8);
  return 0;
}

bool SDRFile::ReservationLost(int result, int responseLength) const {
  // 28 and 29 are transport failures: byte 2 then holds nothing the BMC said.
  const bool completionCode = result == kAlreadyReported || result == 26;
  return completionCode && responseLength >= 3 && response_[2] == 0xC5;
}

void SDRFile::WriteMessage(const std::string& text) {
  VeltropRun& run = run_;
  run.LogLine(text);
  if (!run.TranscriptFile) return;
  if (std::fputs(text.c_str(), run.TranscriptFile) < 0) Report(73);
}

}  // namespace veltrop
