// Runs a fuzz target without libFuzzer, as a regression test: every seed of
// the target's corpus, then a fixed series of pseudo-random inputs (plain
// random bytes and mutations of the seeds). The series is the same on every
// run, so a failure repeats; under the sanitizers any memory fault aborts.
//
//   fuzzregress_<name> [iterations] [file or folder...]
//
// Without file arguments the corpus folder compiled in (KVARN_FUZZ_CORPUS)
// is used. Iterations default to 4000.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) __attribute__((weak));

namespace {

using Bytes = std::vector<uint8_t>;

// splitmix64: small, fast and the same everywhere.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t Next()
    {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    size_t Below(size_t n) { return n == 0 ? 0 : size_t(Next() % n); }
    uint8_t Byte() { return uint8_t(Next()); }

private:
    uint64_t state_;
};

void run(const Bytes &input)
{
    // A copy of exactly the input's size, so that reads past its end are caught.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[input.size() ? input.size() : 1]);
    std::copy(input.begin(), input.end(), copy.get());
    LLVMFuzzerTestOneInput(copy.get(), input.size());
}

void addFile(const std::filesystem::path &path, std::vector<Bytes> &seeds)
{
    std::ifstream in(path, std::ios::binary);
    if (in)
        seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void addPath(const std::filesystem::path &path, std::vector<Bytes> &seeds)
{
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        std::vector<std::filesystem::path> files;
        for (const auto &entry : std::filesystem::directory_iterator(path, ec))
            if (entry.is_regular_file())
                files.push_back(entry.path());
        std::sort(files.begin(), files.end()); // same order on every run
        for (const auto &f : files)
            addFile(f, seeds);
    } else {
        addFile(path, seeds);
    }
}

Bytes randomBytes(Random &rnd)
{
    Bytes b(rnd.Below(600));
    for (auto &x : b)
        x = rnd.Byte();
    return b;
}

Bytes mutate(const std::vector<Bytes> &seeds, Random &rnd)
{
    Bytes b = seeds[rnd.Below(seeds.size())];
    const size_t steps = 1 + rnd.Below(4);
    for (size_t s = 0; s < steps; ++s) {
        switch (rnd.Below(7)) {
        case 0: // flip a bit
            if (!b.empty())
                b[rnd.Below(b.size())] ^= uint8_t(1u << rnd.Below(8));
            break;
        case 1: // overwrite a byte, often with a value that means something here
            if (!b.empty()) {
                static const uint8_t interesting[] = {0, 1, 2, 0xFF, 0x7F, 0x80, ';', '=', ':', '#', '@', '?', ' '};
                b[rnd.Below(b.size())] = rnd.Below(2) ? rnd.Byte() : interesting[rnd.Below(sizeof interesting)];
            }
            break;
        case 2: // cut the tail
            b.resize(rnd.Below(b.size() + 1));
            break;
        case 3: // insert random bytes
        {
            const size_t at = rnd.Below(b.size() + 1);
            Bytes extra(1 + rnd.Below(16));
            for (auto &x : extra)
                x = rnd.Byte();
            b.insert(b.begin() + long(at), extra.begin(), extra.end());
            break;
        }
        case 4: // delete a run
            if (!b.empty()) {
                const size_t at = rnd.Below(b.size());
                const size_t n = std::min(b.size() - at, 1 + rnd.Below(16));
                b.erase(b.begin() + long(at), b.begin() + long(at + n));
            }
            break;
        case 5: // append another seed
        {
            const Bytes &other = seeds[rnd.Below(seeds.size())];
            b.insert(b.end(), other.begin(), other.end());
            break;
        }
        default: // repeat a run
            if (!b.empty()) {
                const size_t at = rnd.Below(b.size());
                const size_t n = std::min(b.size() - at, 1 + rnd.Below(32));
                const Bytes run(b.begin() + long(at), b.begin() + long(at + n));
                b.insert(b.begin() + long(at), run.begin(), run.end());
            }
            break;
        }
    }
    return b;
}

} // namespace

int main(int argc, char **argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);

    long iterations = 4000;
    int first = 1;
    if (argc > 1 && std::all_of(argv[1], argv[1] + std::char_traits<char>::length(argv[1]),
                                [](char c) { return c >= '0' && c <= '9'; })) {
        iterations = std::strtol(argv[1], nullptr, 10);
        first = 2;
    }

    std::vector<Bytes> seeds;
    for (int i = first; i < argc; ++i)
        addPath(argv[i], seeds);
#ifdef KVARN_FUZZ_CORPUS
    if (first >= argc)
        addPath(KVARN_FUZZ_CORPUS, seeds);
#endif

    run(Bytes()); // the empty input
    for (const Bytes &seed : seeds)
        run(seed);

    Random rnd(0x4B5641524E2D54ull);
    for (long i = 0; i < iterations; ++i)
        run(seeds.empty() || rnd.Below(4) == 0 ? randomBytes(rnd) : mutate(seeds, rnd));

    std::printf("%zu seeds and %ld generated inputs ran\n", seeds.size(), iterations);
    return 0;
}
