#include "bmcsim/store/state_journal.h"

#include <cstdio>
#include <cstring>

#include "platform/files.h"
#include "wire/byte_io.h"

namespace bmcsim {
namespace {

constexpr char kSignature[8] = {'B', 'M', 'C', 'S', 'I', 'M', 'J', 'L'};
constexpr uint16_t kFormat = 1;
constexpr size_t kHeaderSize = 8 + 2 + 8 + 8 + 4;
constexpr size_t kRecordHeaderSize = 4 + 8 + 4;

std::string_view AsText(const wire::Bytes& bytes) {
  return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

uint32_t HeaderChecksum(StateVersion base) {
  wire::ByteWriter fields;
  fields.U64(base.epoch).U64(base.generation);
  return StateChecksum({AsText(fields.bytes())});
}

uint32_t RecordChecksum(uint32_t length, uint64_t generation, std::string_view payload) {
  wire::ByteWriter fields;
  fields.U32(length).U64(generation);
  return StateChecksum({AsText(fields.bytes()), payload});
}

bool ParseHeader(std::string_view bytes, StateVersion* base) {
  wire::ByteReader in(bytes);
  char signature[sizeof kSignature];
  uint16_t format = 0;
  StateVersion v;
  uint32_t checksum = 0;
  if (!in.Copy(sizeof signature, reinterpret_cast<uint8_t*>(signature)) ||
      std::memcmp(signature, kSignature, sizeof kSignature) != 0 || !in.U16(&format) || format != kFormat ||
      !in.U64(&v.epoch) || !in.U64(&v.generation) || !in.U32(&checksum) || checksum != HeaderChecksum(v)) {
    return false;
  }
  *base = v;
  return true;
}

bool WriteAll(std::FILE* f, std::string_view bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
}

// Unbuffered: every call is one system call, and a record goes out in one write.
std::FILE* OpenUnbuffered(const std::string& path, const char* mode) {
  std::FILE* f = std::fopen(path.c_str(), mode);
  if (f) std::setvbuf(f, nullptr, _IONBF, 0);
  return f;
}

}  // namespace

uint64_t StateJournal::HeaderSize() {
  return kHeaderSize;
}

uint64_t StateJournal::RecordSize(size_t payloadSize) {
  return kRecordHeaderSize + payloadSize;
}

bool StateJournal::OpenMark(JournalMark* mark) {
  Close();
  std::FILE* f = OpenUnbuffered(path_, "r+b");
  if (!f) return false;
  char header[kHeaderSize];
  bool ok = std::fread(header, 1, sizeof header, f) == sizeof header &&
            ParseHeader(std::string_view(header, sizeof header), &mark->base) &&
            std::fseek(f, 0, SEEK_END) == 0;
  long size = ok ? std::ftell(f) : -1;
  if (size < 0) {
    std::fclose(f);
    return false;
  }
  mark->size = static_cast<uint64_t>(size);
  open_ = f;
  return true;
}

void StateJournal::Close() {
  if (open_) std::fclose(open_);
  open_ = nullptr;
}

bool StateJournal::Read(JournalContent* content) const {
  JournalContent c;
  if (!platform::ReadWholeFile(path_, &c.bytes) || !ParseHeader(c.bytes, &c.mark.base)) return false;
  c.mark.size = c.bytes.size();
  wire::ByteReader in(c.bytes);
  in.Skip(kHeaderSize);
  c.validEnd = kHeaderSize;
  uint64_t expected = c.mark.base.generation + 1;
  uint32_t length = 0;
  uint64_t generation = 0;
  uint32_t checksum = 0;
  while (in.U32(&length) && in.U64(&generation) && in.U32(&checksum) && in.Remaining() >= length) {
    std::string_view payload = std::string_view(c.bytes).substr(in.Position(), length);
    if (generation != expected || checksum != RecordChecksum(length, generation, payload)) break;
    in.Skip(length);
    c.records.push_back(JournalRecord{generation, payload});
    c.validEnd = in.Position();
    ++expected;
  }
  *content = std::move(c);
  return true;
}

bool StateJournal::Reset(StateVersion base, bool headerOnly, std::string* error) {
  Close();
  wire::ByteWriter fields;
  fields.U16(kFormat).U64(base.epoch).U64(base.generation).U32(HeaderChecksum(base));
  std::string header = std::string(kSignature, sizeof kSignature) + std::string(AsText(fields.bytes()));
  // Opening to write truncates first: a reset cut short leaves no header, so no stale record
  // counts. A header rewritten in place and cut short fails its checksum.
  std::FILE* f = std::fopen(path_.c_str(), headerOnly ? "r+b" : "wb");
  bool ok = f && WriteAll(f, header);
  if (f) ok = std::fclose(f) == 0 && ok;
  if (!ok) *error = "cannot write " + path_;
  return ok;
}

bool StateJournal::Append(uint64_t generation, std::string_view payload, std::string* error) {
  uint32_t length = static_cast<uint32_t>(payload.size());
  wire::ByteWriter header;
  header.U32(length).U64(generation).U32(RecordChecksum(length, generation, payload));
  std::string record = std::string(AsText(header.bytes())) + std::string(payload);
  bool ok = false;
  if (open_) {
    ok = WriteAll(open_, record);
  } else if (std::FILE* f = OpenUnbuffered(path_, "ab")) {
    ok = WriteAll(f, record);
    ok = std::fclose(f) == 0 && ok;
  }
  if (!ok) {
    Close();
    *error = "cannot write " + path_;
  }
  return ok;
}

}  // namespace bmcsim
