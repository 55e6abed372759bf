#include "PairCheck.h"
#include "files/PathText.h"

#include "Images.h"
#include "patch/PatchApplication.h"
#include "patch/aps/ApsInspection.h"
#include "rom/ImageHeader.h"

namespace tarnic::cli {

const QString &pairCaption(int pair) {
    static const QString captions[kMatchPairCount] = {
        text::ImageFormatCaption + QStringLiteral(" / ") + text::TargetFormatCaption,
        text::CartIdCaption, text::CountryIdCaption, text::CrcCheckCaption};
    return captions[pair];
}

std::variant<PairCheck, int> comparePatchAndImage(const QString &patchFile,
                                                  const QString &imageFile, Console &console) {
    const ApsInspection patch = inspectApsPatch(pathOf(patchFile));
    if (patch.outcome != InspectionOutcome::Shown)
        return fail(console, patchFile, text::reasonFor(patch.outcome));
    // The whole patch, as applying it would check it.
    if (const PatchFileCheck records = checkApsFile(pathOf(patchFile));
        records.outcome != PatchFileOutcome::Valid)
        return fail(console, patchFile, text::reasonFor(records.outcome));
    HeaderBytes bytes;
    if (!readHeaderBytes(pathOf(imageFile), bytes))
        return fail(console, imageFile, text::reasonFor(InspectionOutcome::CannotOpen));
    const ImageInspection image = inspectHeader(bytes);
    if (image.outcome != ImageReadOutcome::Shown)
        return fail(console, imageFile, notAnImage(imageFile, image.order), Refused);
    PairCheck check;
    check.image = imageSideTexts(image.display);
    check.patch = patchSideTexts(patch.display);
    check.equal = comparePairs(check.image, check.patch);
    check.simplePatch = patch.header.PatchType == kSimplePatchType;
    return check;
}

} // namespace tarnic::cli
