// kivos-meta: prints and checks the command and package records of kivos images.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "emu/elf_file.h"
#include "meta/image_check.h"
#include "meta/records.h"

namespace {

using kivos::meta::CommandMeta;

// Exit statuses; with several images the worst one wins.
constexpr int kFine = 0;
constexpr int kProblems = 1;
constexpr int kUnusable = 2;

constexpr const char *kFooter =
    "\nWithout --json or --check, prints one block per image: its command name,\n"
    "description, package name and package tag.\n\n"
    "Exit status:\n"
    "  0  every image was read (and, with --check, is a well-formed kivos command)\n"
    "  1  problems found: a record missing or malformed, or with --check any\n"
    "     departure from the kivos image layout (one line each on standard output)\n"
    "  2  usage error, or a file that is not a readable ELF32 little-endian file";

struct Settings {
    bool json = false;
    bool check = false;
    std::vector<std::string> images;
};

std::optional<kivos::emu::ElfFile> open_image(const std::string &path) {
    try {
        return kivos::emu::ElfFile::read(path);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "kivos-meta: %s: %s\n", path.c_str(), error.what());
        return std::nullopt;
    }
}

std::string json_string(const std::string &text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

void print_block(const std::string &path, const CommandMeta &meta, bool first) {
    std::printf("%s%s\n", first ? "" : "\n", path.c_str());
    std::printf("  name:         %s\n", meta.name.c_str());
    std::printf("  description:  %s\n", meta.description.c_str());
    std::printf("  package:      %s\n", meta.package.c_str());
    std::printf("  tag:          %s\n", meta.tag.c_str());
}

std::string json_object(const std::string &path, const CommandMeta &meta) {
    return "{\"image\": " + json_string(path) + ", \"name\": " + json_string(meta.name) +
           ", \"description\": " + json_string(meta.description) +
           ", \"package\": " + json_string(meta.package) + ", \"tag\": " + json_string(meta.tag) +
           "}";
}

int check(const Settings &settings) {
    int status = kFine;
    for (const std::string &path : settings.images) {
        const auto elf = open_image(path);
        if (!elf) {
            status = kUnusable;
            continue;
        }
        const std::vector<std::string> problems = kivos::meta::check_image(*elf);
        for (const std::string &problem : problems)
            std::printf("%s: %s\n", path.c_str(), problem.c_str());
        if (problems.empty())
            std::printf("%s: ok\n", path.c_str());
        else
            status = std::max(status, kProblems);
    }
    return status;
}

int describe(const Settings &settings) {
    int status = kFine;
    std::vector<std::string> objects;
    size_t blocks = 0;
    for (const std::string &path : settings.images) {
        const auto elf = open_image(path);
        if (!elf) {
            status = kUnusable;
            continue;
        }
        const kivos::meta::MetaReading reading = kivos::meta::read_meta(*elf);
        for (const std::string &problem : reading.problems)
            std::fprintf(stderr, "kivos-meta: %s: %s\n", path.c_str(), problem.c_str());
        if (!reading.problems.empty()) {
            status = std::max(status, kProblems);
        } else if (settings.json) {
            objects.push_back(json_object(path, reading.meta));
        } else {
            print_block(path, reading.meta, blocks++ == 0);
        }
    }
    if (settings.json) {
        std::printf("[");
        for (size_t i = 0; i < objects.size(); ++i)
            std::printf("%s\n  %s", i == 0 ? "" : ",", objects[i].c_str());
        std::printf("%s]\n", objects.empty() ? "" : "\n");
    }
    return status;
}

}  // namespace

int main(int argc, char **argv) {
    Settings settings;
    CLI::App app{"Prints and checks the command and package records of kivos images.",
                 "kivos-meta"};
    app.footer(kFooter);
    auto *json = app.add_flag("--json", settings.json,
                              "Print the records as a JSON array, one object per image");
    app.add_flag("--check", settings.check,
                 "Check each image's whole layout and both records; list every problem")
        ->excludes(json);
    app.add_option("IMAGE", settings.images, "kivos command images")->required();
    app.set_version_flag("--version", "kivos-meta " KIVOS_VERSION);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &help) {
        return app.exit(help);
    } catch (const CLI::CallForVersion &version) {
        return app.exit(version);
    } catch (const CLI::ParseError &error) {
        app.exit(error);
        return kUnusable;
    }
    return settings.check ? check(settings) : describe(settings);
}
