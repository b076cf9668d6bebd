// A small stand-in for libFuzzer's driver: runs every file of a seed corpus,
// then mutates them at random for a bounded time. A crash (or a sanitizer
// report) ends the process, and the input is written to crash-<pid>.bin first.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <csignal>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::uint8_t> gCurrent;

void saveCurrent() {
    const std::string name = "crash-" + std::to_string(::getpid()) + ".bin";
    if (std::FILE* f = std::fopen(name.c_str(), "wb")) {
        std::fwrite(gCurrent.data(), 1, gCurrent.size(), f);
        std::fclose(f);
        std::fprintf(stderr, "fuzz: input written to %s\n", name.c_str());
    }
}

extern "C" void onFatalSignal(int signal) {
    saveCurrent();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void runOne(const std::vector<std::uint8_t>& input) {
    gCurrent = input;
    // Copy into an exact-size heap block so ASan sees any read past the end.
    std::vector<std::uint8_t> exact(input);
    exact.shrink_to_fit();
    LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
}

std::vector<std::uint8_t> mutate(std::vector<std::uint8_t> input, std::mt19937& rng,
                                 const std::vector<std::vector<std::uint8_t>>& corpus) {
    std::uniform_int_distribution<int> pick(0, 7);
    const int rounds = 1 + static_cast<int>(rng() % 4);
    for (int r = 0; r < rounds; ++r) {
        const std::size_t size = input.size();
        const std::size_t at = size == 0 ? 0 : rng() % size;
        switch (pick(rng)) {
        case 0: // flip a bit
            if (size > 0) {
                input[at] = static_cast<std::uint8_t>(input[at] ^ (1u << (rng() % 8)));
            }
            break;
        case 1: // random byte
            if (size > 0) {
                input[at] = static_cast<std::uint8_t>(rng());
            }
            break;
        case 2: // insert a byte
            input.insert(input.begin() + static_cast<std::ptrdiff_t>(at),
                         static_cast<std::uint8_t>(rng()));
            break;
        case 3: // erase a run
            if (size > 0) {
                const std::size_t n = 1 + rng() % std::min<std::size_t>(size - at, 8);
                input.erase(input.begin() + static_cast<std::ptrdiff_t>(at),
                            input.begin() + static_cast<std::ptrdiff_t>(at + n));
            }
            break;
        case 4: // truncate
            input.resize(size == 0 ? 0 : rng() % size);
            break;
        case 5: { // interesting values
            static const std::uint8_t values[] = {0x00, 0xFF, 0x7F, 0x80, 0x01, 0x2C, 0x2F, 0x23};
            if (size > 0) {
                input[at] = values[rng() % sizeof(values)];
            }
            break;
        }
        case 6: { // splice with another corpus entry
            const auto& other = corpus[rng() % corpus.size()];
            if (!other.empty()) {
                const std::size_t from = rng() % other.size();
                input.insert(input.begin() + static_cast<std::ptrdiff_t>(at),
                             other.begin() + static_cast<std::ptrdiff_t>(from), other.end());
            }
            break;
        }
        default: // duplicate a run
            if (size > 0) {
                const std::size_t n = 1 + rng() % std::min<std::size_t>(size - at, 16);
                std::vector<std::uint8_t> run(input.begin() + static_cast<std::ptrdiff_t>(at),
                                              input.begin() + static_cast<std::ptrdiff_t>(at + n));
                input.insert(input.begin() + static_cast<std::ptrdiff_t>(at), run.begin(),
                             run.end());
            }
            break;
        }
        if (input.size() > 65536) {
            input.resize(65536);
        }
    }
    return input;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: " << argv[0] << " CORPUS_DIR [SECONDS] [SEED]\n";
        return 2;
    }
    const double seconds = argc > 2 ? std::atof(argv[2]) : 10.0;
    const unsigned seed = argc > 3 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10))
                                   : std::random_device{}();
    std::signal(SIGSEGV, onFatalSignal);
    std::signal(SIGABRT, onFatalSignal);
    std::signal(SIGFPE, onFatalSignal);

    std::vector<std::vector<std::uint8_t>> corpus;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1], ec)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        std::ifstream in(entry.path(), std::ios::binary);
        corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (corpus.empty()) {
        std::cerr << "fuzz: no seed corpus in " << argv[1] << "\n";
        return 2;
    }
    for (const auto& input : corpus) {
        runOne(input);
    }

    std::mt19937 rng(seed);
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    long runs = 0;
    while (std::chrono::steady_clock::now() < end) {
        for (int i = 0; i < 64; ++i, ++runs) {
            runOne(mutate(corpus[rng() % corpus.size()], rng, corpus));
        }
    }
    std::cout << "fuzz: " << corpus.size() << " seeds, " << runs << " mutated runs, seed " << seed
              << ", no crash\n";
    return 0;
}
