#include "platform/audio/Engine.h"

#include "platform/audio/AlsaOutput.h"
#include "platform/audio/EngineImpl.h"
#include "platform/audio/NullOutput.h"
#include "platform/audio/PulseOutput.h"
#include "platform/audio/WaveLine.h"
#include "platform/audio/WaveLineHook.h"

#include <atomic>
#include <cstdio>
#include <utility>

namespace audio {
namespace {

// About 90 ms of CD-quality sound per decoding step.
constexpr std::size_t kChunkBytes = 16 * 1024;

void scaleSamples(std::uint8_t* data, std::size_t bytes, std::uint16_t gain) {
    auto* samples = reinterpret_cast<std::int16_t*>(data);
    for (std::size_t i = 0; i < bytes / 2; ++i)
        samples[i] = static_cast<std::int16_t>(samples[i] * static_cast<std::int32_t>(gain) /
                                               waveline::kMaxVolume);
}

} // namespace

// A caller waits for the engine longer than the engine waits for an output in one step.
static_assert(Engine::kCommandWait > std::chrono::milliseconds(PulseOutput::kLongestWaitMs));

std::atomic<Engine::Impl*> Engine::Impl::g_engine{nullptr};

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

Engine::Engine() : m_impl(std::make_unique<Impl>()) {}

Engine::~Engine() = default;

Engine::Impl::Impl() : m_thread([this] { run(); }) {
    g_engine = this;
    waveline::detail::setChangeListener(&Impl::onWaveLineChanged);
}

Engine::Impl::~Impl() {
    waveline::detail::setChangeListener(nullptr);
    g_engine = nullptr;
    m_commands.post([this] { m_quit = true; });
    m_thread.join();
    m_streams.clear();
    closeOutput();
}

void Engine::Impl::run() {
    for (;;) {
        m_commands.runQueued();
        if (m_quit)
            return;
        if (hasWork()) {
            step();
            reportChange();
        } else {
            m_commands.waitForCommand();
        }
    }
}

bool Engine::Impl::hasWork() const {
    const auto current = m_streams.find(m_current);
    return current != m_streams.end() && current->second.mode == StreamMode::Playing;
}

void Engine::Impl::step() {
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
void Engine::Impl::finishStream(Stream& stream) {
    if (m_outputOpen && m_output->drain() == Output::DrainResult::Interrupted)
        return;
    stream.atEnd = true;
    stream.heardFrames = stream.handedFrames;
    stream.mode = StreamMode::Stopped;
}

void Engine::Impl::playStep(Stream& stream) {
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
    stream.handedFrames += taken / stream.decoder->format().bytesPerFrame();
}

// No output takes part of a frame: rather than offer it for ever, the song ends there, as one
// that played to its end (the decoder gives whole frames; this guards against an output that
// took part of one).
void Engine::Impl::endAtPartialFrame(Stream& stream) {
    std::fprintf(stderr, "quiva: %s: %zu bytes short of a whole sample frame; the song ends here\n",
                 stream.path.c_str(), stream.pcm.size() - stream.offset);
    stream.offset = stream.pcm.size();
    stream.decoded = true;
}

Engine::Impl::OutputState Engine::Impl::ensureOutput(const PcmFormat& format) {
    if (m_outputOpen && m_outputFormat == format)
        return OutputState::Ready;
    // A format change inside one song: let the old format's samples play out first.
    if (m_outputOpen && !m_outputPaused && m_output->drain() == Output::DrainResult::Interrupted)
        return OutputState::Waiting;
    closeOutput();
    return openOutput(format) ? OutputState::Ready : OutputState::Unavailable;
}

bool Engine::Impl::openOutput(const PcmFormat& format) {
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
bool Engine::Impl::tryOutput(Output* output, const PcmFormat& format) {
    const int bufferMs = m_bufferMs;
    m_commands.setInterrupt([output] { output->interrupt(); });
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
void Engine::Impl::retryBetterOutput(const PcmFormat& format) {
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
    m_commands.setInterrupt([fallback] { fallback->interrupt(); });
}

void Engine::Impl::closeOutput() {
    if (!m_outputOpen)
        return;
    m_output->drop();
    m_output->close();
    m_outputOpen = false;
    m_outputPaused = false;
}

long Engine::Impl::writeScaled(const std::uint8_t* data, std::size_t bytes) {
    const std::uint16_t gain = waveline::muted() ? 0 : waveline::volume();
    if (!m_softwareGain || gain == waveline::kMaxVolume)
        return m_output->write(data, bytes);
    m_scratch.assign(data, data + bytes);
    scaleSamples(m_scratch.data(), m_scratch.size(), gain);
    return m_output->write(m_scratch.data(), m_scratch.size());
}

void Engine::Impl::applyGain() {
    if (m_output)
        m_softwareGain = !m_output->setVolume(waveline::volume(), waveline::muted());
}

void Engine::Impl::onWaveLineChanged() {
    Impl* engine = g_engine.load();
    if (!engine || engine->m_gainChanged.exchange(true))
        return; // the engine applies what the line holds when it comes to it
    engine->m_commands.post([engine] {
        engine->m_gainChanged = false;
        engine->applyGain();
    });
}

Engine::Impl::Stream* Engine::Impl::find(StreamId id) {
    const auto found = m_streams.find(id);
    return found == m_streams.end() ? nullptr : &found->second;
}

Engine::Clock::time_point Engine::Impl::now() const {
    return m_clock->now();
}

// Silences the stream the output holds, so that another can take the output.
void Engine::Impl::silenceCurrent() {
    if (Stream* current = find(m_current); current && current->mode != StreamMode::Stopped) {
        measureHeard(*current); // what the drop throws away was never heard
        current->mode = StreamMode::Stopped;
    }
    if (m_outputOpen) {
        m_output->drop();
        if (std::exchange(m_outputPaused, false))
            m_output->pause(false);
    }
}

} // namespace audio
