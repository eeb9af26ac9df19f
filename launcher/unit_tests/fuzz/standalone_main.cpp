// Drives LLVMFuzzerTestOneInput where libFuzzer is not at hand (g++): built-in seed images,
// the files named on the command line, then random mutations of them for a while.
//
//   g++ -std=c++17 -g -O1 -fsanitize=address,undefined -fno-sanitize-recover=all
//       -Ilauncher -Ilauncher/unit_tests launcher/unit_tests/fuzz/payload_fuzz.cpp
//       launcher/unit_tests/fuzz/standalone_main.cpp launcher/portable/payload.cpp -o payload_fuzz
//   (one command line)
//   ./payload_fuzz [--seconds=30] [--write-seeds=DIR] [FILE...]
//
// --write-seeds stores the built-in seeds as files, a starting corpus for libFuzzer.

#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "payload_builder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using namespace payload_builder;

std::vector<std::string> builtInSeeds() {
    PayloadWriter record;
    record.header()
        .narrowMap({{107, "1"}, {10123, "255,128,0"}, {2002, "-3"}})
        .wideMap({{1000, u"Caption"}, {1001, u"Cannot find {0}"}})
        .languageBlocks({{"de", {{1001, u"{0} fehlt"}}}, {"", {{1002, u"all"}}}, {"pt_BR", {}}});
    return {
        record.bytes(),
        buildPeImage(contiguousLayout(1), record.bytes()).bytes,
        buildPeImage(contiguousLayout(3), record.bytes()).bytes,
        buildPeImage(contiguousLayout(2, 0x40, 0), "").bytes,
    };
}

void run(const std::string& input) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

// Flips, overwrites with boundary integers, inserts or cuts, a few times over.
std::string mutate(std::string input, std::mt19937& random) {
    static const uint32_t kIntegers[] = {0, 1, 0x7F, 0x80, 0xFF, 0x7FFF, 0x8000, 0xFFFF,
                                         0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0x10000};
    int steps = 1 + static_cast<int>(random() % 4);
    for (int step = 0; step < steps; ++step) {
        size_t at = input.empty() ? 0 : random() % input.size();
        switch (random() % 4) {
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
        default:
            input.resize(at);
            break;
        }
    }
    return input;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> seeds = builtInSeeds();
    int seconds = 0;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument.rfind("--seconds=", 0) == 0) {
            seconds = std::stoi(argument.substr(10));
        } else if (argument.rfind("--write-seeds=", 0) == 0) {
            std::string dir = argument.substr(14);
            for (size_t s = 0; s < seeds.size(); ++s)
                std::ofstream(dir + "/seed" + std::to_string(s), std::ios::binary) << seeds[s];
        } else {
            std::ifstream file(argument, std::ios::binary);
            seeds.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        }
    }
    for (const std::string& seed : seeds)
        run(seed);

    std::mt19937 random(12345);
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    unsigned long runs = 0;
    while (std::chrono::steady_clock::now() < end) {
        run(mutate(seeds[random() % seeds.size()], random));
        ++runs;
    }
    std::printf("%zu seeds, %lu mutated runs\n", seeds.size(), runs);
    return 0;
}
