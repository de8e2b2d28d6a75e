#include "platform/audio/SongPicture.h"

#include "platform/audio/Mpg123Handle.h"

#include <cstring>
#include <fcntl.h>
#include <memory>
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

const mpg123_picture* chosenPicture(const mpg123_id3v2& tag) {
    for (std::size_t i = 0; i < tag.pictures; ++i)
        if (tag.picture[i].type == mpg123_id3_pic_front_cover)
            return &tag.picture[i];
    return tag.pictures > 0 ? &tag.picture[0] : nullptr;
}

// The picture of the tag the open file `fd` starts with.
std::vector<std::uint8_t> pictureOf(int fd, long maxTagBytes) {
    const long tagBytes = leadingTagBytes(fd);
    if (tagBytes == 0 || tagBytes > maxTagBytes)
        return {};
    const std::unique_ptr<mpg123_handle, HandleCloser> handle(newMpg123Handle(false));
    if (!handle)
        return {};
    mpg123_param(handle.get(), MPG123_ADD_FLAGS, MPG123_PICTURE, 0);
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
