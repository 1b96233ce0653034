#pragma once
// Shared pieces of the FTP client tests: the names every test file uses (a test file says
// `using namespace ftptest;` and has the client's names, the scripted server, Message and Lines at
// hand), a client that records its events, and the test data of transfers.
#include "common/ExceptionText.h"
#include "fixtures/ScriptedFtpServer.h"
#include "net/msFTP.h"

#include <cstddef>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace ftptest {

using namespace net;
using testutil::FtpSession;
using testutil::Message;
using testutil::ScriptedFtpServer;
using Lines = std::vector<std::string>;

// `size` bytes of every value, no run repeating at a short period, so that a byte lost, doubled or
// moved in a transfer shows.
inline std::string Pattern(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
    return bytes;
}

// A client aimed at the scripted server, recording the events it fires.
struct RecordingClient {
    explicit RecordingClient(std::uint16_t port, bool passive = false)
    {
        client.SetHost("127.0.0.1");
        client.SetPort(port);
        client.SetUserName("drovanel");
        client.SetPassword("secret");
        client.SetPassiveMode(passive);
        client.OnDataTransferStart = [this](fw::TObject *s) {
            EXPECT_EQ(s, &client);
            events.push_back("start");
        };
        client.OnDataTransferTerminate = [this](fw::TObject *s) {
            EXPECT_EQ(s, &client);
            events.push_back("terminate");
        };
        client.OnDataTransferProgress = [this](fw::TObject *s, std::int32_t bytes) {
            EXPECT_NE(s, &client) << "progress comes from the data socket";
            progress.push_back(bytes);
        };
    }
    ~RecordingClient() { client.Disconnect(); }

    net::TmsFTPClient client;
    std::vector<std::string> events;
    std::vector<std::int32_t> progress;
};

}  // namespace ftptest
