#pragma once
#include <cstdint>
#include <string>

namespace status {

// The console report of a failed COM call: "Error", the code, its meaning (the system's
// message without its line end, else "IDispatch error #n" for codes 0x80040200..0x8004FFFF,
// else "Unknown error 0x..."), then the error object's source and description.
std::string ComErrorReport(uint32_t code, std::string systemMessage, const std::string& source,
                           const std::string& description);

}  // namespace status
