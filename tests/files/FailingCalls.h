#pragma once
// A failing file layer for the fault tests: the test program defines fdatasync,
// rename, link and linkat itself, so that every caller in the process (Qt
// included) goes through them, and each can be told to fail once with EIO.

namespace failing {

enum class Call { Fdatasync, Rename, Link, Count };

inline constexpr const char *kCallNames[] = {"fdatasync", "rename", "link"};

// From now on, the `nth` call (1-based) of `call` fails; 0 fails none. Resets
// every count.
void failNth(Call call, int nth);
// How many calls of `call` were made since the last failNth().
int callsSeen(Call call);
// True when the fdatasync that failed was the first on its file since the last
// failNth(): what was written to that file may not be on the disk. (Qt flushes
// a saved file once more after the program has, and ignores a failure there.)
bool failedAFirstFlush();

} // namespace failing
