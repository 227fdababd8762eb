// unicorn 2.0.1 cannot translate a far jump or call through a register (ff /5
// and ff /3 with a register operand: no instruction at all, an invalid opcode
// on a real CPU); it aborts the whole host instead. So the machine looks for
// every place in code where one could start, and the engine stops there before
// it translates anything.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace kivos::emu {

// Guest addresses, in `code` loaded at `address`, where an instruction the
// engine cannot translate would start, its prefixes included.
std::vector<uint32_t> untranslatable_starts(uint32_t address, std::string_view code);

}  // namespace kivos::emu
