#include "sdrtool/repository_commands.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "sdrtool/cproto.h"
#include "sdrtool/veltrop_run.h"
#include "transport/ipmi_message.h"

namespace veltrop {
namespace {

// Response byte 0 of the network functions these commands use (request byte 0 + 4).
constexpr uint8_t kAppResponse = 0x1C;
constexpr uint8_t kStorageResponse = 0x2C;
constexpr uint8_t kOemResponse = 0xFC;

constexpr uint8_t kCompletionReservationLost = 0xC5;

// Every response buffer of the stand-alone commands takes what the transport may return.
using ResponseBuffer = uint8_t[transport::kDriverResponseCapacity];

void SetCheckFailure(VeltropRun& run, uint8_t kind, int value) {
  run.CommandCheckKind = kind;
  run.CommandCheckValue = static_cast<uint8_t>(value & 0xFF);
}

// Sends one request and applies the common response check: network function byte,
// completion code, then one of the accepted lengths (second one 0 when there is only one).
bool SendChecked(CProto& proto, const uint8_t* request, int requestLength, uint8_t expectedNetFn, int length1,
                 int length2, ResponseBuffer response, int* length) {
  VeltropRun& run = proto.run();
  std::memset(response, 0, sizeof(ResponseBuffer));
  *length = 0;
  if (proto.SendCommand(request, requestLength, response, sizeof(ResponseBuffer), length) != 0) return false;
  if (response[0] != expectedNetFn) {
    SetCheckFailure(run, kCheckNetFn, response[0]);
    return false;
  }
  if (response[2] != 0) {
    SetCheckFailure(run, kCheckCompletion, response[2]);
    return false;
  }
  if (*length != length1 && (length2 == 0 || *length != length2)) {
    SetCheckFailure(run, kCheckLength, *length);
    return false;
  }
  return true;
}

// Holds one of the run's command flags set for the lifetime of an operation.
class FlagScope {
 public:
  explicit FlagScope(uint8_t& flag) : flag_(flag) { flag_ = 1; }
  ~FlagScope() { flag_ = 0; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  uint8_t& flag_;
};

}  // namespace

bool GetDeviceId(CProto& proto, uint8_t out[16], int* count) {
  const uint8_t request[2] = {transport::kNetFnApp, 0x01};
  ResponseBuffer response;
  int length = 0;
  if (!SendChecked(proto, request, 2, kAppResponse, 14, 18, response, &length)) return false;
  // From the completion code on: code, 11 data bytes and, in the long form, the auxiliary
  // firmware revision.
  *count = length - 2;
  std::memcpy(out, response + 2, static_cast<size_t>(*count));
  return true;
}

bool GetSdrRepositoryInfo(CProto& proto, uint8_t out[15]) {
  const uint8_t request[2] = {transport::kNetFnStorage, 0x20};
  ResponseBuffer response;
  int length = 0;
  if (!SendChecked(proto, request, 2, kStorageResponse, 17, 0, response, &length)) return false;
  std::memcpy(out, response + 2, 15);
  return true;
}

bool ReserveSdrRepository(CProto& proto, uint16_t* reservation) {
  const uint8_t request[2] = {transport::kNetFnStorage, 0x22};
  ResponseBuffer response;
  int length = 0;
  if (!SendChecked(proto, request, 2, kStorageResponse, 5, 0, response, &length)) return false;
  *reservation = static_cast<uint16_t>(response[3] | response[4] << 8);
  return true;
}

bool GetOemE0Info(CProto& proto, uint8_t out[3]) {
  // Not every BMC knows this query; its refusal is no error worth a message.
  FlagScope quiet(proto.run().QuietCompletion);
  const uint8_t request[2] = {transport::kNetFnOem, 0xE0};
  ResponseBuffer response;
  int length = 0;
  if (!SendChecked(proto, request, 2, kOemResponse, 6, 0, response, &length)) return false;
  std::memcpy(out, response + 3, 3);
  return true;
}

bool GetSdrRecord(CProto& proto, uint16_t* recordId, uint8_t* record, size_t capacity, int* totalLength) {
  VeltropRun& run = proto.run();
  // The version query must not disturb an update that may hold reservations of its own, so
  // it never re-reserves.
  int attempts = run.settings.mode == ModeVersion ? kReservationRetryLimit : 0;
  uint16_t reservation = 0;
  if (!ReserveSdrRepository(proto, &reservation)) return false;
  FlagScope lossExpected(run.ExpectReservationLoss);

  for (;;) {  // one pass per reservation, always from the record's start
    run.ExpectReservationLoss = 1;
    int offset = 0;
    int count = 5;
    int total = 0;
    bool reserveAgain = false;
    while (!reserveAgain) {
      const uint8_t request[8] = {transport::kNetFnStorage,
                                  0x23,
                                  static_cast<uint8_t>(reservation & 0xFF),
                                  static_cast<uint8_t>(reservation >> 8),
                                  static_cast<uint8_t>(*recordId & 0xFF),
                                  static_cast<uint8_t>(*recordId >> 8),
                                  static_cast<uint8_t>(offset),
                                  static_cast<uint8_t>(count)};
      ResponseBuffer response = {};
      int length = 0;
      const int sent = proto.SendCommand(request, 8, response, sizeof response, &length);
      if (sent != 0 && response[2] == 0) return false;  // the transport failed, already reported
      if (response[0] != kStorageResponse) {
        SetCheckFailure(run, kCheckNetFn, response[0]);
        return false;
      }
      if (response[2] != 0) {
        if (response[2] == kCompletionReservationLost && attempts < kReservationRetryLimit) {
          ++attempts;
          run.ExpectReservationLoss = 0;
          if (!ReserveSdrRepository(proto, &reservation)) return false;
          reserveAgain = true;
          continue;
        }
        SetCheckFailure(run, kCheckCompletion, response[2]);
        return false;
      }
      if (length != count + 5) {
        SetCheckFailure(run, kCheckLength, length);
        return false;
      }
      if (static_cast<size_t>(offset + count) > capacity) {
        SetCheckFailure(run, kCheckLength, offset + count);
        return false;
      }
      std::memcpy(record + offset, response + 5, static_cast<size_t>(count));
      if (offset == 0) {
        total = record[4] + 5;
        if (static_cast<size_t>(total) > capacity) {
          SetCheckFailure(run, kCheckLength, total);
          return false;
        }
      }
      offset += count;
      if (offset >= total) {
        *recordId = static_cast<uint16_t>(response[3] | response[4] << 8);
        *totalLength = total;
        return true;
      }
      count = total - offset < 16 ? total - offset : 16;
    }
  }
}

int ReportCommandError(CProto& proto, const char* commandName) {
  VeltropRun& run = proto.run();
  char value[8];
  std::snprintf(value, sizeof value, "%02X", run.CommandCheckValue);
  std::string detail = std::string("Command: ") + commandName;
  switch (run.CommandCheckKind) {
    case kCheckNetFn:
      detail += std::string(" illegal NetFn : ") + value + " h";
      break;
    case kCheckCompletion:
      detail += std::string(" illegal Completion Code : ") + value + " h";
      break;
    case kCheckLength:
      detail += std::string(" illegal Size : ") + value + " h";
      break;
    default:
      break;
  }
  return proto.Report(30, 0, detail.c_str());
}

}  // namespace veltrop
