// Captures the plug-in's trace messages (static library only) for one test,
// and builds the messages the tests expect to see.
#pragma once

#include <algorithm>
#include <set>
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

using Messages = std::vector<std::string>;

// The messages from the first `first` on (empty when it never came).
inline Messages MessagesFrom(const Messages &all, const std::string &first)
{
    return Messages(std::find(all.begin(), all.end(), first), all.end());
}

// The two messages around every option read.
inline std::string ReadingMessage(const std::string &key, const std::string &section)
{
    return "\nReading option " + key + " under " + section;
}

inline std::string NotFoundMessage(const std::string &key, const std::string &section)
{
    return "\nOption " + key + " under " + section + " not found";
}

// The messages of reading `keys` under section in order, `missing` among them absent.
inline Messages ReadMessages(const std::string &section, const std::vector<std::string> &keys,
                             const std::set<std::string> &missing)
{
    Messages messages;
    for (const std::string &key : keys) {
        messages.push_back(ReadingMessage(key, section));
        if (missing.count(key) != 0)
            messages.push_back(NotFoundMessage(key, section));
    }
    return messages;
}

// The generator's messages about the generic script copy.
inline std::string CopiedMessage(const std::string &module, const std::string &path)
{
    return "\nSuccessfully copied generic script for module " + module + " into output file " + path + ".";
}

inline std::string CopyErrorMessage(const std::string &module, const std::string &path)
{
    return "\nError copying generic script for module " + module + " into output file " + path + ".";
}

inline std::string NoGenericScriptMessage(const std::string &path, const std::string &module)
{
    return "\nError occured while opening the generic script. Please make sure you have a valid generic script file " +
           path + " for " + module;
}

inline std::string NotWrittenMessage(const std::string &path, unsigned long error)
{
    return "\nScript file " + path + " not written, system error " + std::to_string(error);
}

// The script of directory with prefix that the last formatted message names:
// a script that was removed can be found nowhere else.
inline std::string ScriptNamedLast(const std::string &directory, const std::string &prefix, const char *lastMessage)
{
    std::string message = lastMessage;
    std::size_t start = message.find(directory + "\\" + prefix);
    std::size_t end = message.find(".tmp", start);
    return start == std::string::npos || end == std::string::npos ? "" : message.substr(start, end + 4 - start);
}

} // namespace qritest
