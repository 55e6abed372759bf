#pragma once
// Converting an image between byte orders. The window's conversion exchanges
// the two bytes of every aligned pair, which converts between the two copier
// orders in either direction; converting twice restores the file. The general
// conversion also knows the little-endian order (every 32-bit word reversed).

#include "files/OwnNames.h"
#include "rom/ImageHeader.h"

#include <string>

#include <filesystem>
#include <functional>
#include <vector>

namespace tarnic {

enum class ConversionOutcome {
    Converted,        // the file (or the output) now holds the other byte order
    Missing,          // no file selected, nothing at the path, or not a plain file
    TooShort,         // fewer than 2 bytes
    NotWritable,      // marked read-only, or cannot be opened for writing
    Failed,           // a read or write failed during the work; the file is unchanged
    AlreadyInOrder,   // the image is already in the order asked for: nothing written
    Unrecognised,     // not an image in any of the three orders: nothing written
    Busy,             // another Tarnic operation works on the image and did not finish
                      // in time: nothing written
    Changed,          // another program changed the image meanwhile: nothing replaced
    OutputIsTheImage, // the output named is the image itself: nothing written
    NameClash,        // a name the conversion writes is the image, or is held by
                      // a folder or the like (`clash`): nothing written
};

struct ConversionResult {
    ConversionOutcome outcome = ConversionOutcome::Missing;
    std::int64_t length = 0;             // the file's length, which conversion never changes
    ByteOrder from = ByteOrder::Unknown; // the order found (general conversion only)
    std::string systemError;             // Failed: the system's reason, where it gave one
    // Converted, but the folder could not be flushed to disk: the reason.
    std::string folderFlushError;
    NameClash clash; // NameClash: the names at fault
};

// Exchanges bytes 2k and 2k+1 throughout `filePath`; a last odd byte stays. The
// converted image replaces the original only once complete, so any failure
// leaves the file as it was. Conversions lock the image for the whole work
// (files/FileLock.h) and replace nothing that another program changed. `workStarting` runs once the
// checks have passed, just before the first byte is read.
ConversionResult swapByteOrder(const std::filesystem::path &filePath,
                               const std::function<void()> &workStarting = {});

// Converts the image at `filePath`, found in whichever of the three orders it
// is in, to `to` (not Unknown). With an `outputPath` the converted image is
// written there (created or replaced) and the image is only read; otherwise it
// replaces the image. All or nothing either way; an image already in that
// order is left alone and nothing is written.
ConversionResult convertImage(const std::filesystem::path &filePath, ByteOrder to,
                              const std::filesystem::path &outputPath = {},
                              const std::function<void()> &workStarting = {});

// The exchange itself, on a piece of memory of any size.
void swapBytePairs(char *data, std::int64_t size);

// Rearranges `size` bytes from one known order to another. What the orders
// are for a length that is no whole number of words: the byte-swapped order
// exchanges every whole pair (a last odd byte stays), the little-endian order
// reverses every whole word and keeps a shorter tail as the cartridge order
// has it, just as conversion leaves them. A piece of a larger image must
// start at a multiple of 4; only the image's last piece has a tail.
void reorderBytes(char *data, std::int64_t size, ByteOrder from, ByteOrder to);
// The same from `source` into `target`, another piece of memory of `size` bytes.
void copyReordered(const char *source, char *target, std::int64_t size, ByteOrder from,
                   ByteOrder to);

// The orders an image stored in `own` can be read in, `own` first: an N64
// image's three, anything else (Unknown) only as it is.
std::vector<ByteOrder> readableOrders(ByteOrder own);

} // namespace tarnic
