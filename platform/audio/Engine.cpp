#include "platform/audio/Engine.h"

#include "platform/audio/AlsaOutput.h"
#include "platform/audio/NullOutput.h"
#include "platform/audio/PulseOutput.h"
#include "platform/audio/WaveLine.h"
#include "platform/audio/WaveLineHook.h"

#include <atomic>
#include <cstdio>
#include <system_error>
#include <utility>

namespace audio {
namespace {

// About 90 ms of CD-quality sound per decoding step.
constexpr std::size_t kChunkBytes = 16 * 1024;

std::atomic<Engine*> g_engine{nullptr};

void scaleSamples(std::uint8_t* data, std::size_t bytes, std::uint16_t gain) {
    auto* samples = reinterpret_cast<std::int16_t*>(data);
    for (std::size_t i = 0; i < bytes / 2; ++i)
        samples[i] = static_cast<std::int16_t>(samples[i] * static_cast<std::int32_t>(gain) /
                                               waveline::kMaxVolume);
}

// A file being opened on a thread of its own; whoever comes second (the opener with the
// decoder, or the caller giving up) settles what becomes of the decoder.
struct Opening {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool withdrawn = false;
    std::unique_ptr<Decoder> decoder;
    OpenStatus status = OpenStatus::NotFound;
};

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

// A command's answer. The engine takes a command up only if its caller still waits for it, and
// a caller gives up only on a command not taken up yet: a command that timed out never ran.
template <typename T> struct Engine::Reply {
    std::mutex mutex;
    std::condition_variable answered;
    bool started = false;
    bool withdrawn = false;
    std::optional<T> value;
};

Engine& Engine::instance() {
    static Engine engine;
    return engine;
}

Engine::Outputs Engine::automaticOutputs() {
    Outputs outputs;
    outputs.push_back(std::make_unique<PulseOutput>());
    outputs.push_back(std::make_unique<AlsaOutput>());
    outputs.push_back(std::make_unique<NullOutput>());
    return outputs;
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
        interruptOutputLocked();
    }
    m_thread.join();
    m_streams.clear();
    closeOutput();
}

// Under m_mutex: an engine thread blocked in the output comes back to look at its commands.
void Engine::interruptOutputLocked() {
    if (m_interruptible)
        m_interruptible->interrupt();
}

void Engine::post(std::function<void()> command) {
    std::lock_guard lock(m_mutex);
    m_commands.push_back(std::move(command));
    m_wake.notify_one();
    interruptOutputLocked();
}

bool Engine::stalled() {
    std::lock_guard lock(m_mutex);
    return m_stalled;
}

template <typename T>
std::optional<T> Engine::ask(std::function<T()> question,
                             std::optional<Clock::time_point> deadline) {
    if (deadline && stalled())
        return std::nullopt;
    auto reply = std::make_shared<Reply<T>>();
    post([this, reply, question = std::move(question)] {
        {
            std::lock_guard lock(reply->mutex);
            if (reply->withdrawn) { // the engine is back: commands may wait for it again
                std::lock_guard engineLock(m_mutex);
                m_stalled = false;
                return;
            }
            reply->started = true;
        }
        T answer = question();
        reportChange(); // published before the caller goes on
        std::lock_guard lock(reply->mutex);
        reply->value = std::move(answer);
        reply->answered.notify_all();
    });
    std::unique_lock lock(reply->mutex);
    const auto hasValue = [&] { return reply->value.has_value(); };
    const bool takenUp =
        !deadline || reply->answered.wait_until(lock, *deadline, hasValue) || reply->started;
    if (takenUp) { // in time: what is left is the command's own work
        reply->answered.wait(lock, hasValue);
        return reply->value;
    }
    // Before the engine can see the command withdrawn, so that it is the one to lift this.
    reply->withdrawn = true;
    std::lock_guard engineLock(m_mutex);
    m_stalled = true;
    return std::nullopt;
}

template <typename T> std::optional<T> Engine::ask(std::function<T()> question) {
    return ask<T>(std::move(question), Clock::now() + kCommandWait);
}

void Engine::call(std::function<void()> command) {
    ask<bool>(
        [command = std::move(command)] {
            command();
            return true;
        },
        std::nullopt);
}

void Engine::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        while (!m_commands.empty()) {
            auto command = std::move(m_commands.front());
            m_commands.pop_front();
            lock.unlock();
            command();
            command = nullptr; // what it holds (a withdrawn decoder) goes here, unlocked
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
        finishStream(stream);
        return;
    }
    stream.pcm.resize(kChunkBytes);
    std::size_t bytes = 0;
    const auto status = stream.decoder->read(stream.pcm.data(), stream.pcm.size(), &bytes);
    stream.pcm.resize(bytes);
    stream.offset = 0;
    stream.decoded = status == Decoder::ReadStatus::End;
}

// Every sample is queued: the song ends once they have been heard. A server holds back a
// song shorter than its start threshold until the drain. A wait cut short is taken up again
// at the next step, also when the interrupt was meant for a command carried out already; a
// broken output has lost what it held, and the song ends there.
void Engine::finishStream(Stream& stream) {
    if (m_outputOpen && m_output->drain() == Output::DrainResult::Interrupted)
        return;
    stream.atEnd = true;
    stream.mode = StreamMode::Stopped;
}

void Engine::playStep(Stream& stream) {
    const PcmFormat format = stream.decoder->format();
    if (stream.pcm.size() - stream.offset < static_cast<std::size_t>(format.bytesPerFrame())) {
        endAtPartialFrame(stream);
        return;
    }
    retryBetterOutput(format);
    switch (ensureOutput(format)) {
    case OutputState::Waiting:
        return;
    case OutputState::Unavailable: // nothing can play it: the song ends silently
        stream.mode = StreamMode::Stopped;
        return;
    case OutputState::Ready:
        break;
    }
    const long taken =
        writeScaled(stream.pcm.data() + stream.offset, stream.pcm.size() - stream.offset);
    if (taken < 0) {
        // The server restarted or the device went away: the next step opens an output again,
        // from the top of the list, and writes the same block there.
        closeOutput();
        return;
    }
    stream.offset += static_cast<std::size_t>(taken);
    stream.playedFrames += taken / stream.decoder->format().bytesPerFrame();
    m_playedFrames.store(stream.playedFrames, std::memory_order_relaxed);
}

// No output takes part of a frame: rather than offer it for ever, the song ends there, as one
// that played to its end (the decoder gives whole frames; this guards against an output that
// took part of one).
void Engine::endAtPartialFrame(Stream& stream) {
    std::fprintf(stderr, "quiva: %s: %zu bytes short of a whole sample frame; the song ends here\n",
                 stream.path.c_str(), stream.pcm.size() - stream.offset);
    stream.offset = stream.pcm.size();
    stream.decoded = true;
}

Engine::OutputState Engine::ensureOutput(const PcmFormat& format) {
    if (m_outputOpen && m_outputFormat == format)
        return OutputState::Ready;
    // A format change inside one song: let the old format's samples play out first.
    if (m_outputOpen && !m_outputPaused && m_output->drain() == Output::DrainResult::Interrupted)
        return OutputState::Waiting;
    closeOutput();
    return openOutput(format) ? OutputState::Ready : OutputState::Unavailable;
}

bool Engine::openOutput(const PcmFormat& format) {
    if (m_outputs.empty())
        m_outputs = automaticOutputs();
    for (auto& output : m_outputs) {
        if (tryOutput(output.get(), format)) {
            m_nextRetry = now() + kRetryInterval;
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

// On the fallback (the last output of the list), tries the better ones again once in a
// while; what the fallback still holds is dropped for the switch.
void Engine::retryBetterOutput(const PcmFormat& format) {
    if (!m_outputOpen || m_outputs.size() < 2 || m_output != m_outputs.back().get() ||
        now() < m_nextRetry)
        return;
    m_nextRetry = now() + kRetryInterval;
    Output* fallback = m_output;
    for (std::size_t i = 0; i + 1 < m_outputs.size(); ++i) {
        if (tryOutput(m_outputs[i].get(), format)) {
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
    engine->interruptOutputLocked();
}

Engine::Stream* Engine::find(StreamId id) {
    const auto found = m_streams.find(id);
    return found == m_streams.end() ? nullptr : &found->second;
}

Engine::Clock::time_point Engine::now() const {
    return m_clock ? m_clock() : Clock::now();
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
    DecoderFactory factory;
    {
        std::lock_guard lock(m_mutex);
        if (m_stalled) {
            *status = OpenStatus::TimedOut;
            return 0;
        }
        factory = m_decoderFactory ? m_decoderFactory : DecoderFactory(&Decoder::open);
    }
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
        return 0;
    }

    auto decoder = std::make_shared<std::unique_ptr<Decoder>>();
    {
        std::unique_lock lock(opening->mutex);
        if (!opening->done.wait_for(lock, kOpenWait, [&] { return opening->finished; })) {
            opening->withdrawn = true;
            *status = OpenStatus::TimedOut;
            return 0;
        }
        *status = opening->status;
        *decoder = std::move(opening->decoder);
    }
    if (!*decoder)
        return 0;
    const auto id = ask<StreamId>([this, decoder, path] {
        const StreamId id = m_nextId++;
        m_streams[id].decoder = std::move(*decoder);
        m_streams[id].path = path;
        return id;
    });
    if (!id)
        *status = OpenStatus::TimedOut;
    return id.value_or(0);
}

CommandResult Engine::onStream(StreamId id, std::function<void(Stream&)> action) {
    const auto found = ask<bool>([this, id, action = std::move(action)] {
        Stream* stream = find(id);
        if (stream)
            action(*stream);
        return stream != nullptr;
    });
    if (!found)
        return CommandResult::TimedOut;
    return *found ? CommandResult::Done : CommandResult::UnknownStream;
}

CommandResult Engine::play(StreamId id) {
    return onStream(id, [this, id](Stream& stream) {
        if (stream.mode == StreamMode::Paused) {
            resumeStream(id, stream);
        } else if (stream.mode == StreamMode::Stopped && !stream.atEnd) {
            if (id != m_current) {
                silenceCurrent();
                m_current = id;
            }
            stream.mode = StreamMode::Playing;
        }
    });
}

CommandResult Engine::pause(StreamId id) {
    return onStream(id, [this, id](Stream& stream) {
        if (stream.mode != StreamMode::Playing)
            return;
        if (id == m_current && m_outputOpen) {
            m_output->pause(true);
            m_outputPaused = true;
        }
        stream.mode = StreamMode::Paused;
    });
}

CommandResult Engine::resume(StreamId id) {
    return onStream(id, [this, id](Stream& stream) {
        if (stream.mode == StreamMode::Paused)
            resumeStream(id, stream);
    });
}

void Engine::resumeStream(StreamId id, Stream& stream) {
    if (id == m_current && m_outputOpen && std::exchange(m_outputPaused, false))
        m_output->pause(false);
    stream.mode = StreamMode::Playing;
}

CommandResult Engine::stop(StreamId id) {
    return onStream(id, [this, id](Stream& stream) {
        if (id == m_current)
            silenceCurrent();
        stream.mode = StreamMode::Stopped;
    });
}

CommandResult Engine::close(StreamId id) {
    return onStream(id, [this, id](Stream&) {
        if (id == m_current) {
            closeOutput();
            m_current = 0;
        }
        m_streams.erase(id);
    });
}

void Engine::closeAll() {
    call([this] {
        closeOutput();
        m_current = 0;
        m_streams.clear();
    });
}

StreamMode Engine::mode(StreamId id) {
    return ask<StreamMode>([this, id] {
               const Stream* stream = find(id);
               return stream ? stream->mode : StreamMode::Stopped;
           })
        .value_or(StreamMode::Stopped);
}

int Engine::streamCount() {
    return ask<int>([this] { return static_cast<int>(m_streams.size()); }).value_or(0);
}

bool Engine::playing() {
    return ask<bool>([this] { return hasWork(); }).value_or(false);
}

void Engine::setOutputs(Outputs outputs) {
    auto given = std::make_shared<Outputs>(std::move(outputs));
    call([this, given] {
        closeOutput();
        m_output = nullptr;
        {
            // No caller reaches the old outputs once they are not the interruptible one.
            std::lock_guard lock(m_mutex);
            m_interruptible = nullptr;
        }
        m_outputs = std::move(*given);
    });
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
    Outputs outputs;
    if (output)
        outputs.push_back(std::move(output));
    setOutputs(std::move(outputs));
}

void Engine::setBufferMs(int bufferMs) {
    std::lock_guard lock(m_mutex);
    m_bufferMs = bufferMs;
}

std::string Engine::outputName() {
    return ask<std::string>(
               [this] { return m_outputOpen ? std::string(m_output->name()) : std::string(); })
        .value_or(std::string());
}

void Engine::setClock(ClockSource clock) {
    call([this, clock = std::move(clock)] { m_clock = clock; });
}

void Engine::setDecoderFactory(DecoderFactory factory) {
    std::lock_guard lock(m_mutex);
    m_decoderFactory = std::move(factory);
}

} // namespace audio
