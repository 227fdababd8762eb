// String arguments for the routines that must never read past a string's end, nor read a low
// pointer at all.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "harness/guest.h"

namespace kivos::test {

// Exact bytes placed right before an unmapped page (so any read past them faults), or a raw
// pointer value that must never be read (low ones sit on the unmapped first page).
struct StrArg {
    std::string bytes;
    std::optional<uint32_t> raw;

    uint32_t place(Guest &g) const { return raw ? *raw : g.place_at_edge(bytes); }
    std::string label() const {
        if (raw) return "pointer " + std::to_string(*raw);
        std::string quoted = "'";
        quoted.append(bytes.c_str()).push_back('\'');  // up to the NUL
        return quoted;
    }
};

inline StrArg text(const std::string &s) {
    return {s + '\0', std::nullopt};
}
inline StrArg unterminated(std::string bytes) {
    return {std::move(bytes), std::nullopt};
}
inline StrArg raw(uint32_t pointer) {
    return {"", pointer};
}

// A routine called on one or two strings, and a count when its name begins with "strn".
struct StringCall {
    std::string function;
    StrArg a;
    std::optional<StrArg> b;
    uint32_t n;
    int32_t expected;  // eax read as signed
};

inline void expect_string_calls(const std::vector<StringCall> &calls) {
    Guest g;
    for (const StringCall &c : calls) {
        SCOPED_TRACE(c.function + " " + c.a.label() + " " + (c.b ? c.b->label() : "") + " " +
                     std::to_string(c.n));
        std::vector<uint32_t> args = {c.a.place(g)};
        if (c.b) args.push_back(c.b->place(g));
        if (c.function.starts_with("strn")) args.push_back(c.n);
        EXPECT_EQ(static_cast<int32_t>(g.call(c.function, args)), c.expected);
    }
}

}  // namespace kivos::test
