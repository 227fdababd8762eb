// A gdb remote stub beside the machine: gdb reads and writes registers and
// memory, sets breakpoints and watchpoints, steps, continues and interrupts,
// and hears why the program stopped, how it faulted or with what it exited.
// It watches every instruction and access through the machine's observer
// hooks and talks to gdb from inside them while the program stands still.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "emu/execution_observer.h"
#include "emu/machine.h"
#include "gdb/remote_channel.h"

namespace kivos::gdb {

class GdbStub final : public emu::ExecutionObserver {
  public:
    // `note` hears what the user should know that gdb does not tell them.
    GdbStub(RemoteChannel channel, std::function<void(const std::string &)> note);

    Interest interest() const override { return {.instructions = true, .accesses = true}; }
    bool on_instruction(emu::Machine &machine, uint32_t eip) override;
    void on_access(emu::Machine &machine, bool write, uint32_t address, uint32_t size) override;
    void on_end(emu::Machine &machine, const emu::RunResult &result) override;

  private:
    enum class Resume { none, go, step, kill };
    struct Watch {
        char type;  // '2' write, '3' read, '4' either, as gdb's Z packets number them
        uint32_t address;
        uint32_t length;
    };

    // Tells gdb why the program stopped (unless `stop` is empty), then answers
    // until gdb lets it go on.
    Resume serve(emu::Machine &machine, const std::string &stop);
    // The reply to one packet, none when it takes none; `resume` is set by
    // the packets that let the program go on.
    std::optional<std::string> answer(emu::Machine &machine, std::string_view packet,
                                      Resume &resume);
    std::string query(std::string_view packet);
    std::string read_registers(const emu::Machine &machine) const;
    std::string write_registers(emu::Machine &machine, std::string_view hex);
    std::string read_register(const emu::Machine &machine, std::string_view number) const;
    std::string write_register(emu::Machine &machine, std::string_view assignment);
    std::string register_hex(const emu::Machine &machine, size_t index) const;
    std::string set_register(emu::Machine &machine, size_t index, std::string_view hex);
    std::string read_memory(const emu::Machine &machine, std::string_view range) const;
    std::string write_memory(const emu::Machine &machine, std::string_view request);
    std::string set_point(std::string_view request, bool insert);
    Resume resume_from(emu::Machine &machine, std::string_view packet);
    void let_go(const std::string &why);

    RemoteChannel channel_;
    std::function<void(const std::string &)> note_;
    bool started_ = false;
    bool stepping_ = false;
    bool swbreak_ = false;  // gdb understands "swbreak" stop reasons
    std::string last_stop_ = "S05";
    std::unordered_set<uint32_t> breakpoints_;
    std::vector<Watch> watches_;
    std::optional<std::string> watch_hit_;  // the stop reason of an access just made
    // The instruction the program went on from: it does not stop it again
    // (a rep prefix runs it once per iteration).
    std::optional<uint32_t> leaving_;
    uint32_t since_poll_ = 0;
};

}  // namespace kivos::gdb
