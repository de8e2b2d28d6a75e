#include "platform/audio/Engine.h"

#include "platform/audio/EngineImpl.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace audio {

StreamId Engine::open(const std::string& path, OpenStatus* status) {
    return m_impl->open(path, status);
}

CommandResult Engine::play(StreamId id) {
    return m_impl->play(id);
}

CommandResult Engine::pause(StreamId id) {
    return m_impl->pause(id);
}

CommandResult Engine::resume(StreamId id) {
    return m_impl->resume(id);
}

CommandResult Engine::stop(StreamId id) {
    return m_impl->stop(id);
}

CommandResult Engine::close(StreamId id) {
    return m_impl->close(id);
}

void Engine::closeAll() {
    m_impl->closeAll();
}

StreamMode Engine::mode(StreamId id) {
    return m_impl->mode(id);
}

int Engine::streamCount() {
    return m_impl->streamCount();
}

bool Engine::playing() {
    return m_impl->playing();
}

std::optional<StreamInfo> Engine::currentStream() {
    return m_impl->currentStream();
}

void Engine::setChangeListener(std::function<void()> listener) {
    m_impl->setChangeListener(std::move(listener));
}

void Engine::setOutputs(Outputs outputs) {
    m_impl->setOutputs(std::move(outputs));
}

std::string Engine::outputName() {
    return m_impl->outputName();
}

void Engine::setClock(std::shared_ptr<const WaitClock> clock) {
    m_impl->setClock(std::move(clock));
}

template <typename T> std::optional<T> Engine::Impl::ask(std::function<T()> question) {
    // The command holds its answer and question itself, off the caller's stack: a withdrawn one
    // stays queued after its caller has gone, and a decoder in it goes on the engine thread.
    auto answer = std::make_shared<std::optional<T>>();
    const bool ran = m_commands.call(
        [this, answer, question = std::move(question)] {
            *answer = question();
            reportChange(); // published before the caller goes on
        },
        kCommandWait);
    return ran ? *answer : std::nullopt;
}

void Engine::Impl::call(std::function<void()> command) {
    m_commands.call(
        [this, command = std::move(command)] {
            command();
            reportChange();
        },
        std::nullopt);
}

StreamId Engine::Impl::open(const std::string& path, OpenStatus* status) {
    if (m_commands.stalled()) {
        *status = OpenStatus::TimedOut;
        return 0;
    }
    auto decoder =
        std::make_shared<std::unique_ptr<Decoder>>(m_opener.open(path, kOpenWait, status));
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

CommandResult Engine::Impl::onStream(StreamId id, std::function<void(Stream&)> action) {
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

CommandResult Engine::Impl::play(StreamId id) {
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

CommandResult Engine::Impl::pause(StreamId id) {
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

CommandResult Engine::Impl::resume(StreamId id) {
    return onStream(id, [this, id](Stream& stream) {
        if (stream.mode == StreamMode::Paused)
            resumeStream(id, stream);
    });
}

void Engine::Impl::resumeStream(StreamId id, Stream& stream) {
    if (id == m_current && m_outputOpen && std::exchange(m_outputPaused, false))
        m_output->pause(false);
    stream.mode = StreamMode::Playing;
}

CommandResult Engine::Impl::stop(StreamId id) {
    return onStream(id, [this, id](Stream& stream) {
        if (id == m_current)
            silenceCurrent();
        stream.mode = StreamMode::Stopped;
    });
}

CommandResult Engine::Impl::close(StreamId id) {
    return onStream(id, [this, id](Stream&) {
        if (id == m_current) {
            closeOutput();
            m_current = 0;
        }
        m_streams.erase(id);
    });
}

void Engine::Impl::closeAll() {
    call([this] {
        closeOutput();
        m_current = 0;
        m_streams.clear();
    });
}

StreamMode Engine::Impl::mode(StreamId id) {
    return ask<StreamMode>([this, id] {
               const Stream* stream = find(id);
               return stream ? stream->mode : StreamMode::Stopped;
           })
        .value_or(StreamMode::Stopped);
}

int Engine::Impl::streamCount() {
    return ask<int>([this] { return static_cast<int>(m_streams.size()); }).value_or(0);
}

bool Engine::Impl::playing() {
    return ask<bool>([this] { return hasWork(); }).value_or(false);
}

void Engine::Impl::setOutputs(Outputs outputs) {
    auto given = std::make_shared<Outputs>(std::move(outputs));
    call([this, given] {
        closeOutput();
        m_output = nullptr;
        // No caller reaches the old outputs once they are not the interruptible one.
        m_commands.setInterrupt(nullptr);
        m_outputs = std::move(*given);
    });
}

std::optional<StreamInfo> Engine::Impl::currentStream() {
    std::lock_guard lock(m_publishedMutex);
    std::optional<StreamInfo> info = m_published;
    if (info)
        info->heardFrames = m_answeredFrames = std::max(m_answeredFrames, heardNow());
    return info;
}

// Between the engine's measures, which come as often as it writes (a few times a second with a
// long buffer), the song plays on at its rate. Lock held.
long long Engine::Impl::heardNow() const {
    if (!m_mark.moving || !m_published)
        return m_mark.heard;
    const auto elapsedUs =
        std::chrono::duration_cast<std::chrono::microseconds>(m_clock->now() - m_mark.at).count();
    const long long since = std::max<long long>(0, elapsedUs) * m_published->rateHz / 1000000;
    return std::min(m_mark.heard + since, m_mark.handed);
}

void Engine::Impl::setChangeListener(std::function<void()> listener) {
    call([&] { m_changeListener = std::move(listener); });
}

// Engine thread, after each command and decoding step: the position measured again, a cheap
// look at what readers see, and when it changed, a copy for them and a word to the listener.
void Engine::Impl::reportChange() {
    Stream* current = find(m_current);
    publishPosition(current);
    const std::pair seen{current ? m_current : 0, current ? current->mode : StreamMode::Stopped};
    if (seen == m_reported)
        return;
    const bool sameStream = seen.first == m_reported.first;
    m_reported = seen;
    {
        std::lock_guard lock(m_publishedMutex);
        m_published.reset();
        if (current)
            m_published = StreamInfo{current->mode, current->path, current->decoder->info(),
                                     current->decoder->format().rateHz, current->heardFrames};
        if (!sameStream)
            m_answeredFrames = 0;
    }
    if (m_changeListener)
        m_changeListener();
}

// Engine thread, after each command and step: what has been heard of the song the output
// holds, for readers to carry on from.
void Engine::Impl::publishPosition(Stream* current) {
    PositionMark mark;
    if (current) {
        if (current->mode != StreamMode::Stopped)
            measureHeard(*current);
        const bool sounding =
            current->mode == StreamMode::Playing && m_outputOpen && !m_outputPaused;
        mark = {current->heardFrames, current->handedFrames, now(), sounding};
    }
    std::lock_guard lock(m_publishedMutex);
    m_mark = mark;
}

// The output's delay is read right after the engine's own step, so that both counts agree.
void Engine::Impl::measureHeard(Stream& stream) {
    if (stream.atEnd || !m_outputOpen)
        return;
    const long long heard = stream.handedFrames - m_output->delayFrames();
    stream.heardFrames = std::max(stream.heardFrames, heard);
}

void Engine::setOutput(std::unique_ptr<Output> output) {
    Outputs outputs;
    if (output)
        outputs.push_back(std::move(output));
    setOutputs(std::move(outputs));
}

void Engine::setBufferMs(int bufferMs) {
    m_impl->m_bufferMs = bufferMs;
}

std::string Engine::Impl::outputName() {
    return ask<std::string>(
               [this] { return m_outputOpen ? std::string(m_output->name()) : std::string(); })
        .value_or(std::string());
}

void Engine::Impl::setClock(std::shared_ptr<const WaitClock> clock) {
    if (!clock)
        clock = WaitClock::steady();
    m_commands.setClock(clock);
    m_opener.setClock(clock);
    call([this, clock] {
        std::lock_guard lock(m_publishedMutex);
        m_clock = clock;
    });
}

void Engine::setDecoderFactory(DecoderFactory factory) {
    m_impl->m_opener.setFactory(std::move(factory));
}

} // namespace audio
