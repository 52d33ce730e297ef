#pragma once
// Message boxes for the program's windows. Boxes are always shown on the GUI
// thread; a worker that asks for a blocking box waits for it there.

#include "platform/messages.h"

class QtMessageSink : public MessageSink {
public:
    void Error(const std::string& text, bool blocking) override;
    void Info(const std::string& text) override;
    bool Confirm(const std::string& text) override;
};
