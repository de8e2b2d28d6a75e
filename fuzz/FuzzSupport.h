#pragma once

// Shared by the fuzz targets: invariant checks that end the run where the fuzzer (or the corpus
// replay test) sees them, and a scratch folder that lives as long as the process.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

[[noreturn]] inline void fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "fuzz: invariant broken: %s (%s:%d)\n", what, file, line);
    std::abort(); // a crash is what both libFuzzer and the replay test report with the input
}

// A folder of its own for this process, removed when it ends. Any thread after the first call.
inline const std::string& scratchDir() {
    struct Folder {
        std::string path;
        Folder() {
            const char* base = std::getenv("TMPDIR");
            path = std::string(base && *base ? base : "/tmp") + "/quiva-fuzz-XXXXXX";
            if (!mkdtemp(path.data()))
                fail("mkdtemp", __FILE__, __LINE__);
        }
        ~Folder() { std::filesystem::remove_all(path); }
    };
    static const Folder folder;
    return folder.path;
}

// The input cut at '\n' into at most `count` leading fields and the rest (which keeps its
// line breaks); missing fields are empty.
inline std::vector<std::string_view> fields(std::string_view input, int count) {
    std::vector<std::string_view> result;
    for (int i = 0; i < count; ++i) {
        const auto newline = input.find('\n');
        result.push_back(input.substr(0, newline));
        input.remove_prefix(newline == input.npos ? input.size() : newline + 1);
    }
    result.push_back(input);
    return result;
}

} // namespace fuzz

#define FUZZ_CHECK(condition) ((condition) ? void(0) : ::fuzz::fail(#condition, __FILE__, __LINE__))
