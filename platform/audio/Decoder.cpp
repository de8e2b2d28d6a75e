#include "platform/audio/Decoder.h"

#include <fcntl.h>
#include <mpg123.h>
#include <sys/stat.h>
#include <unistd.h>

namespace audio {
namespace {

mpg123_handle* handleOf(void* handle) {
    return static_cast<mpg123_handle*>(handle);
}

mpg123_handle* newHandle() {
    static const bool initialised = mpg123_init() == MPG123_OK;
    if (!initialised)
        return nullptr;
    mpg123_handle* handle = mpg123_new(nullptr, nullptr);
    if (!handle)
        return nullptr;
    // An ID3v2 tag would be read whole into memory (pictures and all, any size): seek past it.
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS | MPG123_SKIP_ID3V2, 0);
    // One sample type for every output; rate and channels stay as the file has them.
    mpg123_format_none(handle);
    const long* rates = nullptr;
    std::size_t count = 0;
    mpg123_rates(&rates, &count);
    for (std::size_t i = 0; i < count; ++i)
        mpg123_format(handle, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    return handle;
}

// mpg123 would happily read a directory or a device; only regular files are songs.
int openRegularFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

} // namespace

std::unique_ptr<Decoder> Decoder::open(const std::string& path, OpenStatus* status) {
    *status = OpenStatus::NotFound;
    const int fd = openRegularFile(path);
    if (fd < 0)
        return nullptr;
    mpg123_handle* handle = newHandle();
    // mpg123_open_fd does not take the descriptor: mpg123_close leaves it open.
    if (!handle || mpg123_open_fd(handle, fd) != MPG123_OK) {
        if (handle)
            mpg123_delete(handle);
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<Decoder> decoder(new Decoder(handle));
    decoder->m_fd = fd;
    if (!decoder->updateFormat()) {
        *status = OpenStatus::NotPlayable;
        return nullptr;
    }
    *status = OpenStatus::Ok;
    return decoder;
}

Decoder::~Decoder() {
    mpg123_close(handleOf(m_handle));
    mpg123_delete(handleOf(m_handle));
    if (m_fd >= 0)
        ::close(m_fd);
}

bool Decoder::updateFormat() {
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (mpg123_getformat(handleOf(m_handle), &rate, &channels, &encoding) != MPG123_OK)
        return false;
    m_format = PcmFormat{static_cast<int>(rate), channels};
    return channels == 1 || channels == 2;
}

Decoder::ReadStatus Decoder::read(std::uint8_t* buffer, std::size_t capacity, std::size_t* bytes) {
    *bytes = 0;
    if (m_ended)
        return ReadStatus::End;
    const std::size_t frameBytes = m_format.bytesPerFrame();
    const int result =
        mpg123_read(handleOf(m_handle), buffer, capacity / frameBytes * frameBytes, bytes);
    switch (result) {
    case MPG123_OK:
        return ReadStatus::Data;
    case MPG123_NEW_FORMAT:
        if (updateFormat())
            return ReadStatus::FormatChanged;
        break;
    case MPG123_DONE:
        // The last samples come together with DONE; the caller still plays them.
        m_ended = true;
        return *bytes > 0 ? ReadStatus::Data : ReadStatus::End;
    default:
        break;
    }
    // A broken stream ends here; what was decoded before it has been played.
    m_ended = true;
    return *bytes > 0 ? ReadStatus::Data : ReadStatus::End;
}

} // namespace audio
