#pragma once
// The handheld's catalogue and schedule requests: folder listings, file
// information, the channel list and the scheduled recordings.

#include "server/protocol.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

// The 42-byte reply to a request and the data that follows it, pauseMs
// after the reply.
struct CatalogueAnswer {
    explicit CatalogueAnswer(uint8_t replyCode = kRefused) : code(replyCode) {}

    uint8_t code;
    uint8_t body[kReplyBodySize] = {};
    int pauseMs = 0;
    std::vector<uint8_t> data;
};

// The answer to ListMediaFolder, ListSubtitleFolder, GetFileInfo,
// ListChannels, GetChannel0, ListSchedules, AddSchedule, ModifySchedule or
// DeleteSchedule, whose payload has been read whole.
CatalogueAnswer AnswerCatalogueRequest(uint8_t command, const uint8_t* payload);

// The wait between the schedule list's reply and its text block, in ms
// (1000); only the fuzzer shortens it.
void SetScheduleListPause(int milliseconds);

// One-call deflate of a list for the handheld. outputSize is the capacity on
// entry and the compressed length on return. 0, or -1 (and outputSize 0)
// when deflate failed or the whole stream did not fit.
int CompressBuffer(const uint8_t* input, size_t inputLength, uint8_t* output, size_t& outputSize, int level);

// Answers such a request on the control connection.
void ServeCatalogueRequest(uint8_t command, const uint8_t* payload);
