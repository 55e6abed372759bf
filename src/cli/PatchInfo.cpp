#include "PatchInfo.h"

#include "Images.h"
#include "patch/PatchFormat.h"
#include "qt/PathText.h"

namespace tarnic::cli {

void printTexts(Console &console, const QString &heading, const Texts &texts) {
    console.out << heading << '\n';
    for (const auto &[caption, value] : texts)
        printLine(console, caption, value);
}

QJsonObject jsonTexts(const Texts &texts) {
    QJsonObject shown;
    for (const auto &[caption, value] : texts)
        shown.insert(fromEngine(text::captionName(caption)), value);
    return shown;
}

namespace {

// The patch side of the window, caption by caption.
Texts windowTexts(const PatchDisplay &d) {
    return {
        {text::PatchTypeCaption, fromEngine(d.PatchTypeTxT.value_or(""))},
        {text::EncodeTypeCaption, fromEngine(d.EncodeMethodTxt.value_or(""))},
        {text::NfoCaption, fromEngine(d.PatchNfo.value_or(""))},
        {text::TargetFormatCaption, fromEngine(d.BackupType.value_or(""))},
        {text::CartIdCaption, fromEngine(d.CartID.value_or(""))},
        {text::CountryIdCaption, fromEngine(d.CountryID.value_or(""))},
        {text::CrcCheckCaption, fromEngine(d.PTCRC.value_or(""))},
    };
}

QJsonValue jsonValue(const SummaryValue &value) {
    if (const auto *text = std::get_if<std::string>(&value))
        return fromEngine(*text);
    if (const auto *number = std::get_if<std::int64_t>(&value))
        return qint64(*number);
    if (const auto *size = std::get_if<std::uint64_t>(&value))
        return jsonSize(*size);
    if (const auto *yes = std::get_if<bool>(&value))
        return *yes;
    return QJsonValue();
}

} // namespace

int infoOfPatch(const QString &file, Console &console, bool json) {
    const PatchSummary patch = inspectPatchFile(pathOf(file), ReadDepth::Whole);
    if (!infoOf(patch.format).applies())
        return fail(console, file,
                    fromEngine(text::withArticle(infoOf(patch.format).name) +
                               " patch, which this version does not read yet"),
                    Refused);
    // What was read is shown even of a patch whose records then break.
    if (!patch.readable() && patch.lines.empty())
        return fail(console, file, text::reasonFor(patch));
    const Texts shown = patch.display ? windowTexts(*patch.display) : Texts();
    if (json) {
        QJsonObject raw;
        for (const SummaryField &field : patch.fields)
            raw.insert(fromEngine(field.key), jsonValue(field.value));
        QJsonObject object{{QStringLiteral("file"), file},
                           {QStringLiteral("kind"), fromEngine(patch.kind)},
                           {QStringLiteral("raw"), raw}};
        if (patch.display)
            object.insert(QStringLiteral("texts"), jsonTexts(shown));
        printJson(console, object);
    } else {
        printTexts(console, file + QStringLiteral(": ") + fromEngine(patch.heading), shown);
        for (const SummaryLine &line : patch.lines)
            printLine(console, line.caption, fromEngine(line.value));
    }
    if (!patch.readable())
        return fail(console, file, text::reasonFor(patch));
    return Success;
}

} // namespace tarnic::cli
