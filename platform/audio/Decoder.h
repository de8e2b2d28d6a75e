#pragma once

#include "platform/audio/Output.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// An MP3 file being decoded to 16-bit PCM with libmpg123: gapless (encoder delay and padding
// removed when the file says so), ID3 tags skipped as sound but their texts kept (a leading tag
// over 1 MB is seeked over unread, texts and all), any MPEG audio rate, mono or stereo.
// One decoder belongs to one thread at a time (the engine's); it holds the file open.
namespace audio {

enum class OpenStatus {
    Ok,
    NotFound,    // missing, unreadable, not a regular file
    NotPlayable, // no MPEG audio in it
    TimedOut,    // its first reads did not return in time (a hung share): let go of
};

// What a song's file says about itself, read when it is opened. Texts are UTF-8, empty where the
// file has no tag; the length is libmpg123's (exact with an Info header, else estimated).
struct SongInfo {
    std::string title;
    std::string artist;
    std::string album;
    long long lengthFrames = -1; // -1: unknown
};

class Decoder {
public:
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Opens a regular file and reads up to its first frame. Returns null and sets `status`
    // to NotFound (missing, unreadable, not a regular file) or NotPlayable (no MPEG audio).
    static std::unique_ptr<Decoder> open(const std::string& path, OpenStatus* status);

    // Format of the samples that read() returned last, and returns next unless it says
    // FormatChanged.
    PcmFormat format() const { return m_format; }
    const SongInfo& info() const { return m_info; }

    enum class ReadStatus { Data, FormatChanged, End };
    // Fills `buffer` with up to `capacity` bytes (whole frames of format(); a part of one is
    // dropped) and sets `bytes`. End comes once every sample has been returned (a damaged tail
    // counts as the end). FormatChanged returns no bytes, and format() then tells the new one;
    // the samples decoded before the change have all been returned by then.
    ReadStatus read(std::uint8_t* buffer, std::size_t capacity, std::size_t* bytes);

private:
    explicit Decoder(void* handle) : m_handle(handle) {}
    bool updateFormat();
    ReadStatus changeFormat();
    void readInfo();

    void* m_handle; // mpg123_handle, kept out of this header
    int m_fd = -1;
    PcmFormat m_format;
    SongInfo m_info;
    bool m_ended = false;
    bool m_formatChanged = false; // reported by mpg123, not yet by read()
};

} // namespace audio
