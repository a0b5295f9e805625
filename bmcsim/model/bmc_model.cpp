#include "bmcsim/model/bmc_model.h"

#include "bmcsim/model/command_families.h"

namespace bmcsim {

BmcModel::BmcModel() {
  RegisterDeviceCommands(table_);
  RegisterSdrCommands(table_);
  RegisterSparedSdrCommands(table_);
  RegisterChannelCommands(table_);
  RegisterFirmwareCommands(table_);
}

wire::Bytes BmcModel::Handle(BmcState& state, const uint8_t* request, size_t length, platform::Clock& clock,
                             std::vector<FlashChange>* flashChanges) const {
  CommandHandler handler = table_.Find(static_cast<uint8_t>(request[0] >> 2), request[1]);
  if (!handler) return ResponseFrame(request, kCcInvalidCommand);
  wire::ByteReader data(request + 2, length - 2);
  std::vector<FlashChange> unused;
  CommandContext context{state, clock, flashChanges ? *flashChanges : unused};
  Reply reply = handler(context, data);
  return ResponseFrame(request, reply.completionCode, reply.data);
}

wire::Bytes ResponseFrame(const uint8_t* request, uint8_t completionCode, const wire::Bytes& data) {
  wire::Bytes frame;
  frame.reserve(3 + data.size());
  frame.push_back(static_cast<uint8_t>(request[0] + 4));
  frame.push_back(request[1]);
  frame.push_back(completionCode);
  frame.insert(frame.end(), data.begin(), data.end());
  return frame;
}

}  // namespace bmcsim
