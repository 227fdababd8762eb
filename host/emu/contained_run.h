// unicorn is a large engine, and a guest can reach faults of its own in it (an
// abort while it translates code the guest wrote at run time, say). The tools
// run the machine in a child process they watch, so that such a fault ends the
// run with a report instead of taking the tool down.
#pragma once

#include <functional>

namespace kivos::emu {

// Runs `work` in a child process and answers its exit status. When the child
// dies of a signal that means a fault inside the process (SIGSEGV, SIGABRT and
// their kind), one line saying so goes to standard error after `tool`'s name,
// and the answer is `fault_status`; any other signal ends the caller the same way.
int run_contained(const char *tool, const std::function<int()> &work, int fault_status);

}  // namespace kivos::emu
