#include "platform/audio/AlsaOutput.h"
#include "tests/support/TempTree.h"

#include <QByteArray>
#include <cstdlib>
#include <gtest/gtest.h>

// The ALSA output through alsa-lib's own plugins, which need no sound card: a "file" PCM over a
// "null" one keeps every byte the output hands to ALSA, in a file named after the format. The
// null device neither keeps time nor pauses, so what these tests reach is the output's side:
// writes taken in order, pause falling back to drop, drop leaving the device ready, drains
// that end, formats that change, no delay told. The configuration is this program's own
// (ALSA_CONFIG_PATH).

namespace {

using audio::AlsaOutput;
using audio::Output;
using audio::PcmFormat;

constexpr PcmFormat kStereo44{44100, 2};
constexpr PcmFormat kMono22{22050, 1};

class AlsaOutputTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_tree = new TempTree;
        const QString config = QString(R"(
pcm.capture {
    type file
    slave.pcm "quiet"
    file "%1/take-%c-%r.raw"
    format "raw"
}
pcm.quiet {
    type null
}
pcm.through_server {
    type pulse
}
)")
                                   .arg(s_tree->root());
        setenv("ALSA_CONFIG_PATH", s_tree->file("asound.conf", config.toUtf8()).toLocal8Bit(), 1);
    }
    static void TearDownTestSuite() {
        delete s_tree;
        s_tree = nullptr;
    }
    void TearDown() override {
        for (const PcmFormat& format : {kStereo44, kMono22})
            QFile::remove(takePath(format));
    }

    // What the output handed to ALSA in this format so far.
    static QByteArray take(const PcmFormat& format) { return readAll(takePath(format)); }
    static QString takePath(const PcmFormat& format) {
        return s_tree->path(QString("take-%1-%2.raw").arg(format.channels).arg(format.rateHz));
    }

    // Distinct 16-bit samples, `frames` whole frames of `format`.
    static QByteArray samples(const PcmFormat& format, int frames, int seed) {
        QByteArray bytes(frames * format.bytesPerFrame(), '\0');
        auto* values = reinterpret_cast<std::int16_t*>(bytes.data());
        for (int i = 0; i < frames * format.channels; ++i)
            values[i] = static_cast<std::int16_t>(seed + 7 * i);
        return bytes;
    }

    // Writes all of `bytes`, as the engine does, through as many writes as the output needs.
    static void writeAll(AlsaOutput& output, const QByteArray& bytes) {
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
        const auto size = static_cast<std::size_t>(bytes.size());
        std::size_t done = 0;
        for (int tries = 0; done < size && tries < 10000; ++tries) {
            const long taken = output.write(data + done, size - done);
            ASSERT_GE(taken, 0);
            done += static_cast<std::size_t>(taken);
        }
        EXPECT_EQ(done, static_cast<std::size_t>(bytes.size()));
    }

    static inline TempTree* s_tree = nullptr;
};

TEST_F(AlsaOutputTest, everyByteWrittenIsHandedToTheDeviceInOrderWhateverHappensBetween) {
    const QByteArray first = samples(kStereo44, 3000, 1);
    const QByteArray second = samples(kStereo44, 2000, 5);
    struct Case {
        const char* name;
        void (*between)(AlsaOutput&);
    };
    const Case cases[] = {
        {"nothing", [](AlsaOutput&) {}},
        {"pause and resume",
         [](AlsaOutput& output) {
             output.pause(true);
             output.pause(false);
         }},
        {"a drain", [](AlsaOutput& output) { output.drain(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AlsaOutput output("capture");
        ASSERT_TRUE(output.open(kStereo44, 100));
        writeAll(output, first);
        c.between(output);
        EXPECT_EQ(output.delayFrames(), 0) << "the null device holds nothing back";
        writeAll(output, second);
        EXPECT_EQ(output.drain(), Output::DrainResult::Drained);
        output.close();
        EXPECT_TRUE(take(kStereo44) == first + second);
    }
}

TEST_F(AlsaOutputTest, afterADropTheOutputTakesSamplesAgain) {
    AlsaOutput output("capture");
    ASSERT_TRUE(output.open(kStereo44, 100));
    writeAll(output, samples(kStereo44, 3000, 1));
    output.drop();
    const QByteArray after = samples(kStereo44, 1000, 9);
    writeAll(output, after);
    EXPECT_EQ(output.drain(), Output::DrainResult::Drained);
    output.close();
    EXPECT_TRUE(take(kStereo44).endsWith(after));
}

TEST_F(AlsaOutputTest, reopeningInAnotherFormatPlaysThatFormat) {
    AlsaOutput output("capture");
    const QByteArray stereo = samples(kStereo44, 1500, 3);
    const QByteArray mono = samples(kMono22, 1500, 4);
    ASSERT_TRUE(output.open(kStereo44, 2000)); // more than the output asks of ALSA
    writeAll(output, stereo);
    ASSERT_TRUE(output.open(kMono22, 50)); // open closes what was open
    writeAll(output, mono);
    EXPECT_EQ(output.drain(), Output::DrainResult::Drained);
    output.close();
    output.close(); // twice is harmless
    EXPECT_TRUE(take(kStereo44) == stereo);
    EXPECT_TRUE(take(kMono22) == mono);
}

TEST_F(AlsaOutputTest, aDrainWithNothingQueuedReturnsAtOnce) {
    AlsaOutput output("capture");
    ASSERT_TRUE(output.open(kStereo44, 100));
    EXPECT_EQ(output.drain(), Output::DrainResult::Drained);
}

TEST_F(AlsaOutputTest, deviceThatIsMissingOrRoutedToTheSoundServerIsRefused) {
    for (const char* device : {"no_such_device", "through_server"}) {
        SCOPED_TRACE(device);
        AlsaOutput output(device);
        EXPECT_FALSE(output.open(kStereo44, 100));
        output.close();
    }
}

} // namespace
