// Captures the plug-in's trace messages (static library only) for one test.
#pragma once

#include <string>
#include <vector>

namespace qritest {

class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture();
    TraceCapture(const TraceCapture &) = delete;
    TraceCapture &operator=(const TraceCapture &) = delete;

    const std::vector<std::string> &Messages() const { return messages_; }
    void Clear() { messages_.clear(); }

private:
    static void Record(const char *message, void *context);
    std::vector<std::string> messages_;
};

} // namespace qritest
