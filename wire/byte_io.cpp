#include "wire/byte_io.h"

#include <cstring>

namespace wire {

bool ByteReader::U8(uint8_t* value) {
  if (Remaining() < 1) return false;
  *value = data_[pos_++];
  return true;
}

bool ByteReader::U16(uint16_t* value) {
  if (Remaining() < 2) return false;
  *value = static_cast<uint16_t>(data_[pos_] | data_[pos_ + 1] << 8);
  pos_ += 2;
  return true;
}

bool ByteReader::U24(uint32_t* value) {
  if (Remaining() < 3) return false;
  *value = static_cast<uint32_t>(data_[pos_]) | static_cast<uint32_t>(data_[pos_ + 1]) << 8 |
           static_cast<uint32_t>(data_[pos_ + 2]) << 16;
  pos_ += 3;
  return true;
}

bool ByteReader::U32(uint32_t* value) {
  if (Remaining() < 4) return false;
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | data_[pos_ + static_cast<size_t>(i)];
  *value = v;
  pos_ += 4;
  return true;
}

bool ByteReader::U64(uint64_t* value) {
  if (Remaining() < 8) return false;
  uint32_t low = 0;
  uint32_t high = 0;
  U32(&low);
  U32(&high);
  *value = static_cast<uint64_t>(high) << 32 | low;
  return true;
}

bool ByteReader::Take(size_t count, Bytes* out) {
  if (Remaining() < count) return false;
  out->assign(data_ + pos_, data_ + pos_ + count);
  pos_ += count;
  return true;
}

bool ByteReader::Copy(size_t count, uint8_t* out) {
  if (Remaining() < count) return false;
  if (count) std::memcpy(out, data_ + pos_, count);
  pos_ += count;
  return true;
}

bool ByteReader::Skip(size_t count) {
  if (Remaining() < count) return false;
  pos_ += count;
  return true;
}

bool ByteReader::Blob(Bytes* out) {
  size_t start = pos_;
  uint32_t length = 0;
  if (!U32(&length) || !Take(length, out)) {
    pos_ = start;
    return false;
  }
  return true;
}

bool ByteReader::Text(std::string* out) {
  Bytes bytes;
  if (!Blob(&bytes)) return false;
  out->assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return true;
}

Bytes ByteReader::Rest() {
  Bytes rest(data_ + pos_, data_ + size_);
  pos_ = size_;
  return rest;
}

ByteWriter& ByteWriter::U16(uint16_t value) {
  U8(static_cast<uint8_t>(value));
  return U8(static_cast<uint8_t>(value >> 8));
}

ByteWriter& ByteWriter::U32(uint32_t value) {
  U16(static_cast<uint16_t>(value));
  return U16(static_cast<uint16_t>(value >> 16));
}

ByteWriter& ByteWriter::U64(uint64_t value) {
  U32(static_cast<uint32_t>(value));
  return U32(static_cast<uint32_t>(value >> 32));
}

ByteWriter& ByteWriter::Blob(const Bytes& data) {
  U32(static_cast<uint32_t>(data.size()));
  return Append(data);
}

ByteWriter& ByteWriter::Text(std::string_view text) {
  U32(static_cast<uint32_t>(text.size()));
  return Append(text);
}

}  // namespace wire
