#include "transport/wmi_request.h"

#include <cstring>

#include "transport/ipmi_message.h"

namespace transport {
namespace {

constexpr uint32_t kDataTrailerLead = 1;
constexpr uint32_t kDataTrailerEnd = 30;
constexpr size_t kMaxResponseLength = 255;

}  // namespace

bool BuildInParameters(const uint8_t* request, uint8_t length, const DriverWaits& waits,
                       WmiInParameters* out) {
  wire::ByteReader reader(request, length);
  uint8_t netFnByte = 0, command = 0;
  if (!reader.U8(&netFnByte) || !reader.U8(&command)) return false;
  const wire::Bytes data = reader.Rest();
  const size_t padded = (data.size() + 3) / 4 * 4;

  wire::ByteWriter array;
  array.Append(data);
  for (size_t i = data.size(); i < padded; ++i) array.U8(0);
  array.U32(kDataTrailerLead)
      .U32(static_cast<uint32_t>(waits.cWait))
      .U32(static_cast<uint32_t>(waits.iWait))
      .U32(static_cast<uint32_t>(waits.bWait))
      .U32(kDataTrailerEnd);

  out->networkFunction = static_cast<uint8_t>(netFnByte >> 2);
  out->lun = 0;
  out->responderAddress = 0x20;
  out->command = command;
  out->requestDataSize = static_cast<int32_t>(data.size());
  out->dataSize = static_cast<int32_t>(array.size());
  out->data = array.Take();
  return true;
}

bool BuildWmiResponse(const uint8_t* request, uint8_t requestLength, ResponseNetFn netFn,
                      uint8_t completionCode, const std::optional<wire::Bytes>& responseData,
                      uint8_t* response, size_t capacity, uint8_t* responseLength) {
  wire::ByteReader header(request, requestLength);
  uint8_t netFnByte = 0, command = 0;
  if (!responseData || !header.U8(&netFnByte) || !header.U8(&command)) return false;
  wire::ByteWriter built;
  built.U8(netFn == ResponseNetFn::kAnswering ? static_cast<uint8_t>(netFnByte + 4) : netFnByte).U8(command);
  wire::ByteReader elements(*responseData);
  // The completion code after the retry policy stands in for the driver's first element.
  if (elements.Skip(1)) built.U8(completionCode).Append(elements.Rest());
  if (built.size() > capacity || built.size() > kMaxResponseLength) return false;
  std::memcpy(response, built.bytes().data(), built.size());
  *responseLength = static_cast<uint8_t>(built.size());
  return true;
}

std::wstring IpmiInstancePath(const std::wstring& instanceName) {
  std::wstring joined;
  size_t start = 0;
  while (start <= instanceName.size()) {
    size_t end = instanceName.find(L'\\', start);
    if (end == std::wstring::npos) end = instanceName.size();
    if (end > start) {
      if (!joined.empty()) joined += L"\\\\";
      joined.append(instanceName, start, end - start);
    }
    start = end + 1;
  }
  return L"\\\\.\\root\\WMI:Microsoft_IPMI.InstanceName=\"" + joined + L"\"";
}

}  // namespace transport
