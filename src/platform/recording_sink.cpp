#include "platform/recording_sink.h"

#include <algorithm>

void RecordingMessageSink::Error(const std::string& text, bool blocking)
{
    std::lock_guard hold(lock_);
    entries_.push_back({"error", text, blocking});
}

void RecordingMessageSink::Info(const std::string& text)
{
    std::lock_guard hold(lock_);
    entries_.push_back({"info", text, true});
}

bool RecordingMessageSink::Confirm(const std::string& text)
{
    std::lock_guard hold(lock_);
    entries_.push_back({"confirm", text, true});
    if (answers_.empty())
        return true;
    bool answer = answers_.front();
    answers_.pop_front();
    return answer;
}

void RecordingMessageSink::ScriptAnswers(std::initializer_list<bool> answers)
{
    std::lock_guard hold(lock_);
    answers_.insert(answers_.end(), answers.begin(), answers.end());
}

std::vector<RecordingMessageSink::Entry> RecordingMessageSink::Entries() const
{
    std::lock_guard hold(lock_);
    return entries_;
}

std::vector<std::string> RecordingMessageSink::Texts() const
{
    std::lock_guard hold(lock_);
    std::vector<std::string> texts;
    for (const auto& entry : entries_)
        texts.push_back(entry.text);
    return texts;
}

bool RecordingMessageSink::Saw(const std::string& text) const
{
    auto texts = Texts();
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

void RecordingMessageSink::Clear()
{
    std::lock_guard hold(lock_);
    entries_.clear();
    answers_.clear();
}
