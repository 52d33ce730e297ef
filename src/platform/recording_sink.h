#pragma once
// A message sink that shows nothing: it records every text and answers
// questions as scripted. Used where no one can click, such as tests.

#include "platform/messages.h"

#include <deque>
#include <mutex>
#include <string>
#include <vector>

class RecordingMessageSink : public MessageSink {
public:
    struct Entry {
        std::string kind;  // "error", "info" or "confirm"
        std::string text;
        bool blocking;
    };

    void Error(const std::string& text, bool blocking) override;
    void Info(const std::string& text) override;
    bool Confirm(const std::string& text) override;

    // Answers for the next questions, in order; without one the answer is OK.
    void ScriptAnswers(std::initializer_list<bool> answers);

    std::vector<Entry> Entries() const;
    std::vector<std::string> Texts() const;
    bool Saw(const std::string& text) const;
    void Clear();

private:
    mutable std::mutex lock_;
    std::vector<Entry> entries_;
    std::deque<bool> answers_;
};
