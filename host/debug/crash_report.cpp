#include "debug/crash_report.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

#include "debug/backtrace.h"
#include "debug/debug_info.h"

namespace kivos::debug {
namespace {

// Deep recursion would print thousands of frames; the first ones tell the story.
constexpr size_t kShownFrames = 24;

constexpr std::array<std::pair<const char *, int>, 10> kRegisters = {{
    {"eax", UC_X86_REG_EAX},
    {"ebx", UC_X86_REG_EBX},
    {"ecx", UC_X86_REG_ECX},
    {"edx", UC_X86_REG_EDX},
    {"esi", UC_X86_REG_ESI},
    {"edi", UC_X86_REG_EDI},
    {"ebp", UC_X86_REG_EBP},
    {"esp", UC_X86_REG_ESP},
    {"eip", UC_X86_REG_EIP},
    {"eflags", UC_X86_REG_EFLAGS},
}};

std::string hex(uint32_t value) {
    char text[12];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

std::string registers(const emu::Machine &machine) {
    std::string text;
    for (size_t i = 0; i < kRegisters.size(); ++i) {
        text += i % 5 == 0 ? "  " : " ";
        text += std::string(kRegisters[i].first) + " " +
                hex(machine.read_register(kRegisters[i].second));
        if (i % 5 == 4) text += '\n';
    }
    return text;
}

// A path under the current folder reads relative to it, as the developer typed it.
std::string shown_path(const std::string &path) {
    std::error_code error;
    const auto relative = std::filesystem::proximate(path, error);
    return error || relative.empty() || *relative.begin() == ".." ? path : relative.string();
}

std::string place_text(const Place &place, uint32_t shift) {
    std::string text = place.function.empty() ? "??" : place.function;
    if (!place.function.empty() && !place.inlined) {
        char offset[16];
        std::snprintf(offset, sizeof offset, "+0x%x", place.offset + shift);
        text += offset;
    }
    if (!place.file.empty())
        text += " at " + shown_path(place.file) + ":" + std::to_string(place.line);
    return text;
}

std::string frame_lines(size_t index, const Frame &frame, const DebugInfo *info) {
    std::string lines = "  #" + std::to_string(index) + " " + hex(frame.pc);
    if (info == nullptr) return lines + '\n';
    // A return address may already belong to the next line, or the next function.
    const uint32_t shift = frame.return_address ? 1 : 0;
    const std::vector<Place> places = info->places(frame.pc - shift);
    for (size_t i = 0; i < places.size(); ++i)
        lines += (i == 0 ? " in " : "\n     inlined into ") + place_text(places[i], shift);
    return lines + '\n';
}

}  // namespace

std::string crash_report(const emu::RunResult &result, const emu::Machine &machine,
                         const std::filesystem::path &image) {
    std::string report = result.message + '\n' + registers(machine);
    std::unique_ptr<DebugInfo> info;
    std::vector<Frame> frames;
    try {
        info = std::make_unique<DebugInfo>(image);
        frames = backtrace(image, machine, kShownFrames + 1);
    } catch (const std::exception &) {
        // The report stands without symbols.
    }
    if (frames.empty()) frames.push_back({machine.read_register(UC_X86_REG_EIP), false});
    const size_t shown = std::min(frames.size(), kShownFrames);
    for (size_t i = 0; i < shown;) {
        report += frame_lines(i, frames[i], info.get());
        // A recursion shows once, with how often it repeats.
        size_t same = i + 1;
        while (same < shown && frames[same].pc == frames[i].pc) ++same;
        if (same > i + 1)
            report += "  #" + std::to_string(i + 1) + " to #" + std::to_string(same - 1) +
                      ": the same as #" + std::to_string(i) + "\n";
        i = same;
    }
    if (frames.size() > kShownFrames) report += "  ...\n";
    report.pop_back();
    return report;
}

}  // namespace kivos::debug
