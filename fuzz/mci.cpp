// The command interpreter with arbitrary command text: each input line is one command. The
// current folder holds a short song ("song.mp3", and "with space.mp3" for %20), a text file, an
// empty file, a folder and a FIFO under MP3 names, so that opens reach every kind of element.
// Sound goes to the null output: nothing is heard.
//
// Invariants: no crash, no hang (libFuzzer's -timeout); every result is 0 or a listed error
// number; a failing command leaves the open devices as they were; a successful one opens or
// closes at most one device, except "close all"; "close all" always leaves none open.

#include "platform/mci/Mci.h"
#include "fuzz/FuzzSupport.h"
#include "platform/audio/Engine.h"
#include "platform/audio/NullOutput.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMaxCommands = 32;

void prepareFolder() {
    const std::string& dir = fuzz::scratchDir();
    namespace fs = std::filesystem;
    fs::copy_file(QUIVA_FUZZ_SONG, dir + "/song.mp3");
    fs::copy_file(QUIVA_FUZZ_SONG, dir + "/with space.mp3");
    std::ofstream(dir + "/text.mp3") << "not a song\n";
    std::ofstream(dir + "/empty.mp3");
    fs::create_directory(dir + "/dir.mp3");
    FUZZ_CHECK(mkfifo((dir + "/fifo.mp3").c_str(), 0600) == 0);
    FUZZ_CHECK(chdir(dir.c_str()) == 0);
    audio::Engine::instance().setOutput(std::make_unique<audio::NullOutput>());
}

int openDevices() {
    return audio::Engine::instance().streamCount();
}

std::uint32_t send(const std::string& command) {
    char answer[16];
    std::fill(std::begin(answer), std::end(answer), 'x');
    const std::uint32_t result = mciSendStringA(command.c_str(), answer, sizeof answer, nullptr);
    FUZZ_CHECK(answer[0] == '\0');
    FUZZ_CHECK(result == 0 || std::ranges::find(kMciErrors, result) != std::end(kMciErrors));
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool prepared = (prepareFolder(), true);
    (void)prepared;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    for (int i = 0; i < kMaxCommands && !input.empty(); ++i) {
        const auto parts = fuzz::fields(input, 1);
        input = parts[1];
        const int before = openDevices();
        const std::uint32_t result = send(std::string(parts[0]));
        const int after = openDevices();
        if (result != 0)
            FUZZ_CHECK(after == before);
        else
            FUZZ_CHECK(std::abs(after - before) <= 1 || after == 0);
    }
    FUZZ_CHECK(send("close all") == 0);
    FUZZ_CHECK(openDevices() == 0);
    return 0;
}
