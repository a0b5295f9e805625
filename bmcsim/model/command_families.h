#pragma once
#include "bmcsim/model/command_table.h"

namespace bmcsim {

// Named where something besides its handler acts on it (the external-BMC server).
constexpr uint8_t kCmdSetGlobalEnables = 0x2E;

// Each family of commands registers its handlers once.
void RegisterDeviceCommands(
    CommandTable& table);  // Get Device ID, global enables, message flags, OEM identity query
void RegisterSdrCommands(CommandTable& table);        // the active repository (Storage)
void RegisterSparedSdrCommands(CommandTable& table);  // the spared repository (OEM)
void RegisterChannelCommands(CommandTable& table);    // Get/Set Channel Access
void RegisterFirmwareCommands(CommandTable& table);   // flash, ID chip and image selectors

}  // namespace bmcsim
