#include "platform/mci/Mci.h"

#include "platform/audio/Engine.h"
#include "platform/mci/ShortPath.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

std::string lowered(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

std::vector<std::string> splitWords(std::string_view command) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < command.size()) {
        const auto start = command.find_first_not_of(" \t\r\n", at);
        if (start == std::string_view::npos)
            break;
        auto end = command.find_first_of(" \t\r\n", start);
        if (end == std::string_view::npos)
            end = command.size();
        words.emplace_back(command.substr(start, end - start));
        at = end;
    }
    return words;
}

std::uint32_t openError(audio::OpenStatus status) {
    switch (status) {
    case audio::OpenStatus::NotPlayable:
        return MCIERR_INVALID_FILE;
    case audio::OpenStatus::TimedOut:
        return MCIERR_DEVICE_NOT_READY;
    default:
        return MCIERR_FILE_NOT_FOUND;
    }
}

// The devices of the process by alias (kept in lower case: aliases ignore case too).
class Interpreter {
public:
    std::uint32_t run(std::string_view command) {
        std::lock_guard lock(m_mutex);
        auto words = splitWords(command);
        if (words.empty())
            return MCIERR_MISSING_COMMAND_STRING;
        const std::string verb = lowered(words[0]);
        if (verb == "open")
            return open(words);
        if (words.size() != 2)
            return words.size() < 2 ? MCIERR_MISSING_PARAMETER : MCIERR_UNRECOGNIZED_KEYWORD;
        const std::string alias = lowered(words[1]);
        if (verb == "close" && alias == "all")
            return closeAll();
        using Action = audio::CommandResult (audio::Engine::*)(audio::StreamId);
        static const std::map<std::string, Action> kActions = {
            {"play", &audio::Engine::play},     {"pause", &audio::Engine::pause},
            {"resume", &audio::Engine::resume}, {"stop", &audio::Engine::stop},
            {"close", &audio::Engine::close},
        };
        const auto action = kActions.find(verb);
        if (action == kActions.end())
            return MCIERR_UNRECOGNIZED_COMMAND;
        const auto device = m_devices.find(alias);
        if (device == m_devices.end())
            return MCIERR_INVALID_DEVICE_NAME;
        if ((audio::Engine::instance().*action->second)(device->second) ==
            audio::CommandResult::TimedOut)
            return MCIERR_DEVICE_NOT_READY;
        if (verb == "close")
            m_devices.erase(device);
        return 0;
    }

private:
    // A device that does not close in time stays open, so that a later close can release it.
    std::uint32_t closeAll() {
        std::uint32_t result = 0;
        for (auto device = m_devices.begin(); device != m_devices.end();) {
            if (audio::Engine::instance().close(device->second) == audio::CommandResult::TimedOut) {
                result = MCIERR_DEVICE_NOT_READY;
                ++device;
            } else {
                device = m_devices.erase(device);
            }
        }
        return result;
    }

    // open <element> type <device type> alias <name>
    std::uint32_t open(const std::vector<std::string>& words) {
        if (words.size() < 6 || lowered(words[1]) == "type")
            return MCIERR_MISSING_PARAMETER;
        if (words.size() > 6 || lowered(words[2]) != "type" || lowered(words[4]) != "alias")
            return MCIERR_UNRECOGNIZED_KEYWORD;
        if (lowered(words[3]) != "mpegvideo")
            return MCIERR_CANNOT_LOAD_DRIVER;
        const std::string alias = lowered(words[5]);
        if (alias == "all")
            return MCIERR_UNRECOGNIZED_KEYWORD;
        if (m_devices.count(alias))
            return MCIERR_DUPLICATE_ALIAS;
        audio::OpenStatus status = audio::OpenStatus::NotFound;
        const audio::StreamId stream =
            audio::Engine::instance().open(mci::detail::pathOfElement(words[1]), &status);
        if (stream == 0)
            return openError(status);
        m_devices[alias] = stream;
        return 0;
    }

    std::mutex m_mutex;
    std::map<std::string, audio::StreamId> m_devices;
};

Interpreter& interpreter() {
    static Interpreter instance;
    return instance;
}

std::mutex g_recorderMutex;
mci::CommandRecorder g_recorder;

} // namespace

std::uint32_t mciSendStringA(const char* command, char* returnString, unsigned returnLength,
                             void*) {
    if (returnString && returnLength > 0)
        returnString[0] = '\0';
    const std::string_view text = command ? command : "";
    {
        std::lock_guard lock(g_recorderMutex);
        if (g_recorder) {
            if (const auto result = g_recorder(text))
                return *result;
        }
    }
    return interpreter().run(text);
}

void mci::setCommandRecorder(CommandRecorder recorder) {
    std::lock_guard lock(g_recorderMutex);
    g_recorder = std::move(recorder);
}
