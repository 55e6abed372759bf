// xdelta application on a 64 MiB image with about 1 MiB changed in 10,000
// places: the time of applying patches xdelta3 made (without and with LZMA,
// and in small windows) and the one Tarnic makes, the result written to
// another file, as a ratio to a plain copy flushed to disk; the time of
// `xdelta3 -d` writing the same result, flushed too, in the same run; medians
// of several runs. Then the peak memory of applying each patch (in a child
// process) to the 64 MiB image and to a 256 MiB one, and the time and size of
// Tarnic's creation next to `xdelta3 -e -S none`.
//
//   tarnic_xdelta_bench [--runs N] [FOLDER]
//
// FOLDER (a temporary one unless given) is where the images are written;
// xdelta3 must be installed.

#include "patch/PatchApplication.h"
#include "patch/PatchCreation.h"
#include "patch/PatchFormat.h"
#include "patch/xdelta/Vcdiff.h"

#include "ChildProcess.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
constexpr std::size_t MiB = 1 << 20;
int runs = 5;

[[noreturn]] void fail(const std::string &what) {
    std::fprintf(stderr, "tarnic_xdelta_bench: %s\n", what.c_str());
    std::exit(1);
}

void writeFile(const fs::path &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out.flush())
        fail("cannot write " + path.string());
    out.close();
    const int fd = ::open(path.c_str(), O_RDONLY);
    ::fdatasync(fd);
    ::close(fd);
}

std::string readFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// An image in cartridge order: code-like random bytes, a text bank, zeros.
std::string image(std::size_t size) {
    std::mt19937 random(3);
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i + 4 <= size * 3 / 4; i += 4) {
        const std::uint32_t word = random();
        std::memcpy(&bytes[i], &word, 4);
    }
    for (std::size_t i = size * 3 / 4; i < size * 7 / 8; ++i)
        bytes[i] = char('a' + random() % 26);
    bytes.replace(0, 4, "\x80\x37\x12\x40");
    return bytes;
}

// 10,000 stretches of 1 to 200 bytes rewritten, about 1 MiB.
std::string modified(std::string bytes) {
    std::mt19937 random(11);
    for (int i = 0; i < 10000; ++i) {
        const std::size_t at = 64 + random() % (bytes.size() - 320);
        const int length = 1 + int(random() % 200);
        for (int b = 0; b < length; ++b)
            bytes[at + size_t(b)] = char(i % 3 == 2 ? 0x55 : random());
    }
    return bytes;
}

double medianMs(const std::function<void()> &work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void plainCopy(const fs::path &from, const fs::path &to) {
    const int in = ::open(from.c_str(), O_RDONLY);
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char> buffer(MiB);
    for (ssize_t n; (n = ::read(in, buffer.data(), buffer.size())) > 0;)
        if (::write(out, buffer.data(), size_t(n)) != n)
            fail("copy failed");
    ::fdatasync(out);
    ::close(in);
    ::close(out);
}

void run(const std::string &command) {
    if (std::system(command.c_str()) != 0)
        fail("failed: " + command);
}

void tarnicApply(const fs::path &patch, const fs::path &image, const fs::path &out) {
    tarnic::PatchJob job;
    job.patchPath = patch;
    job.imagePath = image;
    job.outputPath = out;
    if (tarnic::applyPatchFile(job).outcome != tarnic::ApplyOutcome::Applied)
        fail("Tarnic could not apply " + patch.string());
}

// xdelta3 -d, its output flushed to disk as Tarnic's is.
void xdelta3Apply(const fs::path &patch, const fs::path &image, const fs::path &out) {
    run("xdelta3 -d -f -s '" + image.string() + "' '" + patch.string() + "' '" + out.string() +
        "'");
    const int fd = ::open(out.c_str(), O_RDONLY);
    ::fdatasync(fd);
    ::close(fd);
}

} // namespace

int main(int argc, char **argv) {
    fs::path folder;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            folder = argv[i];
    }
    if (std::system("xdelta3 -V > /dev/null 2>&1") != 0)
        fail("xdelta3 is not installed");
    const bool scratch = folder.empty();
    if (scratch) {
        std::string pattern = (fs::temp_directory_path() / "tarnic-xdelta-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            fail("no temporary folder");
        folder = pattern;
    }
    const fs::path source = folder / "image.z64", target = folder / "modified.z64",
                   out = folder / "out.z64", copy = folder / "copy.z64";
    const auto makePatches = [&](std::size_t size) {
        const std::string bytes = image(size);
        writeFile(source, bytes);
        writeFile(target, modified(bytes));
        for (const char *options : {"-S none", "-S lzma", "-S none -W 65536"})
            run(std::string("xdelta3 -e -f ") + options + " -s '" + source.string() + "' '" +
                target.string() + "' '" + (folder / ("xdelta3 " + std::string(options))).string() +
                "'");
        const tarnic::CreateJob job{source, target, folder / "tarnic", {}};
        if (tarnic::createXdeltaPatch(job).outcome != tarnic::CreateOutcome::Created)
            fail("Tarnic could not make its patch");
    };
    const char *patches[] = {"xdelta3 -S none", "xdelta3 -S lzma", "xdelta3 -S none -W 65536",
                             "tarnic"};

    makePatches(64 * MiB);
    const double copyMs = medianMs([&] { plainCopy(source, copy); });
    std::printf("64 MiB image, 10,000 changes (about 1 MiB), medians of %d runs\n", runs);
    std::printf("%-34s %10s %8s %10s %8s\n", "patch", "Tarnic ms", "ratio", "xdelta3 ms", "ratio");
    std::printf("%-34s %10.1f %8.2f\n", "plain copy", copyMs, 1.0);
    for (const char *name : patches) {
        const fs::path patch = folder / name;
        const double ours = medianMs([&] { tarnicApply(patch, source, out); });
        if (readFile(out) != readFile(target))
            fail(std::string("Tarnic's result differs for ") + name);
        const double theirs = medianMs([&] { xdelta3Apply(patch, source, out); });
        std::printf("%-34s %10.1f %8.2f %10.1f %8.2f  (%lld bytes)\n", name, ours, ours / copyMs,
                    theirs, theirs / copyMs, (long long)fs::file_size(patch));
    }

    std::printf("\n%-34s %12s %12s\n", "peak memory (MiB)", "64 MiB", "256 MiB");
    long peaks[4][2];
    for (int s = 0; s < 2; ++s) {
        if (s == 1)
            makePatches(256 * MiB);
        for (int p = 0; p < 4; ++p) {
            const fs::path patch = folder / patches[p];
            peaks[p][s] = childprocess::run([&] {
                              tarnicApply(patch, source, out);
                              return 0;
                          }).peakKiB;
        }
    }
    for (int p = 0; p < 4; ++p)
        std::printf("%-34s %12.1f %12.1f\n", patches[p], double(peaks[p][0]) / 1024,
                    double(peaks[p][1]) / 1024);

    makePatches(64 * MiB);
    const tarnic::CreateJob job{source, target, folder / "tarnic", {}};
    const double createMs = medianMs([&] { (void)tarnic::createXdeltaPatch(job); });
    const double theirMs = medianMs([&] {
        run("xdelta3 -e -f -S none -s '" + source.string() + "' '" + target.string() + "' '" +
            (folder / "theirs").string() + "'");
    });
    std::printf("\n%-34s %10.1f ms, %lld bytes\n", "Tarnic creation", createMs,
                (long long)fs::file_size(folder / "tarnic"));
    std::printf("%-34s %10.1f ms, %lld bytes\n", "xdelta3 -e -S none", theirMs,
                (long long)fs::file_size(folder / "theirs"));
    if (scratch)
        fs::remove_all(folder);
    return 0;
}
