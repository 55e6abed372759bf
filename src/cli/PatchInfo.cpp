#include "PatchInfo.h"

#include "Images.h"
#include "files/PathText.h"
#include "patch/PatchFormat.h"

namespace tarnic::cli {

void printTexts(Console &console, const QString &heading, const Texts &texts) {
    console.out << heading << '\n';
    for (const auto &[caption, value] : texts)
        printLine(console, caption, value);
}

QJsonObject jsonTexts(const Texts &texts) {
    QJsonObject shown;
    for (const auto &[caption, value] : texts)
        shown.insert(text::captionName(caption), value);
    return shown;
}

namespace {

// The patch side of the window, caption by caption.
Texts windowTexts(const PatchDisplay &d) {
    return {
        {text::PatchTypeCaption, d.PatchTypeTxT.value_or(QString())},
        {text::EncodeTypeCaption, d.EncodeMethodTxt.value_or(QString())},
        {text::NfoCaption, d.PatchNfo.value_or(QString())},
        {text::TargetFormatCaption, d.BackupType.value_or(QString())},
        {text::CartIdCaption, d.CartID.value_or(QString())},
        {text::CountryIdCaption, d.CountryID.value_or(QString())},
        {text::CrcCheckCaption, d.PTCRC.value_or(QString())},
    };
}

QJsonValue jsonValue(const SummaryValue &value) {
    if (const auto *text = std::get_if<std::string>(&value))
        return QString::fromStdString(*text);
    if (const auto *number = std::get_if<std::int64_t>(&value))
        return qint64(*number);
    if (const auto *size = std::get_if<std::uint64_t>(&value))
        return jsonSize(*size);
    return QJsonValue();
}

} // namespace

int infoOfPatch(const QString &file, Console &console, bool json) {
    const PatchSummary patch = inspectPatchFile(pathOf(file), ReadDepth::Whole);
    const QString name = QString::fromUtf8(infoOf(patch.format).name);
    if (!infoOf(patch.format).applies())
        return fail(console, file,
                    QStringLiteral("%1 patch, which this version does not read yet")
                        .arg(text::withArticle(name)),
                    Refused);
    // What was read is shown even of a patch whose records then break.
    if (!patch.readable() && patch.lines.empty())
        return fail(console, file, text::reasonFor(patch));
    const Texts shown = patch.display ? windowTexts(*patch.display) : Texts();
    if (json) {
        QJsonObject raw;
        for (const SummaryField &field : patch.fields)
            raw.insert(QString::fromStdString(field.key), jsonValue(field.value));
        QJsonObject object{{QStringLiteral("file"), file},
                           {QStringLiteral("kind"), QString::fromStdString(patch.kind)},
                           {QStringLiteral("raw"), raw}};
        if (patch.display)
            object.insert(QStringLiteral("texts"), jsonTexts(shown));
        printJson(console, object);
    } else {
        printTexts(console, file + QStringLiteral(": ") + QString::fromStdString(patch.heading),
                   shown);
        for (const SummaryLine &line : patch.lines)
            printLine(console, QString::fromStdString(line.caption),
                      QString::fromStdString(line.value));
    }
    if (!patch.readable())
        return fail(console, file, text::reasonFor(patch));
    return Success;
}

} // namespace tarnic::cli
