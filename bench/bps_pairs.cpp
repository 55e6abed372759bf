// Delta BPS creation on pairs of images of the kinds patch authors make, each
// pair at the size given (MiB, 16 unless told): the patch's size, the time as
// a ratio to reading both images (medians of several runs), and the peak
// memory (in a child process). Every patch is applied back and compared with
// the modified image. With --keep FOLDER the pairs stay there as KIND.a and
// KIND.b, for other creators to be run on them.
//
//   tarnic_bps_bench [--size MIB] [--runs N] [--keep FOLDER]

#include "files/FileReader.h"
#include "patch/PatchApplication.h"
#include "patch/PatchCreation.h"
#include "patch/bps/Bps.h"

#include "ChildProcess.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Bytes = std::string;
constexpr std::size_t MiB = 1 << 20;

[[noreturn]] void fail(const std::string &what) {
    std::fprintf(stderr, "tarnic_bps_bench: %s\n", what.c_str());
    std::exit(1);
}

void writeFile(const fs::path &path, const Bytes &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out.flush())
        fail("cannot write " + path.string());
}

Bytes readFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes randomBytes(std::size_t size, std::mt19937 &random) {
    Bytes bytes(size, '\0');
    for (std::size_t i = 0; i + 4 <= size; i += 4) {
        const std::uint32_t word = random();
        std::memcpy(&bytes[i], &word, 4);
    }
    return bytes;
}

// Text as a translation holds it: words of letters, strings ending in a zero.
Bytes textString(std::mt19937 &random) {
    Bytes text;
    const int words = 1 + int(random() % 6);
    for (int w = 0; w < words; ++w) {
        const int letters = 2 + int(random() % 7);
        for (int i = 0; i < letters; ++i)
            text += char('a' + random() % 26);
        text += ' ';
    }
    text.back() = '\0';
    return text;
}

// An image with the structure cartridges have: code and data that look
// random, a text bank of strings, stretches of one byte, and data repeated.
Bytes baseImage(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    Bytes image = randomBytes(size, random);
    image.replace(0, 4, "\x80\x37\x12\x40", 4);
    // The text bank: strings in 256-byte pages, each page padded with zeros.
    const std::size_t textStart = size / 2;
    for (std::size_t page = textStart; page + 256 <= textStart + size / 8; page += 256) {
        Bytes strings;
        while (true) {
            const Bytes s = textString(random);
            if (strings.size() + s.size() > 256)
                break;
            strings += s;
        }
        strings.resize(256, '\0');
        image.replace(page, 256, strings);
    }
    for (int i = 0; i < 64; ++i) { // runs
        const std::size_t at = random() % (size - 70000);
        const std::size_t length = 1000 + random() % 60000;
        image.replace(at, length, length, char(random()));
    }
    for (int i = 0; i < 256; ++i) { // repeated data
        const std::size_t from = random() % (size - 8192);
        const std::size_t to = random() % (size - 8192);
        image.replace(to, 4096, image.substr(from, 4096));
    }
    return image;
}

// Each kind of change, made to a copy of the base image.
struct Kind {
    const char *name;
    std::function<Bytes(const Bytes &, std::mt19937 &)> change;
};

const std::vector<Kind> &kinds() {
    static const std::vector<Kind> all = {
        {"scattered edits",
         [](const Bytes &a, std::mt19937 &random) {
             Bytes b = a;
             for (int i = 0; i < 10000; ++i) {
                 const std::size_t at = random() % (b.size() - 64);
                 const Bytes bytes = randomBytes(4 + random() % 60, random);
                 b.replace(at, bytes.size(), bytes);
             }
             return b;
         }},
        {"inserted bytes",
         [](const Bytes &a, std::mt19937 &random) {
             Bytes b = a;
             for (int i = 0; i < 100; ++i)
                 b.insert(random() % b.size(), randomBytes(4 + random() % 400, random));
             return b;
         }},
        {"translation",
         [](const Bytes &a, std::mt19937 &random) {
             // Every string of the text bank rewritten, a byte or two longer
             // or shorter, each page packed again; some code changed too.
             Bytes b = a;
             const std::size_t textStart = a.size() / 2;
             for (std::size_t page = textStart; page + 256 <= textStart + a.size() / 8;
                  page += 256) {
                 Bytes strings;
                 std::size_t at = page;
                 while (at < page + 256 && a[at] != '\0') {
                     const std::size_t end = a.find('\0', at);
                     Bytes s = a.substr(at, end - at);
                     if (random() % 3 != 0) { // most strings are translated
                         s = textString(random);
                         s.pop_back();
                     } else if (random() % 2 == 0) {
                         s.insert(random() % (s.size() + 1), 1 + random() % 2, 'e');
                     }
                     strings += s + '\0';
                     at = end + 1;
                 }
                 strings.resize(256, '\0');
                 b.replace(page, 256, strings);
             }
             for (int i = 0; i < 2000; ++i) {
                 const std::size_t at = random() % (textStart - 8);
                 b.replace(at, 4, randomBytes(4, random));
             }
             return b;
         }},
        {"moved block",
         [](const Bytes &a, std::mt19937 &) {
             Bytes b = a;
             const std::size_t from = a.size() / 8;
             const std::size_t to = a.size() / 8 * 5;
             const Bytes block = b.substr(from, MiB);
             b.erase(from, MiB);
             b.insert(to, block);
             return b;
         }},
        {"64-byte blocks shuffled",
         [](const Bytes &a, std::mt19937 &random) {
             Bytes b = a;
             const std::size_t start = a.size() / 4;
             const std::size_t count = a.size() / 4 / 64;
             std::vector<std::size_t> order(count);
             for (std::size_t i = 0; i < count; ++i)
                 order[i] = i;
             std::shuffle(order.begin(), order.end(), random);
             for (std::size_t i = 0; i < count; ++i)
                 b.replace(start + i * 64, 64, a.substr(start + order[i] * 64, 64));
             return b;
         }},
        {"4 KiB blocks shuffled",
         [](const Bytes &a, std::mt19937 &random) {
             Bytes b = a;
             const std::size_t count = a.size() / 4096;
             std::vector<std::size_t> order(count);
             for (std::size_t i = 0; i < count; ++i)
                 order[i] = i;
             std::shuffle(order.begin() + 1, order.end(), random);
             for (std::size_t i = 0; i < count; ++i)
                 b.replace(i * 4096, 4096, a.substr(order[i] * 4096, 4096));
             return b;
         }},
        {"region replaced",
         [](const Bytes &a, std::mt19937 &random) {
             Bytes b = a;
             b.replace(a.size() / 3, a.size() / 8, randomBytes(a.size() / 8, random));
             return b;
         }},
        {"unrelated image", [](const Bytes &a, std::mt19937 &) { return baseImage(a.size(), 99); }},
    };
    return all;
}

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

double medianMs(int runs, const std::function<void()> &work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(msSince(start));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void readBoth(const fs::path &a, const fs::path &b) {
    for (const fs::path &path : {a, b}) {
        tarnic::FileReader file;
        if (!file.open(path))
            fail("cannot read " + path.string());
        std::vector<char> buffer(MiB);
        while (file.read(buffer.data(), std::int64_t(buffer.size())) > 0) {
        }
    }
}

} // namespace

int main(int argc, char **argv) {
    std::size_t sizeMiB = 16;
    int runs = 3;
    fs::path keep;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--size")
            sizeMiB = std::size_t(std::stoul(argv[i + 1]));
        else if (option == "--runs")
            runs = std::max(1, std::stoi(argv[i + 1]));
        else if (option == "--keep")
            keep = argv[i + 1];
        else
            fail("usage: tarnic_bps_bench [--size MIB] [--runs N] [--keep FOLDER]");
    }
    const fs::path folder = keep.empty() ? fs::temp_directory_path() /
                                               ("tarnic-bps-bench-" + std::to_string(::getpid()))
                                         : keep;
    fs::create_directories(folder);

    const Bytes base = baseImage(sizeMiB * MiB, 1);
    std::printf("%zu MiB images, medians of %d runs\n", sizeMiB, runs);
    std::printf("%-26s %12s %10s %12s %10s\n", "pair", "patch bytes", "ms", "to reading",
                "peak MiB");
    std::mt19937 random(7);
    for (const Kind &kind : kinds()) {
        const Bytes modified = kind.change(base, random);
        std::string name = kind.name;
        std::replace(name.begin(), name.end(), ' ', '-');
        const fs::path a = folder / (name + ".a");
        const fs::path b = folder / (name + ".b");
        const fs::path patch = folder / (name + ".bps");
        writeFile(a, base);
        writeFile(b, modified);
        const tarnic::CreateJob job{a, b, patch, {}};
        const double readMs = medianMs(runs, [&] { readBoth(a, b); });
        const double createMs = medianMs(runs, [&] {
            if (tarnic::createBpsPatch(job).outcome != tarnic::CreateOutcome::Created)
                fail(std::string("creation failed: ") + kind.name);
        });
        const long peakKiB =
            childprocess::run([&] {
                return tarnic::createBpsPatch(job).outcome == tarnic::CreateOutcome::Created ? 0
                                                                                             : 1;
            }).peakKiB;
        const fs::path result = folder / (name + ".out");
        fs::copy_file(a, result, fs::copy_options::overwrite_existing);
        tarnic::PatchJob apply;
        apply.patchPath = patch;
        apply.imagePath = result;
        if (tarnic::applyBps(apply).outcome != tarnic::ApplyOutcome::Applied ||
            readFile(result) != modified)
            fail(std::string("the patch does not give the modified image: ") + kind.name);
        std::printf("%-26s %12lld %10.0f %12.2f %10.1f\n", kind.name,
                    (long long)fs::file_size(patch), createMs, createMs / readMs, peakKiB / 1024.0);
        std::fflush(stdout);
        fs::remove(result);
        if (keep.empty()) {
            fs::remove(a);
            fs::remove(b);
            fs::remove(patch);
        }
    }
    if (keep.empty())
        fs::remove_all(folder);
    return 0;
}
