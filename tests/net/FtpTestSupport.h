#pragma once
// Shared pieces of the FTP client tests.
#include "common/ExceptionText.h"
#include "fixtures/ScriptedFtpServer.h"
#include "net/msFTP.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace ftptest {

using testutil::Message;

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
