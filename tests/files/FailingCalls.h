#pragma once
// A failing file layer for the fault tests: the test program defines fdatasync,
// rename, link, linkat, pwrite and fsync itself, so that every caller in the process
// (Qt included) goes through them, and each can be told to misbehave at its
// Nth call: fail once with EIO, fail from then on, write only half the bytes,
// or kill the process on the spot.

#include <functional>

namespace failing {

// fsync: what the program flushes a folder with, after a rename.
enum class Call { Fdatasync, Rename, Link, Pwrite, Fsync, Count };
inline constexpr const char *kCallNames[] = {"fdatasync", "rename", "link", "pwrite", "fsync"};

enum class Fault { Once, FromThenOn, ShortWrite, Kill, Count };
inline constexpr const char *kFaultNames[] = {"failing", "failing from then on", "half written by",
                                              "killed at"};

// From now on, the `nth` call (1-based) of `call` meets `fault`; 0 meets none.
// Resets every count.
void failNth(Call call, int nth, Fault fault = Fault::Once);
// From now on, `then` runs just after the `nth` rename (1-based) has been
// made, once; an empty `then` runs nothing.
void afterNthRename(int nth, std::function<void()> then);
// How many calls of `call` were made since the last failNth().
int callsSeen(Call call);
// True when a flush to disk failed that was the first on its file since the
// last failNth(): what was written to that file may not be on the disk. (Qt
// flushes a file once more after the program has, and ignores a failure there.)
bool failedAFirstFlush();

} // namespace failing
