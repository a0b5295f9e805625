#pragma once
#include <cstdint>
#include <string>

#include "wire/byte_io.h"

namespace bmcsim {

enum class FaultEffect : uint8_t {
  kCompletionCode,  // answer this code without data; the request is not carried out
  kStatus,          // transport failure 9 (request never arrives) or 10 (answer lost)
  kLength,          // response cut to, or padded with zeros to, this many bytes
  kDelay,           // extra milliseconds before the answer
  kPatch,           // response bytes overwritten from an offset
  kCancel,          // another party reserves just before the request is handled
  kFlip,            // data byte N (1 = the first after the completion code) XORed with a mask
  kWmiFail,         // the Microsoft driver's method call fails; other paths never match the rule
};

// One fault injection rule, e.g. "netfn=0x0a cmd=0x23 match=0000 skip=2 count=1 cc=0xc5".
struct FaultRule {
  uint8_t netFn = 0;  // network function, 0x00..0x3F
  uint8_t command = 0;
  wire::Bytes match;   // prefix of the request data
  uint32_t skip = 0;   // matching exchanges still to let pass
  uint32_t count = 1;  // hits left (ignored when always)
  bool always = false;
  FaultEffect effect = FaultEffect::kCompletionCode;
  uint32_t value = 0;  // code, status, length, delay, patch offset or flipped data byte
  wire::Bytes patch;   // patch bytes; for a flip, its mask (none: FFh)
};

// Parses the space-separated key=value form; on failure *error says which part is wrong.
bool ParseFaultRule(const std::string& text, FaultRule* rule, std::string* error);
// The canonical form, with the skip and count still left; parses back to the same rule.
std::string FormatFaultRule(const FaultRule& rule);

}  // namespace bmcsim
