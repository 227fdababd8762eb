// Ownership of one unicorn engine. Each engine reserves a large block of
// address space for translated code, so it is closed as soon as its owner goes.
#pragma once

#include <unicorn/unicorn.h>

#include <memory>
#include <string_view>

namespace kivos::emu {

class Engine {
  public:
    Engine();  // a 32-bit x86 engine; throws MachineError
    uc_engine *get() const { return engine_.get(); }

  private:
    struct Close {
        void operator()(uc_engine *engine) const { uc_close(engine); }
    };
    std::unique_ptr<uc_engine, Close> engine_;
};

// Throws MachineError naming `what` when unicorn reports an error.
void check(uc_err error, std::string_view what);

}  // namespace kivos::emu
