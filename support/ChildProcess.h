#pragma once
// Running a piece of work in a child process, for the benchmark and the tests:
// its exit code, its peak memory, a file-size limit and a kill at a moment.
// Not part of the program.

#include <chrono>
#include <functional>
#include <optional>

namespace childprocess {

struct Limits {
    // The child may write at most this many bytes to any file; a write past it
    // fails (with EFBIG) instead of killing the child.
    std::optional<long long> fileSize;
    // The child is killed (SIGKILL) this long after it starts.
    std::optional<std::chrono::microseconds> killAfter;
};

struct Ended {
    int exitCode = -1; // what `work` returned; -1 when the child was killed
    long peakKiB = 0;  // the child's peak resident memory
};

// Runs `work` in a forked child and waits for it.
Ended run(const std::function<int()> &work, const Limits &limits = {});

} // namespace childprocess
