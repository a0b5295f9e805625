#include "bmcsim/model/command_table.h"

namespace bmcsim {

void CommandTable::Register(uint8_t netFn, uint8_t command, CommandHandler handler) {
  handlers_[static_cast<uint16_t>(netFn << 8 | command)] = handler;
}

CommandHandler CommandTable::Find(uint8_t netFn, uint8_t command) const {
  auto it = handlers_.find(static_cast<uint16_t>(netFn << 8 | command));
  return it == handlers_.end() ? nullptr : it->second;
}

}  // namespace bmcsim
