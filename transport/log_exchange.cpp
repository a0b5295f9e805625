#include "transport/log_exchange.h"

#include <cstdio>

namespace transport {

std::string HexBytes(const uint8_t* bytes, unsigned count) {
  std::string text;
  text.reserve(count * 3);
  char buf[4];
  for (unsigned i = 0; i < count; ++i) {
    std::snprintf(buf, sizeof buf, "%2.2X ", bytes[i]);
    text += buf;
  }
  return text;
}

void LogExchange(const LogSink& sink, ExchangeLogStyle style, const uint8_t* request, const uint8_t* response,
                 uint8_t requestLength, uint8_t responseLength) {
  const bool fw = style == ExchangeLogStyle::kFirmwareTool;
  sink(std::string(fw ? "  request  = " : "request  = ") + HexBytes(request, requestLength));
  sink(std::string(fw ? "  response = " : "response = ") + HexBytes(response, responseLength));
}

}  // namespace transport
