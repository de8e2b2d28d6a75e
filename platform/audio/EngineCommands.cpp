#include "platform/audio/Engine.h"

#include "platform/audio/EngineImpl.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace audio {

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

StreamId Engine::open(const std::string& path, OpenStatus* status) {
    if (m_impl->m_commands.stalled()) {
        *status = OpenStatus::TimedOut;
        return 0;
    }
    auto decoder =
        std::make_shared<std::unique_ptr<Decoder>>(m_impl->m_opener.open(path, kOpenWait, status));
    if (!*decoder)
        return 0;
    const auto id = m_impl->ask<StreamId>([impl = m_impl.get(), decoder, path] {
        const StreamId id = impl->m_nextId++;
        impl->m_streams[id].decoder = std::move(*decoder);
        impl->m_streams[id].path = path;
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

CommandResult Engine::play(StreamId id) {
    return m_impl->onStream(id, [impl = m_impl.get(), id](Impl::Stream& stream) {
        if (stream.mode == StreamMode::Paused) {
            impl->resumeStream(id, stream);
        } else if (stream.mode == StreamMode::Stopped && !stream.atEnd) {
            if (id != impl->m_current) {
                impl->silenceCurrent();
                impl->m_current = id;
            }
            stream.mode = StreamMode::Playing;
        }
    });
}

CommandResult Engine::pause(StreamId id) {
    return m_impl->onStream(id, [impl = m_impl.get(), id](Impl::Stream& stream) {
        if (stream.mode != StreamMode::Playing)
            return;
        if (id == impl->m_current && impl->m_outputOpen) {
            impl->m_output->pause(true);
            impl->m_outputPaused = true;
        }
        stream.mode = StreamMode::Paused;
    });
}

CommandResult Engine::resume(StreamId id) {
    return m_impl->onStream(id, [impl = m_impl.get(), id](Impl::Stream& stream) {
        if (stream.mode == StreamMode::Paused)
            impl->resumeStream(id, stream);
    });
}

void Engine::Impl::resumeStream(StreamId id, Stream& stream) {
    if (id == m_current && m_outputOpen && std::exchange(m_outputPaused, false))
        m_output->pause(false);
    stream.mode = StreamMode::Playing;
}

CommandResult Engine::stop(StreamId id) {
    return m_impl->onStream(id, [impl = m_impl.get(), id](Impl::Stream& stream) {
        if (id == impl->m_current)
            impl->silenceCurrent();
        stream.mode = StreamMode::Stopped;
    });
}

CommandResult Engine::close(StreamId id) {
    return m_impl->onStream(id, [impl = m_impl.get(), id](Impl::Stream&) {
        if (id == impl->m_current) {
            impl->closeOutput();
            impl->m_current = 0;
        }
        impl->m_streams.erase(id);
    });
}

void Engine::closeAll() {
    m_impl->call([impl = m_impl.get()] {
        impl->closeOutput();
        impl->m_current = 0;
        impl->m_streams.clear();
    });
}

StreamMode Engine::mode(StreamId id) {
    return m_impl
        ->ask<StreamMode>([impl = m_impl.get(), id] {
            const Impl::Stream* stream = impl->find(id);
            return stream ? stream->mode : StreamMode::Stopped;
        })
        .value_or(StreamMode::Stopped);
}

int Engine::streamCount() {
    return m_impl
        ->ask<int>([impl = m_impl.get()] { return static_cast<int>(impl->m_streams.size()); })
        .value_or(0);
}

bool Engine::playing() {
    return m_impl->ask<bool>([impl = m_impl.get()] { return impl->hasWork(); }).value_or(false);
}

void Engine::setOutputs(Outputs outputs) {
    auto given = std::make_shared<Outputs>(std::move(outputs));
    m_impl->call([impl = m_impl.get(), given] {
        impl->closeOutput();
        impl->m_output = nullptr;
        // No caller reaches the old outputs once they are not the interruptible one.
        impl->m_commands.setInterrupt(nullptr);
        impl->m_outputs = std::move(*given);
    });
}

std::optional<StreamInfo> Engine::currentStream() {
    std::lock_guard lock(m_impl->m_publishedMutex);
    std::optional<StreamInfo> info = m_impl->m_published;
    if (info)
        info->heardFrames = m_impl->m_answeredFrames =
            std::max(m_impl->m_answeredFrames, m_impl->heardNow());
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

void Engine::setChangeListener(std::function<void()> listener) {
    m_impl->call([&] { m_impl->m_changeListener = std::move(listener); });
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

std::string Engine::outputName() {
    return m_impl
        ->ask<std::string>([impl = m_impl.get()] {
            return impl->m_outputOpen ? std::string(impl->m_output->name()) : std::string();
        })
        .value_or(std::string());
}

void Engine::setClock(std::shared_ptr<const WaitClock> clock) {
    if (!clock)
        clock = WaitClock::steady();
    m_impl->m_commands.setClock(clock);
    m_impl->m_opener.setClock(clock);
    m_impl->call([impl = m_impl.get(), clock] {
        std::lock_guard lock(impl->m_publishedMutex);
        impl->m_clock = clock;
    });
}

void Engine::setDecoderFactory(DecoderFactory factory) {
    m_impl->m_opener.setFactory(std::move(factory));
}

} // namespace audio
