#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bmcsim {

using Bytes = std::vector<uint8_t>;

// Bounds-checked little-endian reader over request data or a state file. Every read fails
// (and leaves the output alone) when fewer bytes remain than asked for.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit ByteReader(std::string_view text)
      : data_(reinterpret_cast<const uint8_t*>(text.data())), size_(text.size()) {}

  bool U8(uint8_t* value);
  bool U16(uint16_t* value);
  bool U32(uint32_t* value);
  bool U64(uint64_t* value);
  bool Take(size_t count, Bytes* out);
  // A block written by ByteWriter::Blob: 32-bit length, then the bytes.
  bool Blob(Bytes* out);
  bool Text(std::string* out);
  // Everything that is left.
  Bytes Rest();
  size_t Remaining() const { return size_ - pos_; }
  bool AtEnd() const { return pos_ == size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Little-endian writer; the counterpart of ByteReader.
class ByteWriter {
 public:
  void U8(uint8_t value) { bytes_.push_back(value); }
  void U16(uint16_t value);
  void U32(uint32_t value);
  void U64(uint64_t value);
  void Append(const uint8_t* data, size_t size) { bytes_.insert(bytes_.end(), data, data + size); }
  void Append(const Bytes& data) { bytes_.insert(bytes_.end(), data.begin(), data.end()); }
  void Blob(const Bytes& data);
  void Text(std::string_view text);
  const Bytes& bytes() const { return bytes_; }
  Bytes Take() { return std::move(bytes_); }

 private:
  Bytes bytes_;
};

}  // namespace bmcsim
