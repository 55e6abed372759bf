#pragma once
// Reading a patch's header for the patch side of the main window.

#include "patch/PatchSummary.h"
#include "patch/aps/ApsFormat.h"

#include <string>

#include <filesystem>
#include <optional>

namespace tarnic {

enum class InspectionOutcome {
    Shown,        // the whole header was read; the match check runs
    CannotOpen,   // the file could not be opened: "Error Openning File", nothing shown changes
    NotAnApsFile, // the magic is not "APS10" (or the file is shorter than 5 bytes)
    UnsupportedEncoding, // EncodingMethod is not 0: "Not Supported In This Version"
    ReadFailed,          // TargetFormat of 2 or more, or the file ended inside a field:
                         // "Error Openning File" after the fields read so far are shown
};

struct ApsInspection {
    InspectionOutcome outcome = InspectionOutcome::CannotOpen;
    // The header as far as it was read; fields not reached keep their defaults.
    PatchHeader header;
    PatchDisplay display;
};

// Reads the header of `filePath` field by field, in file order. Once the file is
// open, type, encoding, description and target format are blanked, and each
// field then shows as soon as it is read, so an inspection that stops early
// leaves the fields it reached showing the new file. Only bytes 0 to 68 are read.
// A simple patch (type 0) has no target fields: they all show empty, and only
// its 61-byte header is read.
ApsInspection inspectApsPatch(const std::filesystem::path &filePath);

// The same as a summary: the window's texts as `display`; with
// ReadDepth::Whole, the record stream read too, and what `info` shows of both.
PatchSummary summarizeAps(const std::filesystem::path &filePath, ReadDepth depth);

} // namespace tarnic
