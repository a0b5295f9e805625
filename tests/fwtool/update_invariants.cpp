#include "tests/fwtool/update_invariants.h"

#include <algorithm>
#include <cstdio>
#include <regex>

#include "wire/hex_text.h"

namespace korvane {
namespace {

std::string Hex(uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02Xh", value);
  return text;
}

// Bytes of `kept` that `now` (which may go on beyond it) no longer holds.
size_t Differing(const std::vector<uint8_t>& kept, const std::vector<uint8_t>& now) {
  if (now.size() >= kept.size() && std::equal(kept.begin(), kept.end(), now.begin())) return 0;
  size_t n = 0;
  for (size_t i = 0; i < kept.size(); ++i) n += i >= now.size() || kept[i] != now[i];
  return n;
}

// Where the written part of the image lies in the bank instead, if anywhere.
std::string WhereTheImageIs(const std::vector<uint8_t>& bank, const std::vector<uint8_t>& image,
                            uint32_t from) {
  if (image.size() < from + 16) return "";
  const auto found = std::search(bank.begin(), bank.end(), image.begin() + from, image.begin() + from + 16);
  if (found == bank.end()) return " (nor anywhere in it)";
  const long off = static_cast<long>(found - bank.begin()) - static_cast<long>(from);
  char text[64];
  std::snprintf(text, sizeof text, " (it lies %s0x%lx bytes off)", off < 0 ? "-" : "", off < 0 ? -off : off);
  return text;
}

}  // namespace

UpdateInvariants::UpdateInvariants(const KorvaneFixture& fixture, UpdateTarget target)
    : f_(fixture), target_(std::move(target)) {
  before_ = f_.bmc.FirmwareView(KeptLength(1), KeptLength(2));
}

size_t UpdateInvariants::KeptLength(uint8_t bank) const {
  if (bank > f_.bankCount) return 0;
  return Programmed(bank) ? target_.bootBlock : f_.bankSize;
}

bool UpdateInvariants::Programmed(uint8_t bank) const {
  return std::count(target_.banks.begin(), target_.banks.end(), bank) > 0;
}

std::vector<UpdateInvariants::FlashRequest> UpdateInvariants::FlashRequests(const testsupport::SimBmc& bmc) {
  std::vector<FlashRequest> requests;
  for (const std::string& line : bmc.LogLines()) {
    const bool erase = line.rfind("20 01 ", 0) == 0;
    if (!erase && line.rfind("20 02 ", 0) != 0) continue;
    wire::Bytes bytes;
    if (!wire::ParseHexBytes(line.substr(0, line.find(" ->")), &bytes)) continue;
    FlashRequest request;
    request.erase = erase;
    for (size_t i = 0; i < 4 && 2 + i < bytes.size(); ++i)
      request.address |= uint32_t{bytes[2 + i]} << (8 * i);
    request.length = erase ? 1 : static_cast<uint32_t>(bytes.size() > 6 ? bytes.size() - 6 : 0);
    requests.push_back(request);
  }
  return requests;
}

std::vector<std::string> UpdateInvariants::Broken(const std::vector<uint8_t>& image) const {
  std::vector<std::string> broken;
  auto length = [&](uint8_t bank) { return Programmed(bank) ? size_t{f_.bankSize} : KeptLength(bank); };
  const testsupport::SimFirmwareView after = f_.bmc.FirmwareView(length(1), length(2));
  const testsupport::ResultTree result = f_.Result(target_.resultFile);
  static const std::regex kDefinedCode("C([2-9]|1[0-9]|2[0-2])");
  if (!result.parsed) broken.push_back("result file missing or not well-formed");
  if (result.resultCode == "Complete") {
    for (uint8_t bank : target_.banks) {
      const std::vector<uint8_t>& flash = after.flash[bank - 1];
      if (flash.size() < image.size() ||
          !std::equal(image.begin() + target_.bootBlock, image.end(), flash.begin() + target_.bootBlock)) {
        broken.push_back("Complete, but bank " + std::to_string(bank) +
                         " does not hold the image at its start" +
                         WhereTheImageIs(f_.bmc.FlashBytes(bank), image, target_.bootBlock));
      }
    }
    for (uint8_t bank : target_.banks) {
      const std::vector<uint8_t>& flash = after.flash[bank - 1];
      const auto old = std::find_if(flash.begin() + std::min(image.size(), flash.size()), flash.end(),
                                    [](uint8_t cell) { return cell != 0xFF; });
      if (old == flash.end()) continue;
      char text[96];
      std::snprintf(text, sizeof text,
                    "Complete, but bank %d is not erased past the image: 0x%zx holds %02Xh", bank,
                    static_cast<size_t>(old - flash.begin()), *old);
      broken.push_back(text);
    }
    if (after.selectors.imageSelector != target_.banks.back()) {
      broken.push_back("Complete, but the image selector names bank " +
                       std::to_string(after.selectors.imageSelector));
    }
  } else if (!std::regex_match(result.resultCode, kDefinedCode)) {
    broken.push_back("undefined code " + result.resultCode);
  }
  for (uint8_t bank = 1; bank <= f_.bankCount; ++bank) {
    const std::vector<uint8_t>& kept = before_.flash[bank - 1];
    const std::vector<uint8_t>& now = after.flash[bank - 1];
    const size_t changed = Differing(kept, now);
    if (changed == 0) continue;
    broken.push_back((Programmed(bank)
                          ? "bank " + std::to_string(bank) + "'s kept boot block changed"
                          : "bank " + std::to_string(bank) + " changed, but was not programmed") +
                     " (" + std::to_string(changed) + " of " + std::to_string(kept.size()) + " bytes)");
  }
  size_t erases = 0, outside = 0;
  std::string first;
  for (const FlashRequest& request : FlashRequests(f_.bmc)) {
    erases += request.erase;
    const uint64_t start = request.address, end = start + request.length;
    const bool inside = std::any_of(target_.banks.begin(), target_.banks.end(), [&](uint8_t bank) {
      return start >= (bank - 1) * uint64_t{f_.bankSize} && end <= bank * uint64_t{f_.bankSize};
    });
    if (inside || outside++ > 0) continue;
    char text[64];
    std::snprintf(text, sizeof text, "%s at 0x%x", request.erase ? "an erase" : "a write", request.address);
    first = text;
  }
  if (outside > 0) {
    broken.push_back(std::to_string(outside) +
                     " erase or write requests outside the programmed banks, first " + first);
  }
  const size_t bound = target_.banks.size() * (f_.bankSize / target_.sector + 8);
  if (erases > bound) {
    broken.push_back(std::to_string(erases) + " erase requests, more than " + std::to_string(bound));
  }
  const struct {
    const char* name;
    testsupport::SimChannelAccess was, now;
  } channels[] = {{"volatile", before_.channel2Volatile, after.channel2Volatile},
                  {"non-volatile", before_.channel2NonVolatile, after.channel2NonVolatile}};
  for (const auto& c : channels) {
    if (c.now == c.was) continue;
    broken.push_back(std::string("channel 2's ") + c.name + " setting not as before: access " +
                     Hex(c.now.access) + ", privilege " + Hex(c.now.privilege));
  }
  return broken;
}

std::vector<uint8_t> EraseMarkers(uint8_t bank, uint32_t length) {
  constexpr uint32_t kBootArea = 0x10000;
  constexpr uint32_t kBlock = 0x2000;
  std::vector<uint8_t> bytes(length, 0xFF);
  for (uint32_t at = 0; at < length; at += at < kBootArea ? kBlock : kBootArea) {
    for (uint32_t i = 0; i < 16 && at + i < length; ++i) bytes[at + i] = static_cast<uint8_t>(bank * 16 + i);
  }
  return bytes;
}

}  // namespace korvane
