#include "PairCheck.h"
#include "qt/PathText.h"

#include "Images.h"
#include "rom/ImageHeader.h"

namespace tarnic::cli {

const std::string &pairCaption(int pair) {
    static const std::string captions[kMatchPairCount] = {
        text::ImageFormatCaption + " / " + text::TargetFormatCaption, text::CartIdCaption,
        text::CountryIdCaption, text::CrcCheckCaption};
    return captions[pair];
}

std::variant<PairCheck, int> comparePatchAndImage(const PatchSummary &patch,
                                                  const QString &patchFile,
                                                  const QString &imageFile, Console &console) {
    if (!patch.readable() || !patch.display)
        return fail(console, patchFile, text::reasonFor(patch));
    HeaderBytes bytes;
    if (!readHeaderBytes(pathOf(imageFile), bytes))
        return fail(console, imageFile, text::reasonFor(InspectionOutcome::CannotOpen));
    const ImageInspection image = inspectHeader(bytes);
    if (image.outcome != ImageReadOutcome::Shown)
        return fail(console, imageFile, notAnImage(imageFile, image.order), Refused);
    PairCheck check;
    check.image = imageSideTexts(image.display);
    check.patch = patchSideTexts(*patch.display);
    check.equal = comparePairs(check.image, check.patch);
    check.simplePatch = patch.checks != PatchChecks::CartridgePairs;
    return check;
}

} // namespace tarnic::cli
