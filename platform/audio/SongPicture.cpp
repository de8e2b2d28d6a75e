#include "platform/audio/SongPicture.h"

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mpg123.h>
#include <sys/stat.h>
#include <unistd.h>

namespace audio {
namespace {

struct HandleCloser {
    void operator()(mpg123_handle* handle) const {
        mpg123_close(handle);
        mpg123_delete(handle);
    }
};

// The size of the ID3v2 tag at the start of `fd` (header included), or 0 when there is none.
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

// A directory or a device is no song; a FIFO would block the open (a regular file's reads take
// no notice of O_NONBLOCK).
int openRegularFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat info {};
    if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

const mpg123_picture* chosenPicture(const mpg123_id3v2& tag) {
    for (std::size_t i = 0; i < tag.pictures; ++i)
        if (tag.picture[i].type == mpg123_id3_pic_front_cover)
            return &tag.picture[i];
    return tag.pictures > 0 ? &tag.picture[0] : nullptr;
}

// The picture of the tag the open file `fd` starts with.
std::vector<std::uint8_t> pictureOf(int fd, long maxTagBytes) {
    static const bool initialised = mpg123_init() == MPG123_OK;
    const long tagBytes = leadingTagBytes(fd);
    if (!initialised || tagBytes == 0 || tagBytes > maxTagBytes)
        return {};
    const std::unique_ptr<mpg123_handle, HandleCloser> handle(mpg123_new(nullptr, nullptr));
    if (!handle)
        return {};
    mpg123_param(handle.get(), MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_PICTURE, 0);
    if (mpg123_open_fd(handle.get(), fd) != MPG123_OK)
        return {};
    // Finding the first frame reads the tag before it; the frame itself need not decode.
    long rate = 0;
    int channels = 0, encoding = 0;
    mpg123_getformat(handle.get(), &rate, &channels, &encoding);
    mpg123_id3v1* v1 = nullptr;
    mpg123_id3v2* v2 = nullptr;
    if (mpg123_id3(handle.get(), &v1, &v2) != MPG123_OK || !v2)
        return {};
    const mpg123_picture* picture = chosenPicture(*v2);
    if (!picture)
        return {};
    return {picture->data, picture->data + picture->size};
}

} // namespace

std::vector<std::uint8_t> readSongPicture(const std::string& path, long maxTagBytes) {
    const int fd = openRegularFile(path);
    if (fd < 0)
        return {};
    std::vector<std::uint8_t> picture = pictureOf(fd, maxTagBytes);
    ::close(fd);
    return picture;
}

} // namespace audio
