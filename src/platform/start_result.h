#pragma once
// What a start asked of another thread came to: it runs, or the reason it
// does not, in words for the log.

#include <string>
#include <utility>

class StartResult {
public:
    static StartResult Started() { return StartResult(true, ""); }
    static StartResult Failed(std::string reason) { return StartResult(false, std::move(reason)); }

    bool Succeeded() const { return started_; }
    const std::string& Reason() const { return reason_; }

private:
    StartResult(bool started, std::string reason) : started_(started), reason_(std::move(reason)) {}

    bool started_;
    std::string reason_;
};
