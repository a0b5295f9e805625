#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace transport {

using LogSink = std::function<void(const std::string&)>;

// The two programs write the dump with different prefixes.
enum class ExchangeLogStyle {
  kSdrTool,       // "request  = ", "response = "
  kFirmwareTool,  // "  request  = ", "  response = "
};

// Hex bytes as "%2.2X " each.
std::string HexBytes(const uint8_t* bytes, unsigned count);

// Writes a request and its response as two hex lines through the program's log sink.
void LogExchange(const LogSink& sink, ExchangeLogStyle style, const uint8_t* request, const uint8_t* response,
                 uint8_t requestLength, uint8_t responseLength);

}  // namespace transport
