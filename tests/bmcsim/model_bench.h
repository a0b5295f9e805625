#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bmcsim/model/bmc_exchange.h"
#include "bmcsim/model/bmc_model.h"
#include "bmcsim/model/bmc_state.h"
#include "platform/testing/virtual_clock.h"
#include "wire/hex_text.h"

namespace bmcsim {

// An in-memory BMC with the requests the SDR tool sends, spelled out byte by byte.
class ModelBench {
 public:
  platform::VirtualClock clock{1288000000};
  BmcModel model;
  BmcState state = FreshState({}, {}, clock);

  ExchangeResult Run(const wire::Bytes& request) {
    return RunExchange(model, state, request.data(), request.size(), clock);
  }
  wire::Bytes Send(const wire::Bytes& request) {
    ExchangeResult r = Run(request);
    EXPECT_EQ(r.outcome, ExchangeOutcome::kResponse);
    return r.response;
  }
  wire::Bytes Send(const std::string& hex) {
    wire::Bytes request;
    EXPECT_TRUE(wire::ParseHexBytes(hex, &request)) << hex;
    return Send(request);
  }
  static uint8_t Lo(uint16_t v) { return static_cast<uint8_t>(v); }
  static uint8_t Hi(uint16_t v) { return static_cast<uint8_t>(v >> 8); }
  static uint16_t Word(const wire::Bytes& response, size_t at) {
    return static_cast<uint16_t>(response.at(at) | response.at(at + 1) << 8);
  }

  uint16_t Reserve(bool spared = false) {
    wire::Bytes r = Send(spared ? wire::Bytes{0xF8, 0x11} : wire::Bytes{0x28, 0x22});
    EXPECT_EQ(r.size(), 5u);
    EXPECT_EQ(r[2], 0x00);
    return Word(r, 3);
  }
  wire::Bytes GetSdr(bool spared, uint16_t reservation, uint16_t id, uint8_t offset, uint8_t count) {
    return Send(wire::Bytes{spared ? uint8_t{0xF8} : uint8_t{0x28}, spared ? uint8_t{0x12} : uint8_t{0x23},
                            Lo(reservation), Hi(reservation), Lo(id), Hi(id), offset, count});
  }
  wire::Bytes Lock(uint8_t mode) { return Send(wire::Bytes{0xF8, 0x10, mode}); }
  wire::Bytes Erase(uint16_t reservation, uint8_t op) {
    return Send(wire::Bytes{0xF8, 0x14, Lo(reservation), Hi(reservation), 'C', 'L', 'R', op});
  }
  wire::Bytes PartialAdd(uint16_t reservation, uint16_t id, uint8_t offset, uint8_t progress,
                         const wire::Bytes& chunk) {
    wire::Bytes request{0xF8, 0x13, Lo(reservation), Hi(reservation), Lo(id), Hi(id), offset, progress};
    request.insert(request.end(), chunk.begin(), chunk.end());
    return Send(request);
  }
  // Takes the lock and erases with as many status polls as the erase wants.
  void LockAndErase() {
    ASSERT_EQ(Lock(0x00)[2], 0x00);
    uint16_t resv = Reserve(true);
    wire::Bytes r = Erase(resv, 0xAA);
    while (r.size() == 4 && r[2] == 0x00 && r[3] == 0x00) r = Erase(resv, 0x00);
    ASSERT_EQ(r, (wire::Bytes{0xFC, 0x14, 0x00, 0x01}));
  }
  // Writes a record the way the SDR tool does: a new reservation, then chunks of 16 bytes,
  // the later ones naming the record ID the first one returned. Returns the request sizes.
  std::vector<size_t> WriteRecord(const SdrRecord& record, uint16_t* assignedId = nullptr) {
    std::vector<size_t> sizes;
    uint16_t resv = Reserve(true);
    uint16_t id = 0;
    for (size_t offset = 0; offset < record.size(); offset += 16) {
      size_t end = std::min(record.size(), offset + 16);
      wire::Bytes chunk(record.begin() + static_cast<long>(offset), record.begin() + static_cast<long>(end));
      wire::Bytes r = PartialAdd(resv, id, static_cast<uint8_t>(offset), end == record.size() ? 1 : 0, chunk);
      sizes.push_back(8 + chunk.size());
      EXPECT_EQ(r.size(), 5u);
      EXPECT_EQ(r[2], 0x00) << "chunk at " << offset;
      if (r.size() == 5) id = Word(r, 3);
    }
    if (assignedId) *assignedId = id;
    return sizes;
  }
  // Walks the chain as the read-back does: 5 header bytes, then 16 at a time.
  std::vector<SdrRecord> ReadAll(bool spared) {
    std::vector<SdrRecord> records;
    uint16_t id = 0;
    while (id != 0xFFFF && records.size() < 70000) {
      uint16_t resv = Reserve(spared);
      wire::Bytes r = GetSdr(spared, resv, id, 0, 5);
      if (r.size() != 10 || r[2] != 0) break;
      SdrRecord record(r.begin() + 5, r.end());
      size_t total = 5u + record[4];
      while (record.size() < total) {
        uint8_t count = static_cast<uint8_t>(std::min<size_t>(16, total - record.size()));
        wire::Bytes part = GetSdr(spared, resv, id, static_cast<uint8_t>(record.size()), count);
        EXPECT_EQ(part.size(), 5u + count);
        if (part.size() != 5u + count) return records;
        record.insert(record.end(), part.begin() + 5, part.end());
      }
      id = Word(r, 3);
      records.push_back(record);
    }
    return records;
  }
};

// A record of the given body length with recognisable bytes; its ID bytes are 0.
inline SdrRecord MakeRecord(uint8_t bodyLength, uint8_t fill = 0x40) {
  SdrRecord record{0x00, 0x00, 0x51, 0x01, bodyLength};
  for (uint8_t i = 0; i < bodyLength; ++i) record.push_back(static_cast<uint8_t>(fill + i));
  return record;
}

inline SdrRecord WithId(SdrRecord record, uint16_t id) {
  SetRecordId(&record, id);
  return record;
}

}  // namespace bmcsim
