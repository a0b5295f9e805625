#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace transport {

using LogSink = std::function<void(const std::string&)>;

// Writes a request and its response as two hex lines ("request  = ", "response = ", each
// byte as "%2.2X ") through the program's log sink, each line after the program's prefix.
void LogExchange(const LogSink& sink, const std::string& linePrefix, const uint8_t* request,
                 uint8_t requestLength, const uint8_t* response, uint8_t responseLength);

}  // namespace transport
