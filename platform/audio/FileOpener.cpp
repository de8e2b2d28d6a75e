#include "platform/audio/FileOpener.h"

#include <system_error>
#include <thread>
#include <utility>

namespace audio {

// A file being opened on a thread of its own; whoever comes second (the opener with the
// decoder, or the caller giving up) settles what becomes of the decoder.
struct FileOpener::Opening {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool withdrawn = false;
    std::unique_ptr<Decoder> decoder;
    OpenStatus status = OpenStatus::NotFound;
};

std::unique_ptr<Decoder> FileOpener::open(const std::string& path, WaitClock::Clock::duration limit,
                                          OpenStatus* status) {
    Factory factory;
    std::shared_ptr<const WaitClock> clock;
    {
        std::lock_guard lock(m_mutex);
        factory = m_factory ? m_factory : Factory(&Decoder::open);
        clock = m_clock;
    }
    const auto deadline = clock->now() + limit;
    auto opening = std::make_shared<Opening>();
    try {
        std::thread([opening, factory = std::move(factory), path] {
            OpenStatus opened = OpenStatus::NotFound;
            auto decoder = factory(path, &opened);
            std::lock_guard lock(opening->mutex);
            if (opening->withdrawn)
                return; // the caller gave up on this file: it is closed here
            opening->decoder = std::move(decoder);
            opening->status = opened;
            opening->finished = true;
            opening->done.notify_all();
        }).detach();
    } catch (const std::system_error&) { // no thread to be had (many files hang): as they do
        *status = OpenStatus::TimedOut;
        return nullptr;
    }

    std::unique_lock lock(opening->mutex);
    if (!clock->waitUntil(lock, opening->done, deadline, [&] { return opening->finished; })) {
        opening->withdrawn = true;
        *status = OpenStatus::TimedOut;
        return nullptr;
    }
    *status = opening->status;
    return std::move(opening->decoder);
}

void FileOpener::setFactory(Factory factory) {
    std::lock_guard lock(m_mutex);
    m_factory = std::move(factory);
}

void FileOpener::setClock(std::shared_ptr<const WaitClock> clock) {
    std::lock_guard lock(m_mutex);
    m_clock = std::move(clock);
}

} // namespace audio
