#include "transport/log_exchange.h"

#include "wire/hex_text.h"

namespace transport {

void LogExchange(const LogSink& sink, const std::string& linePrefix, const uint8_t* request,
                 uint8_t requestLength, const uint8_t* response, uint8_t responseLength) {
  sink(linePrefix + "request  = " + wire::HexDump(request, requestLength));
  sink(linePrefix + "response = " + wire::HexDump(response, responseLength));
}

}  // namespace transport
