// Feeds every file of one fuzz target's corpus to its LLVMFuzzerTestOneInput, one test per file,
// so a failing input is named in the output. A broken invariant aborts the run (as under the
// fuzzer); the last "[ RUN ]" line then names the input.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> corpusFiles() {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(QUIVA_FUZZ_CORPUS, error))
        if (entry.is_regular_file())
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::string testNameOf(const testing::TestParamInfo<std::filesystem::path>& info) {
    std::string name = info.param.filename().string();
    std::replace_if(
        name.begin(), name.end(), [](char c) { return !std::isalnum((unsigned char)c); }, '_');
    return name + "_" + std::to_string(info.index);
}

class CorpusReplayTest : public testing::TestWithParam<std::filesystem::path> {};

TEST_P(CorpusReplayTest, InputRunsCleanly) {
    std::ifstream in(GetParam(), std::ios::binary);
    ASSERT_TRUE(in) << GetParam();
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
    EXPECT_EQ(
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
        0);
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusReplayTest, testing::ValuesIn(corpusFiles()), testNameOf);

// A corpus that went missing would otherwise pass without running anything.
TEST(CorpusReplayCorpusTest, IsNotEmpty) {
    EXPECT_FALSE(corpusFiles().empty()) << QUIVA_FUZZ_CORPUS;
}

} // namespace
