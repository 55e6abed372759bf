#pragma once
// The match rule: whether a patch was made for an image, told by comparing the
// four texts each side shows, pair by pair. Both sides build their texts from
// the same tables and forms, so equal header values give equal texts.

#include <string>

#include <array>

namespace tarnic {

struct ImageDisplay;
struct PatchDisplay;

inline constexpr int kMatchPairCount = 4;

// The pair of the byte orders: the first compared.
inline constexpr int kFormatPair = 0;

// The four compared texts of one side: format, cartridge ID, country, CRCs.
using MatchTexts = std::array<std::string, kMatchPairCount>;

MatchTexts imageSideTexts(const ImageDisplay &display);
// A field the inspection did not fill counts as empty.
MatchTexts patchSideTexts(const PatchDisplay &display);

// Each pair is equal when its two texts are equal character for character:
// letter case, length and trailing spaces count; two empty texts are equal.
std::array<bool, kMatchPairCount> comparePairs(const MatchTexts &imageSide,
                                               const MatchTexts &patchSide);

bool allPairsEqual(const std::array<bool, kMatchPairCount> &pairs);

} // namespace tarnic
