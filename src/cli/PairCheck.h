#pragma once
// The four pairs the window colours, read from a patch and an image on the
// command line: shared by `check` and `apply`.

#include "Command.h"
#include "match/MatchCheck.h"
#include "patch/PatchSummary.h"

#include <variant>

namespace tarnic::cli {

struct PairCheck {
    std::array<bool, kMatchPairCount> equal{};
    MatchTexts image;
    MatchTexts patch;
    bool simplePatch = false;
};

// The caption of pair `pair` ("Cart-ID", ...).
const std::string &pairCaption(int pair);

// Compares the four pairs of a patch that shows the window's texts
// (`patch.display`) with the image's header; an error line and the exit
// status when either cannot be shown or the patch is not whole.
std::variant<PairCheck, int> comparePatchAndImage(const PatchSummary &patch,
                                                  const QString &patchFile,
                                                  const QString &imageFile, Console &console);

} // namespace tarnic::cli
