#pragma once
#include <cstddef>
#include <cstdint>
#include <map>

#include "wire/byte_io.h"

namespace bmcsim {

// One bank of NOR flash. It is kept as 4-KiB blocks, and a block that is not kept is erased
// (all FFh): an erased bank costs nothing to hold or to save, and equal contents are always
// held the same way. Offsets count from the start of the bank; callers keep them inside it.
class FlashBank {
 public:
  static constexpr uint32_t kBlockSize = 0x1000;
  using Blocks = std::map<uint32_t, wire::Bytes>;  // block number -> kBlockSize bytes

  // Programming can only clear bits: each cell becomes its old value AND the new one.
  void Program(uint32_t offset, const uint8_t* data, size_t length);
  // Sets the cells to exactly these values, as a stored image of the bank does.
  void Store(uint32_t offset, const uint8_t* data, size_t length);
  void Erase(uint32_t offset, uint64_t length);
  void EraseAll() { blocks_.clear(); }
  void Read(uint32_t offset, size_t length, uint8_t* out) const;
  wire::Bytes Read(uint32_t offset, size_t length) const;

  const Blocks& blocks() const { return blocks_; }
  // One past the highest offset that is not erased; 0 for an erased bank.
  uint64_t UsedEnd() const;
  bool operator==(const FlashBank& other) const { return blocks_ == other.blocks_; }
  bool operator!=(const FlashBank& other) const { return !(*this == other); }

 private:
  // Applies cell := combine(cell, byte) over the range, creating blocks only where a byte
  // leaves a cell other than FFh.
  template <typename Combine>
  void Update(uint32_t offset, const uint8_t* data, size_t length, Combine combine);
  void DropIfErased(Blocks::iterator block);

  Blocks blocks_;
};

}  // namespace bmcsim
