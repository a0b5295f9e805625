// State file: "BMCSIMST", format number, epoch, generation, payload length, checksum, payload.
// Format 2 states may be continued by a journal, which format 1 readers would not see.
#include "bmcsim/store/state_file.h"

#include <cstdio>
#include <cstring>

#include "bmcsim/store/state_payload.h"
#include "wire/byte_io.h"

namespace bmcsim {
namespace {

constexpr char kSignature[8] = {'B', 'M', 'C', 'S', 'I', 'M', 'S', 'T'};
constexpr uint16_t kFormat = 2;
constexpr uint16_t kFirstFormat = 1;
constexpr size_t kHeaderSize = 8 + 2 + 8 + 8 + 4 + 4;
constexpr size_t kVersionOffset = 8 + 2;
constexpr size_t kVersionAndLengthSize = 8 + 8 + 4;

bool KnownFormat(uint16_t format) {
  return format >= kFirstFormat && format <= kFormat;
}

// Over the version, the length and the payload: a slot caught half written fails it.
uint32_t Checksum(std::string_view versionAndLength, std::string_view payload) {
  return StateChecksum({versionAndLength, payload});
}

}  // namespace

uint32_t StateChecksum(std::initializer_list<std::string_view> parts) {
  uint32_t hash = 2166136261u;  // FNV-1a
  for (std::string_view part : parts) {
    for (char c : part) {
      hash ^= static_cast<uint8_t>(c);
      hash *= 16777619u;
    }
  }
  return hash;
}

std::string StateFileContent(const std::string& payload, StateVersion version) {
  wire::ByteWriter fields;
  fields.U16(kFormat).U64(version.epoch).U64(version.generation).U32(static_cast<uint32_t>(payload.size()));
  std::string content(kSignature, sizeof kSignature);
  content.append(fields.bytes().begin(), fields.bytes().end());
  wire::ByteWriter checksum;
  checksum.U32(Checksum(std::string_view(content).substr(kVersionOffset), payload));
  content.append(checksum.bytes().begin(), checksum.bytes().end());
  return content + payload;
}

bool ParseStateFile(std::string_view content, BmcState* state, StateVersion* version, std::string* error) {
  wire::ByteReader in(content);
  wire::Bytes signature;
  uint16_t format = 0;
  StateVersion v;
  uint32_t length = 0;
  uint32_t checksum = 0;
  if (!in.Take(sizeof kSignature, &signature) ||
      std::memcmp(signature.data(), kSignature, sizeof kSignature) != 0 || !in.U16(&format)) {
    *error = "not a bmcsim state file";
    return false;
  }
  if (!KnownFormat(format)) {
    *error = "state file format " + std::to_string(format) + " is not supported";
    return false;
  }
  // Bytes beyond the payload are the tail of an earlier, longer content written in place.
  if (!in.U64(&v.epoch) || !in.U64(&v.generation) || !in.U32(&length) || !in.U32(&checksum) ||
      in.Remaining() < length ||
      Checksum(content.substr(kVersionOffset, kVersionAndLengthSize), content.substr(kHeaderSize, length)) !=
          checksum) {
    *error = "state file is damaged";
    return false;
  }
  if (!ParseStatePayload(content.substr(kHeaderSize, length), state, error)) return false;
  *version = v;
  return true;
}

bool ReadStateVersion(const std::string& path, StateVersion* version) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char header[kHeaderSize];
  size_t n = std::fread(header, 1, sizeof header, f);
  std::fclose(f);
  wire::ByteReader in(std::string_view(header, n));
  wire::Bytes signature;
  uint16_t format = 0;
  StateVersion v;
  if (n != kHeaderSize || !in.Take(sizeof kSignature, &signature) ||
      std::memcmp(signature.data(), kSignature, sizeof kSignature) != 0 || !in.U16(&format) ||
      !KnownFormat(format) || !in.U64(&v.epoch) || !in.U64(&v.generation)) {
    return false;
  }
  *version = v;
  return true;
}

}  // namespace bmcsim
