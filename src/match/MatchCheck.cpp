#include "match/MatchCheck.h"

#include "patch/aps/ApsInspection.h"
#include "rom/ImageHeader.h"

#include <algorithm>

namespace tarnic {

MatchTexts imageSideTexts(const ImageDisplay &display) {
    return {display.RomFormatTxt, display.RomCartIDTxT, display.RomCountryTxt, display.RomCRCTxt};
}

MatchTexts patchSideTexts(const PatchDisplay &display) {
    return {display.BackupType.value_or(std::string()), display.CartID.value_or(std::string()),
            display.CountryID.value_or(std::string()), display.PTCRC.value_or(std::string())};
}

std::array<bool, kMatchPairCount> comparePairs(const MatchTexts &imageSide,
                                               const MatchTexts &patchSide) {
    std::array<bool, kMatchPairCount> equal{};
    for (int i = 0; i < kMatchPairCount; ++i)
        equal[i] = imageSide[i] == patchSide[i];
    return equal;
}

bool allPairsEqual(const std::array<bool, kMatchPairCount> &pairs) {
    return std::all_of(pairs.begin(), pairs.end(), [](bool equal) { return equal; });
}

} // namespace tarnic
