#pragma once

#include "platform/audio/Engine.h"
#include "platform/audio/WavFileOutput.h"

#include <QString>
#include <memory>

// The engine plays into WAV files "<prefix>1.wav", "<prefix>2.wav"... while this object lives,
// and into its own outputs again afterwards. For tests that link the platform library.
class WavCapture {
public:
    explicit WavCapture(const QString& prefix) {
        auto output = std::make_unique<audio::WavFileOutput>(prefix.toStdString());
        m_output = output.get();
        audio::Engine::instance().setOutput(std::move(output));
    }
    ~WavCapture() { audio::Engine::instance().setOutput(nullptr); }
    WavCapture(const WavCapture&) = delete;
    WavCapture& operator=(const WavCapture&) = delete;

    audio::WavFileOutput* operator->() const { return m_output; }

private:
    audio::WavFileOutput* m_output;
};
