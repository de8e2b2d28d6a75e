#include "platform/audio/WavFileOutput.h"

#include <algorithm>
#include <array>
#include <utility>

namespace audio {
namespace {

void putLe(std::uint8_t* at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::array<std::uint8_t, 44> wavHeader(const PcmFormat& format, std::uint32_t dataBytes) {
    std::array<std::uint8_t, 44> h{};
    std::copy_n("RIFF", 4, h.begin());
    putLe(&h[4], 36 + dataBytes, 4);
    std::copy_n("WAVEfmt ", 8, h.begin() + 8);
    putLe(&h[16], 16, 4);
    putLe(&h[20], 1, 2); // PCM
    const auto rateHz = static_cast<std::uint32_t>(format.rateHz);
    const auto frameBytes = static_cast<std::uint32_t>(format.bytesPerFrame());
    putLe(&h[22], static_cast<std::uint32_t>(format.channels), 2);
    putLe(&h[24], rateHz, 4);
    putLe(&h[28], rateHz * frameBytes, 4);
    putLe(&h[32], frameBytes, 2);
    putLe(&h[34], 16, 2);
    std::copy_n("data", 4, h.begin() + 36);
    putLe(&h[40], dataBytes, 4);
    return h;
}

} // namespace

WavFileOutput::WavFileOutput(std::string pathPrefix) : m_prefix(std::move(pathPrefix)) {}

WavFileOutput::~WavFileOutput() {
    close();
}

bool WavFileOutput::open(const PcmFormat& format, int) {
    close();
    std::string path;
    {
        std::lock_guard lock(m_mutex);
        path = m_prefix + std::to_string(m_files.size() + 1) + ".wav";
    }
    m_file = std::fopen(path.c_str(), "wb");
    if (!m_file)
        return false;
    m_format = format;
    m_fileBytes = 0;
    const auto header = wavHeader(format, 0);
    std::fwrite(header.data(), 1, header.size(), m_file);
    std::lock_guard lock(m_mutex);
    m_files.push_back(path);
    return true;
}

long WavFileOutput::write(const std::uint8_t* data, std::size_t bytes) {
    const long long frameBytes = m_format.bytesPerFrame();
    long long frames = static_cast<long long>(bytes) / frameBytes;
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_interrupted || !m_budget || *m_budget > m_written; });
        if (std::exchange(m_interrupted, false))
            return 0;
        if (m_budget)
            frames = std::min(frames, *m_budget - m_written);
    }
    const auto writing = static_cast<std::size_t>(frames * frameBytes);
    if (std::fwrite(data, 1, writing, m_file) != writing)
        return -1;
    std::fflush(m_file);
    m_fileBytes += frames * frameBytes;
    std::lock_guard lock(m_mutex);
    m_written += frames;
    m_changed.notify_all();
    return static_cast<long>(frames * frameBytes);
}

void WavFileOutput::close() {
    if (!m_file)
        return;
    finishFile();
    std::fclose(m_file);
    m_file = nullptr;
}

void WavFileOutput::finishFile() {
    const auto header = wavHeader(m_format, static_cast<std::uint32_t>(m_fileBytes));
    std::fseek(m_file, 0, SEEK_SET);
    std::fwrite(header.data(), 1, header.size(), m_file);
}

void WavFileOutput::interrupt() {
    std::lock_guard lock(m_mutex);
    m_interrupted = true;
    m_changed.notify_all();
}

void WavFileOutput::setFrameBudget(std::optional<long long> frames) {
    std::lock_guard lock(m_mutex);
    m_budget = frames;
    m_changed.notify_all();
}

long long WavFileOutput::framesWritten() const {
    std::lock_guard lock(m_mutex);
    return m_written;
}

bool WavFileOutput::waitForFrames(long long frames, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_written >= frames; });
}

std::vector<std::string> WavFileOutput::files() const {
    std::lock_guard lock(m_mutex);
    return m_files;
}

} // namespace audio
