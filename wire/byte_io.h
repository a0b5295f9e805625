#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace wire {

using Bytes = std::vector<uint8_t>;

// Bounds-checked little-endian reader over an IPMI message, a file or a state blob. Every
// read fails (and leaves the output and the position alone) when fewer bytes remain than
// asked for, so a length is always checked before a field is taken.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit ByteReader(const Bytes& bytes) : data_(bytes.data()), size_(bytes.size()) {}
  // The reader does not own its bytes: reading a temporary would read freed memory.
  explicit ByteReader(Bytes&&) = delete;
  explicit ByteReader(std::string_view text)
      : data_(reinterpret_cast<const uint8_t*>(text.data())), size_(text.size()) {}

  bool U8(uint8_t* value);
  bool U16(uint16_t* value);
  bool U24(uint32_t* value);
  bool U32(uint32_t* value);
  bool U64(uint64_t* value);
  bool Take(size_t count, Bytes* out);
  // Copies count bytes into out[0..count).
  bool Copy(size_t count, uint8_t* out);
  bool Skip(size_t count);
  // A block written by ByteWriter::Blob: 32-bit length, then the bytes.
  bool Blob(Bytes* out);
  bool Text(std::string* out);
  // Everything that is left.
  Bytes Rest();
  size_t Remaining() const { return size_ - pos_; }
  size_t Position() const { return pos_; }
  bool AtEnd() const { return pos_ == size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Little-endian writer; the counterpart of ByteReader.
class ByteWriter {
 public:
  ByteWriter& U8(uint8_t value) {
    bytes_.push_back(value);
    return *this;
  }
  ByteWriter& U16(uint16_t value);
  ByteWriter& U32(uint32_t value);
  ByteWriter& U64(uint64_t value);
  ByteWriter& Append(const uint8_t* data, size_t size) {
    bytes_.insert(bytes_.end(), data, data + size);
    return *this;
  }
  ByteWriter& Append(const Bytes& data) { return Append(data.data(), data.size()); }
  ByteWriter& Append(std::string_view text) {
    return Append(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  }
  ByteWriter& Blob(const Bytes& data);
  ByteWriter& Text(std::string_view text);
  const Bytes& bytes() const { return bytes_; }
  size_t size() const { return bytes_.size(); }
  Bytes Take() { return std::move(bytes_); }

 private:
  Bytes bytes_;
};

}  // namespace wire
