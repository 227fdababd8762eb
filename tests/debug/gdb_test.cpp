// kivos-run --gdb driven by Debian's own gdb in batch mode, and by a client
// that sends it what gdb never would.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <regex>

#include "debug/debuggee.h"
#include "harness/process.h"

namespace kivos::test {
namespace {

// kivos-run waiting for gdb on a port of its choosing, which it tells.
struct Debuggee {
    explicit Debuggee(const std::vector<std::string> &options)
        : process([&options] {
              std::vector<std::string> argv{KIVOS_RUN, "--gdb", "0"};
              argv.insert(argv.end(), options.begin(), options.end());
              return argv;
          }()) {
        const std::regex waiting("waiting for gdb on 127\\.0\\.0\\.1:(\\d+)");
        std::smatch found;
        std::string err;
        EXPECT_TRUE(
            eventually([&] { return std::regex_search(err = process.err(), found, waiting); }));
        port = found.empty() ? "0" : found[1].str();
    }
    BackgroundProcess process;
    std::string port;
};

TEST(Gdb, DebugsAProgramAsItWouldAHostOne) {
    struct Case {
        std::vector<std::string> options;  // kivos-run's, then the image and its arguments
        std::vector<std::string> commands;
        std::vector<std::string> expected;  // patterns of gdb's output, in order
        int status;
        bool interrupt = false;  // Ctrl-C once the program runs
    };
    const std::string image = KIVOS_DEBUGGEE;
    const std::vector<Case> cases = {
        {{image},
         {"break main", "continue", "next", "step", "next", "print doubled", "print total",
          "info registers", "delete", "continue"},
         {"Breakpoint 1, main \\(argc=1",
          "add \\(value=20\\) at \\S+debuggee.c:" + std::to_string(debuggee_line("int doubled")),
          "\\$1 = 40", "\\$2 = 0", "eip +0x[0-9a-f]+ +0x[0-9a-f]+ <add\\+",
          "eflags +0x[0-9a-f]+ +\\[ .*IF", "exited with code 052"},
         42},
        {{image, "float"},
         {"break scale", "continue", "finish", "info float", "kill"},
         {"Value returned is \\$1 = 3.75", "=>R7: Valid +0x4000f0+ \\+3.75",
          "Control Word: +0x037f", "\\(Remote target\\) killed"},
         137},
        {{image},
         {"watch total", "continue", "continue", "detach"},
         {"Hardware watchpoint 1: total", "Old value = 0\nNew value = 40",
          "Old value = 40\nNew value = 42", "\\(Remote target\\) detached"},
         42},
        {{image, "null"},
         {"continue", "backtrace", "continue"},
         {"Program received signal SIGSEGV", "#0 .* in dereference \\(pointer=0x0\\) at",
          "#1 .* in through \\(pointer=0x0\\) at", "#2 .* in main ",
          "terminated with signal SIGSEGV"},
         126},
        {{"--trace", image, "spin"},
         {"continue", "print spinning", "set var spinning = 0", "continue"},
         {"Program received signal SIGINT", "\\$1 = 1", "exited with code 052"},
         42,
         true},
        {{"--limit", "100000", image, "spin"},
         {"continue", "continue"},
         {"Program received signal SIGXCPU", "terminated with signal SIGXCPU"},
         124},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.options));
        Debuggee debuggee(c.options);
        std::vector<std::string> gdb{"/usr/bin/gdb", "-batch", "-nx", "-ex",
                                     "target remote :" + debuggee.port};
        for (const std::string &command : c.commands) gdb.insert(gdb.end(), {"-ex", command});
        gdb.push_back(image);
        BackgroundProcess session(gdb);
        if (c.interrupt) {
            EXPECT_TRUE(eventually([&] { return debuggee.process.out() == "spinning\n"; }));
            kill(session.pid(), SIGINT);
        }
        EXPECT_EQ(session.wait(), 0);
        const std::string output = session.out() + session.err();
        std::string all;
        for (const std::string &pattern : c.expected) all += (all.empty() ? "" : "[^]*") + pattern;
        EXPECT_TRUE(std::regex_search(output, std::regex(all))) << output;
        EXPECT_EQ(debuggee.process.wait(), c.status) << debuggee.process.err();
    }
}

std::string packet(const std::string &payload) {
    unsigned sum = 0;
    for (const char c : payload) sum += static_cast<uint8_t>(c);
    char tail[4];
    std::snprintf(tail, sizeof tail, "#%02x", sum & 0xff);
    return "$" + payload + tail;
}

TEST(Gdb, BadPacketsAndDroppedConnectionsLeaveTheProgramRunning) {
    struct Case {
        std::string sent;  // then the client goes away
        std::string answer;
    };
    const std::vector<Case> cases = {
        {"$g#00", "-"},
        {"$?#zz", "-"},
        {"junk" + packet("?"), "+" + packet("S05")},
        {packet(std::string(0x5000, 'm')), "+" + packet("")},
        {packet("Z0,zz,1") + packet("m0,4") + packet("M400000,2:zz"),
         "+" + packet("E01") + "+" + packet("E14") + "+" + packet("E01")},
        {packet("m400000,1") + packet("p99"), "+" + packet("8b") + "+" + packet("E01")},
        {packet("c"), "+"},
        {"$m4000", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.sent.substr(0, 40));
        Debuggee debuggee({KIVOS_DEBUGGEE});
        const int client = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(std::stoi(debuggee.port)));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const timeval patience{10, 0};
        setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        ASSERT_EQ(connect(client, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        ASSERT_EQ(send(client, c.sent.data(), c.sent.size(), 0),
                  static_cast<ssize_t>(c.sent.size()));
        std::string answer(c.answer.size(), '\0');
        for (size_t got = 0; got < answer.size();) {
            const ssize_t n = recv(client, answer.data() + got, answer.size() - got, 0);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        EXPECT_EQ(answer, c.answer);
        close(client);
        EXPECT_EQ(debuggee.process.wait(), 42);
    }
}

}  // namespace
}  // namespace kivos::test
