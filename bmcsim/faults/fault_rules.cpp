#include "bmcsim/faults/fault_rules.h"

#include <map>
#include <sstream>

#include "bmcsim/faults/value_text.h"
#include "wire/hex_text.h"

namespace bmcsim {
namespace {

constexpr uint64_t kMaxDelayMs = 3600000;
constexpr size_t kMaxResponse = 255;
constexpr size_t kMaxDataByte = kMaxResponse - 3;  // after network function, command and code

bool Fail(std::string* error, std::string text) {
  *error = std::move(text);
  return false;
}

// netfn= takes the network function (0x06, 0x0A, 0x3E) or, as a convenience, request byte 0
// (0x18, 0x28, 0xF8). The two cannot be confused: network functions 0x0E..0x2B are reserved
// and none is above 0x3F.
bool NetFnFromValue(uint64_t value, uint8_t* netFn) {
  if (value <= 0x0D || (value >= 0x2C && value <= 0x3F)) {
    *netFn = static_cast<uint8_t>(value);
    return true;
  }
  if (value <= 0xFF && value % 4 == 0) {
    *netFn = static_cast<uint8_t>(value >> 2);
    return true;
  }
  return false;
}

bool ParseEffect(const std::string& key, const std::string& value, FaultRule* rule, std::string* error) {
  uint64_t n = 0;
  if (key == "cc") {
    if (!ParseNumber(value, 0xFF, &n)) return Fail(error, "cc= needs a completion code 0..0xff");
    rule->effect = FaultEffect::kCompletionCode;
  } else if (key == "status") {
    if (!ParseNumber(value, 0xFF, &n) || (n != 9 && n != 10)) return Fail(error, "status= must be 9 or 10");
    rule->effect = FaultEffect::kStatus;
  } else if (key == "length") {
    if (!ParseNumber(value, kMaxResponse, &n)) return Fail(error, "length= needs 0..255");
    rule->effect = FaultEffect::kLength;
  } else if (key == "delay") {
    if (!ParseNumber(value, kMaxDelayMs, &n)) return Fail(error, "delay= needs milliseconds up to 3600000");
    rule->effect = FaultEffect::kDelay;
  } else if (key == "flip") {
    // flip=K XORs FFh into data byte K; flip=K:MM XORs MM, a single bit for instance.
    const size_t colon = value.find(':');
    if (!ParseNumber(value.substr(0, colon), kMaxDataByte, &n) || n == 0 ||
        (colon != std::string::npos && (!wire::ParseHexBytes(value.substr(colon + 1), &rule->patch) ||
                                        rule->patch.size() != 1 || rule->patch[0] == 0)))
      return Fail(error, "flip= needs a data byte 1..252, optionally :MASK (one hex byte, not 00)");
    rule->effect = FaultEffect::kFlip;
  } else if (key == "wmi") {
    if (value != "fail") return Fail(error, "wmi= takes only 'fail'");
    rule->effect = FaultEffect::kWmiFail;
  } else if (key == "patch") {
    size_t colon = value.find(':');
    if (colon == std::string::npos || !ParseNumber(value.substr(0, colon), kMaxResponse - 1, &n) ||
        !wire::ParseHexBytes(value.substr(colon + 1), &rule->patch) || rule->patch.empty() ||
        n + rule->patch.size() > kMaxResponse) {
      return Fail(error, "patch= needs OFFSET:HEX within the 255 response bytes");
    }
    rule->effect = FaultEffect::kPatch;
  } else {
    return Fail(error, "unknown key '" + key + "'");
  }
  rule->value = static_cast<uint32_t>(n);
  return true;
}

}  // namespace

bool ParseFaultRule(const std::string& text, FaultRule* rule, std::string* error) {
  FaultRule r;
  std::map<std::string, std::string> seen;
  int effects = 0;
  std::istringstream in(text);
  std::string token;
  while (in >> token) {
    size_t eq = token.find('=');
    std::string key = token.substr(0, eq);
    std::string value = eq == std::string::npos ? std::string() : token.substr(eq + 1);
    if (!seen.emplace(key, value).second) return Fail(error, "'" + key + "' given twice");
    if (key == "cancel") {
      if (eq != std::string::npos) return Fail(error, "cancel takes no value");
      r.effect = FaultEffect::kCancel;
      ++effects;
      continue;
    }
    if (eq == std::string::npos) return Fail(error, "'" + token + "' is not key=value");
    uint64_t n = 0;
    if (key == "netfn") {
      if (!ParseNumber(value, 0xFF, &n) || !NetFnFromValue(n, &r.netFn)) {
        return Fail(error, "netfn= needs a network function such as 0x0a or 0x3e");
      }
    } else if (key == "cmd") {
      if (!ParseNumber(value, 0xFF, &n)) return Fail(error, "cmd= needs a command 0..0xff");
      r.command = static_cast<uint8_t>(n);
    } else if (key == "match") {
      if (!wire::ParseHexBytes(value, &r.match) || r.match.empty()) {
        return Fail(error, "match= needs hex bytes");
      }
    } else if (key == "skip") {
      if (!ParseNumber(value, UINT32_MAX, &n)) return Fail(error, "skip= needs a count");
      r.skip = static_cast<uint32_t>(n);
    } else if (key == "count") {
      if (value == "always") {
        r.always = true;
      } else if (!ParseNumber(value, UINT32_MAX, &n)) {
        // count=0 is a spent rule, as the state and `show` list it.
        return Fail(error, "count= needs a count or 'always'");
      } else {
        r.count = static_cast<uint32_t>(n);
      }
    } else {
      if (!ParseEffect(key, value, &r, error)) return false;
      ++effects;
    }
  }
  if (!seen.count("netfn") || !seen.count("cmd")) return Fail(error, "a rule needs netfn= and cmd=");
  if (effects != 1) {
    return Fail(
        error,
        "a rule needs exactly one effect: cc=, status=, length=, delay=, patch=, flip=, wmi= or cancel");
  }
  *rule = std::move(r);
  return true;
}

std::string FormatFaultRule(const FaultRule& rule) {
  std::string text = "netfn=" + HexByte(rule.netFn) + " cmd=" + HexByte(rule.command);
  if (!rule.match.empty()) text += " match=" + wire::HexCompact(rule.match);
  if (rule.skip) text += " skip=" + std::to_string(rule.skip);
  text += " count=" + (rule.always ? std::string("always") : std::to_string(rule.count));
  switch (rule.effect) {
    case FaultEffect::kCompletionCode:
      return text + " cc=" + HexByte(static_cast<uint8_t>(rule.value));
    case FaultEffect::kStatus:
      return text + " status=" + std::to_string(rule.value);
    case FaultEffect::kLength:
      return text + " length=" + std::to_string(rule.value);
    case FaultEffect::kDelay:
      return text + " delay=" + std::to_string(rule.value);
    case FaultEffect::kPatch:
      return text + " patch=" + std::to_string(rule.value) + ":" + wire::HexCompact(rule.patch);
    case FaultEffect::kCancel:
      return text + " cancel";
    case FaultEffect::kFlip:
      return text + " flip=" + std::to_string(rule.value) +
             (rule.patch.empty() ? "" : ":" + wire::HexCompact(rule.patch));
    case FaultEffect::kWmiFail:
      return text + " wmi=fail";
  }
  return text;
}

}  // namespace bmcsim
