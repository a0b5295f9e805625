#include "tests/fwtool/update_invariants.h"

#include <algorithm>
#include <cstdio>
#include <regex>

namespace korvane {
namespace {

std::string Hex(uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02Xh", value);
  return text;
}

size_t Differing(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  size_t n = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) n += a[i] != b[i];
  return n + (a.size() > b.size() ? a.size() - b.size() : b.size() - a.size());
}

// Where the written part of the image lies in the bank instead, if anywhere.
std::string WhereTheImageIs(const std::vector<uint8_t>& bank, const std::vector<uint8_t>& image,
                            uint32_t from) {
  if (image.size() < from + 16) return "";
  const auto found = std::search(bank.begin(), bank.end(), image.begin() + from, image.begin() + from + 16);
  if (found == bank.end()) return " (nor anywhere in it)";
  char text[64];
  std::snprintf(text, sizeof text, " (it lies 0x%lx bytes off)",
                static_cast<long>(found - bank.begin()) - static_cast<long>(from));
  return text;
}

}  // namespace

UpdateInvariants::UpdateInvariants(const KorvaneFixture& fixture, UpdateTarget target)
    : f_(fixture), target_(std::move(target)) {
  for (uint8_t bank = 1; bank <= f_.bankCount; ++bank) {
    kept_[bank - 1] = f_.bmc.FlashBytes(bank, Programmed(bank) ? target_.bootBlock : f_.bankSize);
  }
  channel_[0] = f_.bmc.Channel2(false);
  channel_[1] = f_.bmc.Channel2(true);
}

bool UpdateInvariants::Programmed(uint8_t bank) const {
  return std::count(target_.banks.begin(), target_.banks.end(), bank) > 0;
}

size_t UpdateInvariants::EraseRequests(const testsupport::SimBmc& bmc) {
  const std::vector<std::string> lines = bmc.LogLines();
  return std::count_if(lines.begin(), lines.end(),
                       [](const std::string& line) { return line.rfind("20 01 ", 0) == 0; });
}

std::vector<std::string> UpdateInvariants::Broken(const std::vector<uint8_t>& image) const {
  std::vector<std::string> broken;
  const testsupport::ResultTree result = f_.Result(target_.resultFile);
  if (!result.parsed) broken.push_back("result file missing or not well-formed");
  if (result.resultCode == "Complete") {
    for (uint8_t bank : target_.banks) {
      const std::vector<uint8_t> flash = f_.bmc.FlashBytes(bank, image.size());
      if (flash.size() != image.size() ||
          !std::equal(image.begin() + target_.bootBlock, image.end(), flash.begin() + target_.bootBlock)) {
        broken.push_back("Complete, but bank " + std::to_string(bank) +
                         " does not hold the image at its start" +
                         WhereTheImageIs(f_.bmc.FlashBytes(bank), image, target_.bootBlock));
      }
    }
    const uint8_t selected = f_.bmc.Selectors().imageSelector;
    if (selected != target_.banks.back()) {
      broken.push_back("Complete, but the image selector names bank " + std::to_string(selected));
    }
  } else if (!std::regex_match(result.resultCode, std::regex("C([2-9]|1[0-9]|2[0-2])"))) {
    broken.push_back("undefined code " + result.resultCode);
  }
  for (uint8_t bank = 1; bank <= f_.bankCount; ++bank) {
    const std::vector<uint8_t>& kept = kept_[bank - 1];
    const std::vector<uint8_t> now = f_.bmc.FlashBytes(bank, kept.size());
    if (now == kept) continue;
    const size_t changed = Differing(now, kept);
    broken.push_back((Programmed(bank)
                          ? "bank " + std::to_string(bank) + "'s kept boot block changed"
                          : "bank " + std::to_string(bank) + " changed, but was not programmed") +
                     " (" + std::to_string(changed) + " of " + std::to_string(kept.size()) + " bytes)");
  }
  const size_t erases = EraseRequests(f_.bmc);
  const size_t bound = target_.banks.size() * (f_.bankSize / target_.sector + 8);
  if (erases > bound) {
    broken.push_back(std::to_string(erases) + " erase requests, more than " + std::to_string(bound));
  }
  for (bool nonVolatile : {false, true}) {
    const testsupport::SimChannelAccess now = f_.bmc.Channel2(nonVolatile);
    if (now == channel_[nonVolatile]) continue;
    broken.push_back(std::string("channel 2's ") + (nonVolatile ? "non-volatile" : "volatile") +
                     " setting not as before: access " + Hex(now.access) + ", privilege " +
                     Hex(now.privilege));
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
