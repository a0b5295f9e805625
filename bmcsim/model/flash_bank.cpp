#include "bmcsim/model/flash_bank.h"

#include <algorithm>
#include <cstring>

namespace bmcsim {
namespace {

bool AllErased(const uint8_t* data, size_t length) {
  return std::all_of(data, data + length, [](uint8_t b) { return b == 0xFF; });
}

}  // namespace

template <typename Combine>
void FlashBank::Update(uint32_t offset, const uint8_t* data, size_t length, Combine combine) {
  uint64_t at = offset;
  const uint64_t end = at + length;
  while (at < end) {
    uint32_t number = static_cast<uint32_t>(at / kBlockSize);
    size_t inBlock = static_cast<size_t>(at % kBlockSize);
    size_t count = static_cast<size_t>(std::min<uint64_t>(end - at, kBlockSize - inBlock));
    const uint8_t* source = data + (at - offset);
    auto block = blocks_.find(number);
    if (block == blocks_.end()) {
      // Erased cells that stay FFh need no block: both programming and storing leave an erased
      // cell erased exactly when the new byte is FFh.
      if (!AllErased(source, count)) block = blocks_.emplace(number, wire::Bytes(kBlockSize, 0xFF)).first;
    }
    if (block != blocks_.end()) {
      uint8_t* cells = block->second.data() + inBlock;
      bool mayBeErased = true;
      for (size_t i = 0; i < count; ++i) {
        cells[i] = combine(cells[i], source[i]);
        mayBeErased = mayBeErased && cells[i] == 0xFF;
      }
      if (mayBeErased) DropIfErased(block);
    }
    at += count;
  }
}

void FlashBank::DropIfErased(Blocks::iterator block) {
  if (AllErased(block->second.data(), block->second.size())) blocks_.erase(block);
}

void FlashBank::Program(uint32_t offset, const uint8_t* data, size_t length) {
  Update(offset, data, length,
         [](uint8_t cell, uint8_t value) { return static_cast<uint8_t>(cell & value); });
}

void FlashBank::Store(uint32_t offset, const uint8_t* data, size_t length) {
  Update(offset, data, length, [](uint8_t, uint8_t value) { return value; });
}

void FlashBank::Erase(uint32_t offset, uint64_t length) {
  uint64_t end = offset + length;
  auto block = blocks_.lower_bound(static_cast<uint32_t>(offset / kBlockSize));
  while (block != blocks_.end() && uint64_t{block->first} * kBlockSize < end) {
    uint64_t start = uint64_t{block->first} * kBlockSize;
    uint64_t from = std::max<uint64_t>(start, offset);
    uint64_t to = std::min<uint64_t>(start + kBlockSize, end);
    if (from == start && to == start + kBlockSize) {
      block = blocks_.erase(block);
      continue;
    }
    std::memset(block->second.data() + (from - start), 0xFF, static_cast<size_t>(to - from));
    auto next = std::next(block);
    DropIfErased(block);
    block = next;
  }
}

void FlashBank::Read(uint32_t offset, size_t length, uint8_t* out) const {
  std::memset(out, 0xFF, length);
  uint64_t end = uint64_t{offset} + length;
  for (auto block = blocks_.lower_bound(static_cast<uint32_t>(offset / kBlockSize));
       block != blocks_.end() && uint64_t{block->first} * kBlockSize < end; ++block) {
    uint64_t start = uint64_t{block->first} * kBlockSize;
    uint64_t from = std::max<uint64_t>(start, offset);
    uint64_t to = std::min<uint64_t>(start + kBlockSize, end);
    std::memcpy(out + (from - offset), block->second.data() + (from - start), static_cast<size_t>(to - from));
  }
}

wire::Bytes FlashBank::Read(uint32_t offset, size_t length) const {
  wire::Bytes bytes(length);
  if (length) Read(offset, length, bytes.data());
  return bytes;
}

uint64_t FlashBank::UsedEnd() const {
  if (blocks_.empty()) return 0;
  const auto& last = *blocks_.rbegin();
  size_t end = kBlockSize;
  while (end > 0 && last.second[end - 1] == 0xFF) --end;
  return uint64_t{last.first} * kBlockSize + end;
}

}  // namespace bmcsim
