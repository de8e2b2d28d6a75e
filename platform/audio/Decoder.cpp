#include "platform/audio/Decoder.h"

#include "platform/audio/Mpg123Handle.h"

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace audio {
namespace {

mpg123_handle* handleOf(void* handle) {
    return static_cast<mpg123_handle*>(handle);
}

// Texts are read from a leading ID3v2 tag up to this size. libmpg123 reads a tag whole into
// memory before the first frame, pictures and all; a larger one is seeked over unread.
constexpr long kMaxReadTagBytes = 1 << 20;

constexpr std::size_t kId3v1FieldChars = 30;

// An ID3v2 text (UTF-8 as libmpg123 gives it), else the fixed-width, space-padded Latin-1
// field of an ID3v1 tag.
std::string tagText(const mpg123_string* v2, const char* v1) {
    if (v2 && v2->fill > 1)
        return std::string(v2->p, v2->fill - 1); // fill counts the closing zero
    std::string text;
    const std::size_t length = v1 ? strnlen(v1, kId3v1FieldChars) : 0;
    for (std::size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(v1[i]);
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text.erase(text.find_last_not_of(' ') + 1);
}

} // namespace

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

long leadingTagBytes(int fd) {
    unsigned char header[10] = {};
    if (pread(fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header) ||
        std::memcmp(header, "ID3", 3) != 0)
        return 0;
    long size = 0;
    for (int i = 6; i < 10; ++i) // synch-safe: 7 bits a byte
        size = size << 7 | (header[i] & 0x7f);
    return size + static_cast<long>(sizeof header);
}

mpg123_handle* newMpg123Handle(bool skipLeadingTag) {
    static const bool initialised = mpg123_init() == MPG123_OK;
    if (!initialised)
        return nullptr;
    mpg123_handle* handle = mpg123_new(nullptr, nullptr);
    if (!handle)
        return nullptr;
    mpg123_param(handle, MPG123_ADD_FLAGS,
                 MPG123_QUIET | MPG123_GAPLESS | (skipLeadingTag ? MPG123_SKIP_ID3V2 : 0), 0);
    // One sample type for every output; rate and channels stay as the file has them.
    mpg123_format_none(handle);
    const long* rates = nullptr;
    std::size_t count = 0;
    mpg123_rates(&rates, &count);
    for (std::size_t i = 0; i < count; ++i)
        mpg123_format(handle, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    return handle;
}

std::unique_ptr<Decoder> Decoder::open(const std::string& path, OpenStatus* status) {
    *status = OpenStatus::NotFound;
    const int fd = openRegularFile(path);
    if (fd < 0)
        return nullptr;
    mpg123_handle* handle = newMpg123Handle(leadingTagBytes(fd) > kMaxReadTagBytes);
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
    decoder->readInfo();
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

// Opening has read up to the first frame: the leading ID3v2 tag, and the ID3v1 tag at the end
// of a seekable file, are known by now.
void Decoder::readInfo() {
    mpg123_handle* handle = handleOf(m_handle);
    const off_t length = mpg123_length(handle);
    m_info.lengthFrames = length > 0 ? static_cast<long long>(length) : -1;
    mpg123_id3v1* v1 = nullptr;
    mpg123_id3v2* v2 = nullptr;
    if (!(mpg123_meta_check(handle) & MPG123_ID3) || mpg123_id3(handle, &v1, &v2) != MPG123_OK)
        return;
    m_info.title = tagText(v2 ? v2->title : nullptr, v1 ? v1->title : nullptr);
    m_info.artist = tagText(v2 ? v2->artist : nullptr, v1 ? v1->artist : nullptr);
    m_info.album = tagText(v2 ? v2->album : nullptr, v1 ? v1->album : nullptr);
}

Decoder::ReadStatus Decoder::read(std::uint8_t* buffer, std::size_t capacity, std::size_t* bytes) {
    *bytes = 0;
    if (m_ended)
        return ReadStatus::End;
    if (std::exchange(m_formatChanged, false))
        return changeFormat();
    const auto frameBytes = static_cast<std::size_t>(m_format.bytesPerFrame());
    const int result =
        mpg123_read(handleOf(m_handle), buffer, capacity / frameBytes * frameBytes, bytes);
    *bytes -= *bytes % frameBytes; // could never be played
    switch (result) {
    case MPG123_OK:
        return ReadStatus::Data;
    case MPG123_NEW_FORMAT:
        // The news comes with the last samples of the format before: they are returned in it,
        // and the change at the next read.
        m_formatChanged = *bytes > 0;
        return m_formatChanged ? ReadStatus::Data : changeFormat();
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

// A format this decoder cannot give ends the song.
Decoder::ReadStatus Decoder::changeFormat() {
    if (updateFormat())
        return ReadStatus::FormatChanged;
    m_ended = true;
    return ReadStatus::End;
}

} // namespace audio
