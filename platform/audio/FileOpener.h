#pragma once

#include "platform/audio/Decoder.h"
#include "platform/audio/WaitClock.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

// Opens a song's file and reads it up to its first frame on a thread of its own, so that a file
// whose reads block (a share that hangs) holds up neither the caller nor the engine.
//
// Thread rule: every function from any thread, concurrently. Each open() starts a short-lived
// detached thread, which outlives the call when the file's reads block.
//
// Error contract: open() returns the decoder, or null and the reason in `status`: TimedOut when
// the file is not open within the limit (or no thread is to be had); such a file is let go of,
// on its own thread, whenever its reads return.
namespace audio {

class FileOpener {
public:
    using Factory =
        std::function<std::unique_ptr<Decoder>(const std::string& path, OpenStatus* status)>;

    explicit FileOpener(std::shared_ptr<const WaitClock> clock = WaitClock::steady())
        : m_clock(std::move(clock)) {}

    std::unique_ptr<Decoder> open(const std::string& path, WaitClock::Clock::duration limit,
                                  OpenStatus* status);
    // What opens a file, for files that misbehave in tests (null: Decoder::open).
    void setFactory(Factory factory);
    // The clock limits are measured on from the next open() on.
    void setClock(std::shared_ptr<const WaitClock> clock);

private:
    struct Opening;

    std::mutex m_mutex;
    std::shared_ptr<const WaitClock> m_clock;
    Factory m_factory;
};

} // namespace audio
