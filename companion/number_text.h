// Numbers as people type them: decimal or 0x-hexadecimal.
#pragma once

#include <cstdint>
#include <string>

namespace dtv {

// False for anything but a whole decimal or 0x-hex number that fits 64 bits.
bool ParseNumber(const std::string& text, uint64_t* value);

}  // namespace dtv
