// Drives a fuzz target's LLVMFuzzerTestOneInput where libFuzzer is not at hand (g++): the
// corpus files and directories named on the command line, then random mutations of them for
// a while. It takes the libFuzzer options the fuzz runs use and ignores the others:
//
//   ./payload_fuzz-standalone [-max_total_time=30] [-artifact_prefix=build/fuzz/x-] CORPUS...
//
// A sanitizer report, a failed property check or a fatal signal leaves the input that caused
// it as <artifact_prefix>crash-<pid>, like libFuzzer does.

#include <sanitizer/common_interface_defs.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// What the death handlers write: set before each run, read only when the run dies.
const std::string* currentInput = nullptr;
std::string artifactPath;

void writeReproducer() {
    if (currentInput == nullptr || artifactPath.empty())
        return;
    int fd = open(artifactPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return;
    size_t done = 0;
    while (done < currentInput->size()) {
        ssize_t n = write(fd, currentInput->data() + done, currentInput->size() - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    static const char kNote[] = "standalone fuzz driver: reproducer written\n";
    (void)!write(2, kNote, sizeof kNote - 1);
}

void onFatalSignal(int signalNumber) {
    writeReproducer();
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

void run(const std::string& input) {
    currentInput = &input;
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    currentInput = nullptr;
}

// Flips, overwrites with boundary integers, inserts, cuts or splices, a few times over.
std::string mutate(std::string input, const std::vector<std::string>& seeds, std::mt19937& random) {
    static const uint32_t kIntegers[] = {0, 1, 0x7F, 0x80, 0xFF, 0x7FFF, 0x8000, 0xFFFF,
                                         0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0x10000};
    static const char kBytes[] = {' ', '"', '\'', '\\', ';', '.', '_', '-', '+', '#', '$',
                                  '{', '}', '%', ':', '\r', '\n', '\x1a', '\0'};
    int steps = 1 + static_cast<int>(random() % 4);
    for (int step = 0; step < steps; ++step) {
        size_t at = input.empty() ? 0 : random() % input.size();
        switch (random() % 6) {
        case 0:
            if (!input.empty())
                input[at] = static_cast<char>(input[at] ^ (1 << (random() % 8)));
            break;
        case 1: {
            uint32_t value = kIntegers[random() % std::size(kIntegers)];
            for (size_t i = 0; i < 4 && at + i < input.size(); ++i)
                input[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
            break;
        }
        case 2:
            input.insert(at, 1 + random() % 8, static_cast<char>(random()));
            break;
        case 3:
            input.insert(at, 1, kBytes[random() % std::size(kBytes)]);
            break;
        case 4: {
            const std::string& other = seeds[random() % seeds.size()];
            if (!other.empty()) {
                size_t from = random() % other.size();
                input.insert(at, other, from, 1 + random() % 32);
            }
            break;
        }
        default:
            input.resize(at);
            break;
        }
    }
    return input;
}

void addSeed(const std::filesystem::path& path, std::vector<std::string>& seeds) {
    std::ifstream file(path, std::ios::binary);
    seeds.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> seeds;
    std::string artifactPrefix;
    int seconds = 0;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument.rfind("-max_total_time=", 0) == 0) {
            seconds = std::stoi(argument.substr(16));
        } else if (argument.rfind("-artifact_prefix=", 0) == 0) {
            artifactPrefix = argument.substr(17);
        } else if (argument.rfind("-", 0) == 0) {
            continue; // a libFuzzer option this driver has no use for
        } else if (std::filesystem::is_directory(argument)) {
            for (const auto& entry : std::filesystem::directory_iterator(argument))
                if (entry.is_regular_file())
                    addSeed(entry.path(), seeds);
        } else {
            addSeed(argument, seeds);
        }
    }
    if (seeds.empty())
        seeds.emplace_back();

    artifactPath = artifactPrefix + "crash-" + std::to_string(getpid());
    __sanitizer_set_death_callback(writeReproducer);
    for (int signalNumber : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL})
        signal(signalNumber, onFatalSignal);

    for (const std::string& seed : seeds)
        run(seed);

    std::mt19937 random(12345);
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    unsigned long runs = 0;
    while (std::chrono::steady_clock::now() < end) {
        run(mutate(seeds[random() % seeds.size()], seeds, random));
        ++runs;
    }
    std::printf("%zu seeds, %lu mutated runs\n", seeds.size(), runs);
    return 0;
}
