#include "sdrtool/repository/repository_commands.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "sdrtool/repository/command_codes.h"
#include "sdrtool/repository/with_reservation.h"
#include "sdrtool/sdr_run.h"
#include "transport/ipmi_message.h"

namespace veltrop {
namespace {

constexpr int kFirstPartBytes = 5;
constexpr int kChunkBytes = 16;

bool Refuse(CommandCheck* check, CommandCheck::Kind kind, int value) {
  check->kind = kind;
  check->value = static_cast<uint8_t>(value & 0xFF);
  return false;
}

// Sends one request and applies the common answer check: network function byte, completion
// code, then one of the accepted lengths (the second one 0 when there is only one).
bool SendChecked(SdrRun& run, const wire::Bytes& request, uint8_t expectedNetFn, int length1, int length2,
                 CommandReply* reply, CommandCheck* check, SendOptions options = {}) {
  reply->capacity = transport::kDriverResponseCapacity;
  if (run.commands.Send(request, reply, options) != 0) return false;
  if (reply->NetFnByte() != expectedNetFn) return Refuse(check, CommandCheck::kNetFn, reply->NetFnByte());
  if (reply->CompletionCode() != 0) return Refuse(check, CommandCheck::kCompletion, reply->CompletionCode());
  if (reply->length != length1 && (length2 == 0 || reply->length != length2)) {
    return Refuse(check, CommandCheck::kLength, reply->length);
  }
  return true;
}

}  // namespace

bool GetDeviceId(SdrRun& run, uint8_t out[16], int* count, CommandCheck* check) {
  CommandReply reply;
  if (!SendChecked(run, Request(kAppRequest, kCmdGetDeviceId).bytes(), kAppAnswer, 14, 18, &reply, check)) {
    return false;
  }
  // From the completion code on: code, 11 data bytes and, in the long form, the auxiliary
  // firmware revision.
  *count = reply.length - 2;
  return reply.From(2).Copy(static_cast<size_t>(*count), out);
}

bool GetSdrRepositoryInfo(SdrRun& run, uint8_t out[15], CommandCheck* check) {
  CommandReply reply;
  if (!SendChecked(run, Request(kStorageRequest, kCmdGetSdrRepositoryInfo).bytes(), kStorageAnswer, 17, 0,
                   &reply, check)) {
    return false;
  }
  return reply.From(2).Copy(15, out);
}

bool ReserveSdrRepository(SdrRun& run, uint16_t* reservation, CommandCheck* check) {
  CommandReply reply;
  if (!SendChecked(run, Request(kStorageRequest, kCmdReserveSdrRepository).bytes(), kStorageAnswer, 5, 0,
                   &reply, check)) {
    return false;
  }
  return reply.Data().U16(reservation);
}

bool GetOemE0Info(SdrRun& run, uint8_t out[3], CommandCheck* check) {
  CommandReply reply;
  SendOptions quiet;
  quiet.quietCompletion = true;
  if (!SendChecked(run, Request(kOemRequest, kCmdOemE0Info).bytes(), kOemAnswer, 6, 0, &reply, check,
                   quiet)) {
    return false;
  }
  return reply.Data().Copy(3, out);
}

bool GetSdrRecord(SdrRun& run, uint16_t* recordId, uint8_t* record, size_t capacity, int* totalLength,
                  CommandCheck* check) {
  // The version query must not disturb an update that may hold reservations of its own.
  const int maxPasses = run.settings.mode == ModeVersion ? 1 : kReservationRetryLimit + 1;
  uint16_t reservation = 0;
  if (!ReserveSdrRepository(run, &reservation, check)) return false;
  SendOptions lossExpected;
  lossExpected.reservationLossExpected = true;

  int passes = 0;
  // One pass per reservation, always from the record's start.
  auto pass = [&]() -> ReservedPass {
    if (passes++ > 0 && !ReserveSdrRepository(run, &reservation, check)) return ReservedPass::kFailed;
    int offset = 0;
    int count = kFirstPartBytes;
    int total = 0;
    for (;;) {
      wire::ByteWriter request = Request(kStorageRequest, kCmdGetSdr);
      request.U16(reservation)
          .U16(*recordId)
          .U8(static_cast<uint8_t>(offset))
          .U8(static_cast<uint8_t>(count));
      CommandReply reply;
      reply.capacity = transport::kDriverResponseCapacity;
      const int sent = run.commands.Send(request.bytes(), &reply, lossExpected);
      if (sent != 0 && reply.CompletionCode() == 0) return ReservedPass::kFailed;  // already reported
      if (reply.NetFnByte() != kStorageAnswer) {
        Refuse(check, CommandCheck::kNetFn, reply.NetFnByte());
        return ReservedPass::kFailed;
      }
      if (reply.CompletionCode() != 0) {
        Refuse(check, CommandCheck::kCompletion, reply.CompletionCode());
        return reply.CompletionCode() == kCompletionReservationLost ? ReservedPass::kReservationLost
                                                                    : ReservedPass::kFailed;
      }
      if (reply.length != count + 5) {
        Refuse(check, CommandCheck::kLength, reply.length);
        return ReservedPass::kFailed;
      }
      if (static_cast<size_t>(offset + count) > capacity) {
        Refuse(check, CommandCheck::kLength, offset + count);
        return ReservedPass::kFailed;
      }
      uint16_t nextId = 0;
      wire::ByteReader data = reply.Data();
      data.U16(&nextId);
      data.Copy(static_cast<size_t>(count), record + offset);
      if (offset == 0) {
        total = record[4] + kFirstPartBytes;
        if (static_cast<size_t>(total) > capacity) {
          Refuse(check, CommandCheck::kLength, total);
          return ReservedPass::kFailed;
        }
      }
      offset += count;
      if (offset >= total) {
        *recordId = nextId;
        *totalLength = total;
        return ReservedPass::kDone;
      }
      count = total - offset < kChunkBytes ? total - offset : kChunkBytes;
    }
  };
  return WithReservation(maxPasses, pass) == ReservedOutcome::kDone;
}

int ReportCommandError(SdrRun& run, const char* commandName, const CommandCheck& check) {
  char value[8];
  std::snprintf(value, sizeof value, "%02X", check.value);
  std::string detail = std::string("Command: ") + commandName;
  switch (check.kind) {
    case CommandCheck::kNetFn:
      detail += std::string(" illegal NetFn : ") + value + " h";
      break;
    case CommandCheck::kCompletion:
      detail += std::string(" illegal Completion Code : ") + value + " h";
      break;
    case CommandCheck::kLength:
      detail += std::string(" illegal Size : ") + value + " h";
      break;
    default:
      break;
  }
  return run.errors.Report(30, 0, detail.c_str());
}

}  // namespace veltrop
