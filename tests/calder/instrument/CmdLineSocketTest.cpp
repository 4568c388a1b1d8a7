// The host socket named on a program's command line.

#include "calder/CmdLineSocket.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Case {
    std::vector<std::string> args; // without the program name
    bool given;
    std::wstring host;
    unsigned port;
};

TEST(CmdLineSocketTest, RecognisesBothFormsAndRejectsMalformedSockets) {
    const std::vector<Case> cases = {
        {{"--tarn", "127.0.0.1:7300"}, true, L"127.0.0.1", 7300},
        {{"--tarn=127.0.0.1:7301"}, true, L"127.0.0.1", 7301},
        {{"--tarn", "tarn-host.local:1"}, true, L"tarn-host.local", 1},
        {{"--tarn=[::1]:65535"}, true, L"::1", 65535},
        {{"--tarn", "[fe80::1%eth0]:7300"}, true, L"fe80::1%eth0", 7300},
        // Other arguments are ignored, before and after.
        {{"-v", "--orrin", "127.0.0.1:50051", "--tarn", "127.0.0.1:7302", "trigger", "3"},
         true,
         L"127.0.0.1",
         7302},
        {{"--tarnish", "127.0.0.1:7300"}, false, L"", 0},
        {{"--orrin=127.0.0.1:50051"}, false, L"", 0},
        {{}, false, L"", 0},
        // Malformed sockets.
        {{"--tarn"}, false, L"", 0},
        {{"--tarn="}, false, L"", 0},
        {{"--tarn", "127.0.0.1"}, false, L"", 0},
        {{"--tarn", "127.0.0.1:"}, false, L"", 0},
        {{"--tarn", ":7300"}, false, L"", 0},
        {{"--tarn", "127.0.0.1:0"}, false, L"", 0},
        {{"--tarn", "127.0.0.1:65536"}, false, L"", 0},
        {{"--tarn", "127.0.0.1:99999999999"}, false, L"", 0},
        {{"--tarn", "127.0.0.1:+80"}, false, L"", 0},
        {{"--tarn", "127.0.0.1:80x"}, false, L"", 0},
        {{"--tarn", "::1:7300"}, false, L"", 0},
        {{"--tarn", "[::1]7300"}, false, L"", 0},
        {{"--tarn", "[]:7300"}, false, L"", 0},
        {{"--tarn", "[::1:7300"}, false, L"", 0},
        {{"--tarn", "host name:7300"}, false, L"", 0},
        {{"--tarn", "h\xc3\xa9:7300"}, false, L"", 0},
    };
    for (const Case& c : cases) {
        std::string joined;
        std::vector<const char*> argv{"program"};
        for (const auto& a : c.args) {
            argv.push_back(a.c_str());
            joined += a + " ";
        }
        SCOPED_TRACE(joined);
        CmdLineSocket socket;
        // A rejected line leaves whatever was there.
        socket.host = L"unchanged";
        socket.port = 42;
        EXPECT_EQ(socket.ParseCommandLine(static_cast<int>(argv.size()), argv.data()), c.given);
        if (c.given) {
            EXPECT_EQ(socket.socketGiven, TRUE);
            EXPECT_EQ(socket.host, c.host);
            EXPECT_EQ(socket.port, c.port);
        } else {
            EXPECT_EQ(socket.socketGiven, FALSE);
            EXPECT_EQ(socket.host, L"unchanged");
            EXPECT_EQ(socket.port, 42u);
        }
    }
}

TEST(CmdLineSocketTest, ToleratesEmptyAndNullArguments) {
    CmdLineSocket socket;
    EXPECT_FALSE(socket.ParseCommandLine(0, nullptr));
    const char* withNull[] = {"program", nullptr, "--tarn=127.0.0.1:7300"};
    EXPECT_TRUE(socket.ParseCommandLine(3, withNull));
    EXPECT_EQ(socket.port, 7300u);
    // The value may not be missing at the end of the line.
    const char* trailing[] = {"program", "--tarn", nullptr};
    CmdLineSocket other;
    EXPECT_FALSE(other.ParseCommandLine(2, trailing));
}

} // namespace
