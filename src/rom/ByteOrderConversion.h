#pragma once
// Converting an image between the two copier byte orders: the two bytes of every
// aligned pair are exchanged, which converts in either direction; converting
// twice restores the file.

#include <QString>

#include <functional>

namespace tarnic {

enum class ConversionOutcome {
    Converted,   // the file now holds the other byte order
    Missing,     // no file selected, nothing at the path, or not a plain file
    TooShort,    // fewer than 2 bytes
    NotWritable, // marked read-only, or cannot be opened for writing
    Failed,      // a read or write failed during the work; the file is unchanged
};

struct ConversionResult {
    ConversionOutcome outcome = ConversionOutcome::Missing;
    qint64 length = 0; // the file's length, which the conversion never changes
};

// Exchanges bytes 2k and 2k+1 throughout `filePath`; a last odd byte stays. The
// converted image replaces the original only once complete, so any failure
// leaves the file as it was. `workStarting` runs once the checks have passed,
// just before the first byte is read.
ConversionResult swapByteOrder(const QString &filePath,
                               const std::function<void()> &workStarting = {});

// The exchange itself, on a piece of memory of any size.
void swapBytePairs(char *data, qint64 size);

} // namespace tarnic
