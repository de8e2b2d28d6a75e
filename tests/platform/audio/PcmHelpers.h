#pragma once

#include "platform/audio/Mpg123Handle.h"
#include "platform/audio/WavFileOutput.h"

#include <QFile>
#include <QProcess>
#include <cstdint>
#include <string>
#include <vector>

// What the tests compare: 16-bit samples with their format.
struct Pcm {
    int rateHz = 0;
    int channels = 0;
    std::vector<std::int16_t> samples;
};

// libmpg123's own decode of a whole file, gapless, as 16-bit samples.
inline Pcm referenceDecode(const std::string& path) {
    Pcm pcm;
    mpg123_handle* handle = audio::newMpg123Handle(false);
    if (mpg123_open(handle, path.c_str()) == MPG123_OK) {
        long rate = 0;
        int encoding = 0;
        mpg123_getformat(handle, &rate, &pcm.channels, &encoding);
        pcm.rateHz = static_cast<int>(rate);
        std::vector<std::int16_t> block(8192);
        for (;;) {
            std::size_t bytes = 0;
            const int result = mpg123_read(handle, block.data(), block.size() * 2, &bytes);
            pcm.samples.insert(pcm.samples.end(), block.begin(),
                               block.begin() + static_cast<std::ptrdiff_t>(bytes / 2));
            if (result != MPG123_OK && result != MPG123_NEW_FORMAT)
                break;
        }
        mpg123_close(handle);
    }
    mpg123_delete(handle);
    return pcm;
}

// The samples and format of a WAV file written by WavFileOutput.
inline Pcm readWav(const std::string& path) {
    Pcm pcm;
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return pcm;
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 44)
        return pcm;
    auto le = [&](int at, int width) {
        std::uint32_t value = 0;
        for (int i = 0; i < width; ++i)
            value |= std::uint32_t(std::uint8_t(bytes[at + i])) << (8 * i);
        return value;
    };
    pcm.channels = static_cast<int>(le(22, 2));
    pcm.rateHz = static_cast<int>(le(24, 4));
    const auto* data = reinterpret_cast<const std::int16_t*>(bytes.constData() + 44);
    pcm.samples.assign(data, data + (bytes.size() - 44) / 2);
    return pcm;
}

// The mpg123 player's decode of a file, as the WAV file it writes holds it: from the file's
// last format change on (it starts the WAV anew at each).
inline Pcm mpg123Decode(const std::string& path, const QString& wav) {
    QProcess::execute("mpg123", {"-q", "-w", wav, QString::fromStdString(path)});
    return readWav(wav.toStdString());
}
