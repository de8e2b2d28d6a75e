#pragma once

#include "platform/audio/Output.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace audio {

// Writes what plays into WAV files, one file per open(): "<prefix>1.wav", "<prefix>2.wav"...
// For tests: the samples can be compared with a reference, and a manual clock (a budget of
// frames it may take) lets a test hold the engine at any sample without sleeping. Volume is
// left to the engine, so the files show its scaling. The test-side functions may be called
// from any thread.
class WavFileOutput final : public Output {
public:
    explicit WavFileOutput(std::string pathPrefix);
    ~WavFileOutput() override;

    bool open(const PcmFormat& format, int bufferMs) override;
    long write(const std::uint8_t* data, std::size_t bytes) override;
    void drop() override {}
    DrainResult drain() override { return DrainResult::Drained; }
    void pause(bool) override {}
    void close() override;
    long long delayFrames() override { return 0; }
    bool setVolume(std::uint16_t, bool) override { return false; }
    void interrupt() override;
    const char* name() const override { return "wav"; }

    // Manual clock: from now on write() takes frames only while the total it has taken over
    // all files stays within `frames`, and blocks otherwise. nullopt: no limit (the default).
    void setFrameBudget(std::optional<long long> frames);
    // Frames taken so far, over all files.
    long long framesWritten() const;
    // Waits until at least `frames` have been taken; false on timeout.
    bool waitForFrames(long long frames, std::chrono::milliseconds timeout) const;
    // Paths of the files written so far, in order; the last may still be open.
    std::vector<std::string> files() const;

private:
    void finishFile();

    const std::string m_prefix;
    std::FILE* m_file = nullptr;
    PcmFormat m_format;
    long long m_fileBytes = 0;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::optional<long long> m_budget;
    long long m_written = 0;
    bool m_interrupted = false;
    std::vector<std::string> m_files;
};

} // namespace audio
