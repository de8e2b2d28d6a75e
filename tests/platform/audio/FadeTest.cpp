#include "platform/audio/Fade.h"

#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

using namespace audio;

namespace {

// Two frames of full-scale stereo at fade frames `at` and `at + 1` of a fade over 4 frames.
struct Case {
    fade::Direction direction;
    long long at;
    std::vector<std::int16_t> expected;
};

TEST(FadeTest, ScalesEachFrameByItsPlaceInTheFade) {
    const PcmFormat stereo{44100, 2};
    using enum fade::Direction;
    const Case cases[] = {
        {Rise, 0, {0, 0, 4799, -4799}},            // sets off from silence
        {Rise, 2, {16383, -16383, 27968, -27968}}, // half way at the middle
        {Rise, 4, {32767, -32767, 32767, -32767}}, // whole from its length on
        {Fall, 0, {32767, -32767, 27968, -27968}},
        {Fall, 3, {4799, -4799, 0, 0}}, // silent from its length on
        {Fall, 9, {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        std::vector<std::int16_t> samples{32767, -32767, 32767, -32767};
        fade::apply(reinterpret_cast<std::uint8_t*>(samples.data()), samples.size() * 2, stereo,
                    c.at, 4, c.direction);
        EXPECT_EQ(samples, c.expected) << "at " << c.at;
    }
}

// At the length an output uses, even a full-scale constant steps by less than 1 % of full
// scale between two frames of its rise.
TEST(FadeTest, RiseStepsStaySmallAtTheOutputsLength) {
    const PcmFormat mono{44100, 1};
    const long long length = fade::fadeFrames(mono);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(length) + 1, 32767);
    fade::apply(reinterpret_cast<std::uint8_t*>(samples.data()), samples.size() * 2, mono, 0,
                length, fade::Direction::Rise);
    for (std::size_t i = 1; i < samples.size(); ++i)
        EXPECT_LT(std::abs(samples[i] - samples[i - 1]), 328) << i;
    EXPECT_EQ(samples.back(), 32767);
}

} // namespace
