#include "bmcsim/byte_io.h"

namespace bmcsim {

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

bool ByteReader::U32(uint32_t* value) {
  if (Remaining() < 4) return false;
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | data_[pos_ + i];
  *value = v;
  pos_ += 4;
  return true;
}

bool ByteReader::U64(uint64_t* value) {
  uint32_t low = 0;
  uint32_t high = 0;
  if (Remaining() < 8 || !U32(&low) || !U32(&high)) return false;
  *value = static_cast<uint64_t>(high) << 32 | low;
  return true;
}

bool ByteReader::Take(size_t count, Bytes* out) {
  if (Remaining() < count) return false;
  out->assign(data_ + pos_, data_ + pos_ + count);
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

void ByteWriter::U16(uint16_t value) {
  U8(static_cast<uint8_t>(value));
  U8(static_cast<uint8_t>(value >> 8));
}

void ByteWriter::U32(uint32_t value) {
  U16(static_cast<uint16_t>(value));
  U16(static_cast<uint16_t>(value >> 16));
}

void ByteWriter::U64(uint64_t value) {
  U32(static_cast<uint32_t>(value));
  U32(static_cast<uint32_t>(value >> 32));
}

void ByteWriter::Blob(const Bytes& data) {
  U32(static_cast<uint32_t>(data.size()));
  Append(data);
}

void ByteWriter::Text(std::string_view text) {
  U32(static_cast<uint32_t>(text.size()));
  Append(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

}  // namespace bmcsim
