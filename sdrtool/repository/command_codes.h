#pragma once
#include <cstdint>

namespace veltrop {

// Request byte 0 (network function x 4, LUN 0) and its answer's byte 0.
constexpr uint8_t kAppRequest = 0x18;
constexpr uint8_t kAppAnswer = 0x1C;
constexpr uint8_t kStorageRequest = 0x28;
constexpr uint8_t kStorageAnswer = 0x2C;
constexpr uint8_t kOemRequest = 0xF8;
constexpr uint8_t kOemAnswer = 0xFC;

// The standard repository (storage network function).
constexpr uint8_t kCmdGetSdrRepositoryInfo = 0x20;
constexpr uint8_t kCmdReserveSdrRepository = 0x22;
constexpr uint8_t kCmdGetSdr = 0x23;
// Get Device ID (application network function).
constexpr uint8_t kCmdGetDeviceId = 0x01;
// The spared repository and the vendor's query (OEM network function).
constexpr uint8_t kCmdSparedLock = 0x10;
constexpr uint8_t kCmdSparedReserve = 0x11;
constexpr uint8_t kCmdSparedGetSdr = 0x12;
constexpr uint8_t kCmdSparedPartialAdd = 0x13;
constexpr uint8_t kCmdSparedClear = 0x14;
constexpr uint8_t kCmdOemE0Info = 0xE0;

constexpr uint8_t kCompletionReservationLost = 0xC5;

// Operations under a reservation start over after 0xC5 with a new one, this many times.
constexpr int kReservationRetryLimit = 300;

}  // namespace veltrop
