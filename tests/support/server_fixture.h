#pragma once
// The real server on a free loopback port, with a known account, and the
// handheld client to talk to it. Tests of the listener, the session and the
// catalogue derive their fixtures from this one.

#include "shared/resources.h"
#include "capture/tuner.h"
#include "shared/server_state.h"
#include "config/settings.h"
#include "shared/live_params.h"
#include "encode/stream_buffers.h"
#include "platform/messages.h"
#include "platform/recording_sink.h"
#include "server/net_state.h"
#include "server/server_control.h"
#include "support/large_buffers.h"
#include "support/loopback.h"
#include "support/process.h"
#include "support/temp_config.h"
#include "support/test_application.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

class LoopbackServerTest : public LargeBuffersTest {
protected:
    void SetUp() override
    {
        SetMessageSink(&sink);
        SetDefaultSettings();
        SetDefaultEncoderParams();
        ResetServerState();
        port = FreePortTriple();
        SettingsRecord& record = gSettings.record;
        record.basePort = port;
        record.listenAddress = kLoopbackHostOrder;
        record.directoryDisabled = 1;
        StoreScrambled(record.userName, sizeof record.userName, "viewer");
        StoreScrambled(record.password, sizeof record.password, "secret");
        SetConnectionWaitSeconds(2);
        Configure();
        ASSERT_EQ(0, StartServer(tuner));
        WaitUntil([] { return gNet.controlListenSocket != kInvalidSocket; });
    }

    void TearDown() override
    {
        StopServer(tuner);
        SetMessageSink(nullptr);
        SetConnectionWaitSeconds(15);
    }

    // What a derived fixture sets up before the server threads start.
    virtual void Configure() {}

    // Shares a folder with the handheld in a media folder slot.
    static void ShareFolder(int slot, const std::string& path)
    {
        MediaFolderEntry& entry = gSettings.record.mediaFolders[slot];
        entry.used = 1;
        std::snprintf(entry.path, sizeof entry.path, "%s", path.c_str());
    }

    // Runs the handheld client, logged in as the known account, with the arguments.
    ProcessResult Handheld(std::vector<std::string> arguments, int timeoutMs = 20000)
    {
        std::vector<std::string> argv = {BinPath("orvandel-handheld"), "--port", std::to_string(port), "--timeout",
                                         "5", "--user", "viewer", "--password", "secret"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return RunProcess(argv, timeoutMs);
    }

    int port = 0;
    TempConfig config;
    RecordingMessageSink sink;
    Tuner tuner;
};
