#include "emu/engine.h"

#include <string>

#include "emu/errors.h"

namespace kivos::emu {

Engine::Engine() {
    uc_engine *engine = nullptr;
    check(uc_open(UC_ARCH_X86, UC_MODE_32, &engine), "opening the x86 engine");
    engine_.reset(engine);
}

void check(uc_err error, std::string_view what) {
    if (error != UC_ERR_OK) throw MachineError(std::string(what) + ": " + uc_strerror(error));
}

}  // namespace kivos::emu
