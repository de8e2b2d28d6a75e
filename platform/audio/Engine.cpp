#include "platform/audio/Engine.h"

#include "platform/audio/AlsaOutput.h"
#include "platform/audio/NullOutput.h"
#include "platform/audio/PulseOutput.h"
#include "platform/audio/WaveLine.h"
#include "platform/audio/WaveLineHook.h"

#include <atomic>
#include <future>
#include <utility>

namespace audio {
namespace {

// About 90 ms of CD-quality sound per decoding step.
constexpr std::size_t kChunkBytes = 16 * 1024;
constexpr auto kRetryInterval = std::chrono::seconds(1);

std::atomic<Engine*> g_engine{nullptr};

void scaleSamples(std::uint8_t* data, std::size_t bytes, std::uint16_t gain) {
    auto* samples = reinterpret_cast<std::int16_t*>(data);
    for (std::size_t i = 0; i < bytes / 2; ++i)
        samples[i] = static_cast<std::int16_t>(samples[i] * static_cast<std::int32_t>(gain) /
                                               waveline::kMaxVolume);
}

} // namespace

struct Engine::Stream {
    std::unique_ptr<Decoder> decoder;
    std::string path;
    long long playedFrames = 0;
    std::vector<std::uint8_t> pcm; // decoded, not yet taken by the output from `offset` on
    std::size_t offset = 0;
    StreamMode mode = StreamMode::Stopped;
    bool decoded = false; // the decoder has given its last sample
    bool atEnd = false;   // and the output has played it
};

Engine& Engine::instance() {
    static Engine engine;
    return engine;
}

Engine::Engine() : m_thread([this] { run(); }) {
    g_engine = this;
    waveline::detail::setChangeListener(&Engine::onWaveLineChanged);
}

Engine::~Engine() {
    waveline::detail::setChangeListener(nullptr);
    g_engine = nullptr;
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        m_wake.notify_one();
        if (m_interruptible)
            m_interruptible->interrupt();
    }
    m_thread.join();
    m_streams.clear();
    closeOutput();
}

void Engine::call(const std::function<void()>& command) {
    std::promise<void> done;
    auto finished = done.get_future();
    {
        std::lock_guard lock(m_mutex);
        m_commands.emplace_back([&] {
            command();
            reportChange(); // published before the caller goes on
            done.set_value();
        });
        m_wake.notify_one();
        if (m_interruptible)
            m_interruptible->interrupt();
    }
    finished.wait();
}

template <typename T> T Engine::ask(const std::function<T()>& question) {
    T answer{};
    call([&] { answer = question(); });
    return answer;
}

void Engine::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        while (!m_commands.empty()) {
            auto command = std::move(m_commands.front());
            m_commands.pop_front();
            lock.unlock();
            command();
            lock.lock();
        }
        if (m_quit)
            return;
        if (std::exchange(m_gainChanged, false)) {
            lock.unlock();
            applyGain();
            lock.lock();
        } else if (hasWork()) {
            lock.unlock();
            step();
            reportChange();
            lock.lock();
        } else {
            m_wake.wait(lock, [this] { return !m_commands.empty() || m_quit || m_gainChanged; });
        }
    }
}

bool Engine::hasWork() const {
    const auto current = m_streams.find(m_current);
    return current != m_streams.end() && current->second.mode == StreamMode::Playing;
}

void Engine::step() {
    Stream& stream = m_streams.at(m_current);
    if (stream.offset < stream.pcm.size()) {
        playStep(stream);
        return;
    }
    if (stream.decoded) {
        // Every sample is queued: wait until it has been heard. A wait cut short by a command
        // is taken up again after it; one cut short by a broken output ends the song.
        if (!m_outputOpen || m_output->drain() || !hasPendingCommand()) {
            stream.atEnd = true;
            stream.mode = StreamMode::Stopped;
        }
        return;
    }
    stream.pcm.resize(kChunkBytes);
    std::size_t bytes = 0;
    const auto status = stream.decoder->read(stream.pcm.data(), stream.pcm.size(), &bytes);
    stream.pcm.resize(bytes);
    stream.offset = 0;
    stream.decoded = status == Decoder::ReadStatus::End;
}

void Engine::playStep(Stream& stream) {
    retryRealOutput(stream.decoder->format());
    if (!ensureOutput(stream.decoder->format())) {
        if (!hasPendingCommand()) // nothing can play it: the song ends silently
            stream.mode = StreamMode::Stopped;
        return;
    }
    const long taken =
        writeScaled(stream.pcm.data() + stream.offset, stream.pcm.size() - stream.offset);
    if (taken < 0) {
        // The server restarted or the device went away: the next step opens an output again.
        closeOutput();
        return;
    }
    stream.offset += static_cast<std::size_t>(taken);
    stream.playedFrames += taken / stream.decoder->format().bytesPerFrame();
    m_playedFrames.store(stream.playedFrames, std::memory_order_relaxed);
}

bool Engine::hasPendingCommand() {
    std::lock_guard lock(m_mutex);
    return !m_commands.empty() || m_quit || m_gainChanged;
}

bool Engine::ensureOutput(const PcmFormat& format) {
    if (m_outputOpen && m_outputFormat == format)
        return true;
    // A format change inside one song: let the old format's samples play out first.
    if (m_outputOpen && !m_outputPaused && !m_output->drain())
        return false;
    closeOutput();
    return openOutput(format);
}

bool Engine::openOutput(const PcmFormat& format) {
    std::vector<Output*> candidates;
    {
        std::lock_guard lock(m_mutex);
        if (m_injected)
            candidates.push_back(m_injected.get());
    }
    if (candidates.empty()) {
        if (m_automatic.empty()) {
            m_automatic.push_back(std::make_unique<PulseOutput>());
            m_automatic.push_back(std::make_unique<AlsaOutput>());
            m_automatic.push_back(std::make_unique<NullOutput>());
        }
        for (auto& output : m_automatic)
            candidates.push_back(output.get());
    }
    for (Output* output : candidates) {
        if (tryOutput(output, format)) {
            m_nextRetry = std::chrono::steady_clock::now() + kRetryInterval;
            return true;
        }
    }
    return false;
}

// Opens `output` and makes it the one in use; the one in use before (if open) stays open.
bool Engine::tryOutput(Output* output, const PcmFormat& format) {
    int bufferMs = 0;
    {
        std::lock_guard lock(m_mutex);
        bufferMs = m_bufferMs;
        m_interruptible = output;
    }
    m_softwareGain = !output->setVolume(waveline::volume(), waveline::muted());
    if (!output->open(format, bufferMs))
        return false;
    m_output = output;
    m_outputOpen = true;
    m_outputPaused = false;
    m_outputFormat = format;
    return true;
}

// On the automatic null output, tries the real ones again once in a while; what the null output
// still holds is dropped for the switch.
void Engine::retryRealOutput(const PcmFormat& format) {
    const auto now = std::chrono::steady_clock::now();
    if (!m_outputOpen || m_automatic.empty() || m_output != m_automatic.back().get() ||
        now < m_nextRetry)
        return;
    m_nextRetry = now + kRetryInterval;
    Output* fallback = m_output;
    for (std::size_t i = 0; i + 1 < m_automatic.size(); ++i) {
        if (tryOutput(m_automatic[i].get(), format)) {
            fallback->drop();
            fallback->close();
            return;
        }
    }
    m_softwareGain = !fallback->setVolume(waveline::volume(), waveline::muted());
    std::lock_guard lock(m_mutex);
    m_interruptible = fallback;
}

void Engine::closeOutput() {
    if (!m_outputOpen)
        return;
    m_output->drop();
    m_output->close();
    m_outputOpen = false;
    m_outputPaused = false;
}

long Engine::writeScaled(const std::uint8_t* data, std::size_t bytes) {
    const std::uint16_t gain = waveline::muted() ? 0 : waveline::volume();
    if (!m_softwareGain || gain == waveline::kMaxVolume)
        return m_output->write(data, bytes);
    m_scratch.assign(data, data + bytes);
    scaleSamples(m_scratch.data(), m_scratch.size(), gain);
    return m_output->write(m_scratch.data(), m_scratch.size());
}

void Engine::applyGain() {
    if (m_output)
        m_softwareGain = !m_output->setVolume(waveline::volume(), waveline::muted());
}

void Engine::onWaveLineChanged() {
    Engine* engine = g_engine.load();
    if (!engine)
        return;
    std::lock_guard lock(engine->m_mutex);
    engine->m_gainChanged = true;
    engine->m_wake.notify_one();
    if (engine->m_interruptible)
        engine->m_interruptible->interrupt();
}

Engine::Stream* Engine::find(StreamId id) {
    const auto found = m_streams.find(id);
    return found == m_streams.end() ? nullptr : &found->second;
}

// Silences the stream the output holds, so that another can take the output.
void Engine::silenceCurrent() {
    if (Stream* current = find(m_current); current && current->mode != StreamMode::Stopped)
        current->mode = StreamMode::Stopped;
    if (m_outputOpen) {
        m_output->drop();
        if (std::exchange(m_outputPaused, false))
            m_output->pause(false);
    }
}

StreamId Engine::open(const std::string& path, OpenStatus* status) {
    return ask<StreamId>([&]() -> StreamId {
        auto decoder = Decoder::open(path, status);
        if (!decoder)
            return 0;
        const StreamId id = m_nextId++;
        m_streams[id].decoder = std::move(decoder);
        m_streams[id].path = path;
        return id;
    });
}

bool Engine::play(StreamId id) {
    return ask<bool>([&] {
        Stream* stream = find(id);
        if (!stream)
            return false;
        if (stream->mode == StreamMode::Paused) {
            resumeStream(id, *stream);
        } else if (stream->mode == StreamMode::Stopped && !stream->atEnd) {
            if (id != m_current) {
                silenceCurrent();
                m_current = id;
            }
            stream->mode = StreamMode::Playing;
        }
        return true;
    });
}

bool Engine::pause(StreamId id) {
    return ask<bool>([&] {
        Stream* stream = find(id);
        if (!stream)
            return false;
        if (stream->mode == StreamMode::Playing) {
            if (id == m_current && m_outputOpen) {
                m_output->pause(true);
                m_outputPaused = true;
            }
            stream->mode = StreamMode::Paused;
        }
        return true;
    });
}

bool Engine::resume(StreamId id) {
    return ask<bool>([&] {
        Stream* stream = find(id);
        if (!stream)
            return false;
        if (stream->mode == StreamMode::Paused)
            resumeStream(id, *stream);
        return true;
    });
}

void Engine::resumeStream(StreamId id, Stream& stream) {
    if (id == m_current && m_outputOpen && std::exchange(m_outputPaused, false))
        m_output->pause(false);
    stream.mode = StreamMode::Playing;
}

bool Engine::stop(StreamId id) {
    return ask<bool>([&] {
        Stream* stream = find(id);
        if (!stream)
            return false;
        if (id == m_current)
            silenceCurrent();
        stream->mode = StreamMode::Stopped;
        return true;
    });
}

bool Engine::close(StreamId id) {
    return ask<bool>([&] {
        if (!find(id))
            return false;
        if (id == m_current) {
            closeOutput();
            m_current = 0;
        }
        m_streams.erase(id);
        return true;
    });
}

void Engine::closeAll() {
    call([&] {
        closeOutput();
        m_current = 0;
        m_streams.clear();
    });
}

StreamMode Engine::mode(StreamId id) {
    return ask<StreamMode>([&] {
        const Stream* stream = find(id);
        return stream ? stream->mode : StreamMode::Stopped;
    });
}

int Engine::streamCount() {
    return ask<int>([&] { return static_cast<int>(m_streams.size()); });
}

bool Engine::playing() {
    return ask<bool>([&] { return hasWork(); });
}

std::optional<StreamInfo> Engine::currentStream() {
    std::lock_guard lock(m_publishedMutex);
    std::optional<StreamInfo> info = m_published;
    if (info)
        info->playedFrames = m_playedFrames.load(std::memory_order_relaxed);
    return info;
}

void Engine::setChangeListener(std::function<void()> listener) {
    call([&] { m_changeListener = std::move(listener); });
}

// Engine thread, after each command and decoding step: a cheap look at what readers see, and
// when it changed, a copy for them and a word to the listener.
void Engine::reportChange() {
    const Stream* current = find(m_current);
    const std::pair seen{current ? m_current : 0, current ? current->mode : StreamMode::Stopped};
    if (seen == m_reported)
        return;
    m_reported = seen;
    {
        std::lock_guard lock(m_publishedMutex);
        m_published.reset();
        if (current)
            m_published = StreamInfo{current->mode, current->path, current->decoder->info(),
                                     current->decoder->format().rateHz, current->playedFrames};
        m_playedFrames.store(current ? current->playedFrames : 0, std::memory_order_relaxed);
    }
    if (m_changeListener)
        m_changeListener();
}

void Engine::setOutput(std::unique_ptr<Output> output) {
    call([&] {
        closeOutput();
        m_output = nullptr;
        std::lock_guard lock(m_mutex);
        m_interruptible = nullptr;
        if (m_injected)
            m_retired.push_back(std::move(m_injected));
        m_injected = std::move(output);
    });
}

void Engine::setBufferMs(int bufferMs) {
    std::lock_guard lock(m_mutex);
    m_bufferMs = bufferMs;
}

std::string Engine::outputName() {
    return ask<std::string>([&] { return m_outputOpen ? std::string(m_output->name()) : ""; });
}

} // namespace audio
