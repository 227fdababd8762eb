// The debuggee's source, for tests that expect its lines by their text.
#pragma once

#include <fstream>
#include <stdexcept>
#include <string>

namespace kivos::test {

// The number of the debuggee's first line that contains `text`.
inline int debuggee_line(const std::string &text) {
    std::ifstream source(KIVOS_DEBUGGEE_SOURCE);
    int number = 0;
    for (std::string line; std::getline(source, line);)
        if (++number, line.find(text) != std::string::npos) return number;
    throw std::runtime_error("the debuggee has no line with " + text);
}

}  // namespace kivos::test
