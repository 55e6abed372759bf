#include "CliCommands.h"

#include "patch/PatchApplication.h"
#include "patch/PatchCreation.h"
#include "patch/PatchInspection.h"
#include "rom/ByteOrderConversion.h"
#include "rom/Checksum.h"
#include "rom/ImageHeader.h"
#include "rom/MatchCheck.h"
#include "texts/Messages.h"

#include <QCommandLineParser>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstring>
#include <optional>

namespace tarnic::cli {

namespace {

// The options and arguments of one command.
class CommandLine {
  public:
    CommandLine(const CommandEntry &command) : command_(command) {
        parser_.setApplicationDescription(QString::fromLatin1(command.summary));
        parser_.addHelpOption();
    }

    QCommandLineParser &parser() { return parser_; }

    // Reads the arguments. Returns the exit status when the command is to end
    // here (help shown, or a usage error), nothing when it is to run.
    std::optional<int> parse(const QStringList &arguments, Console &console, qsizetype fewest,
                             qsizetype most = -1) {
        if (!parser_.parse(arguments)) {
            console.err << "tarnic-cli " << command_.name << ": " << parser_.errorText() << '\n'
                        << usageHint();
            return Trouble;
        }
        if (parser_.isSet(QStringLiteral("help"))) {
            console.out << helpText(
                parser_, QStringLiteral("tarnic-cli %1 [options] %2")
                             .arg(QLatin1String(command_.name), QLatin1String(command_.synopsis)));
            return Success;
        }
        files_ = parser_.positionalArguments().mid(1); // after the command's name
        if (files_.size() < fewest || (most >= 0 && files_.size() > most)) {
            console.err << "tarnic-cli " << command_.name << ": expected " << command_.synopsis
                        << '\n'
                        << usageHint();
            return Trouble;
        }
        return std::nullopt;
    }

    const QStringList &files() const { return files_; }

    QString usageHint() const {
        return QStringLiteral("Try 'tarnic-cli %1 --help'.\n").arg(QLatin1String(command_.name));
    }

  private:
    const CommandEntry &command_;
    QCommandLineParser parser_;
    QStringList files_;
};

// An error line: the file and the reason.
int fail(Console &console, const QString &file, const QString &reason, int status) {
    console.err << "tarnic-cli: " << file << ": " << reason << '\n';
    return status;
}

// Why an operation failed, and the exit status that goes with it.
struct Failure {
    QString reason;
    int status;
};

int fail(Console &console, const QString &file, const Failure &failure) {
    return fail(console, file, failure.reason, failure.status);
}

void line(Console &console, const QString &caption, const QString &value) {
    console.out << text::captionName(caption) << ": " << value << '\n';
}

const char *shortName(StoredOrder order) {
    switch (order) {
    case StoredOrder::Cartridge:
        return "z64";
    case StoredOrder::ByteSwapped:
        return "v64";
    case StoredOrder::LittleEndian:
        return "n64";
    case StoredOrder::Unknown:
        break;
    }
    return "unknown";
}

QString orderName(StoredOrder order) {
    switch (order) {
    case StoredOrder::Cartridge:
    case StoredOrder::ByteSwapped:
        return ImageFormatNames[int(order)].trimmed();
    case StoredOrder::LittleEndian:
        return QStringLiteral("little-endian");
    case StoredOrder::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

QString littleEndianRemedy(const QString &file) {
    return QStringLiteral("a little-endian (.n64) image, which the window does not read; convert "
                          "it with: tarnic-cli convert --to z64 %1")
        .arg(file);
}

QString notAnImage(const QString &file, StoredOrder order) {
    return order == StoredOrder::LittleEndian
               ? littleEndianRemedy(file)
               : QStringLiteral("not an N64 image in a known byte order");
}

QString hex(const QByteArray &bytes) {
    return QString::fromLatin1(bytes.toHex().toUpper());
}

void printJson(Console &console, const QJsonObject &object) {
    console.out << QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) << '\n';
}

std::optional<BootCode> bootCodeOption(const QCommandLineParser &parser, bool &valid) {
    valid = true;
    if (!parser.isSet(QStringLiteral("cic")))
        return std::nullopt;
    const std::optional<BootCode> kind = bootCodeNamed(parser.value(QStringLiteral("cic")));
    valid = kind.has_value();
    return kind;
}

const QCommandLineOption kCicOption(QStringLiteral("cic"),
                                    QStringLiteral("The boot code: 6101, 6102 (7101), 7102, 6103 "
                                                   "(7103), 6105 (7105) or 6106 (7106)."),
                                    QStringLiteral("KIND"));

// ---- Patches ----------------------------------------------------------------

std::optional<Failure> patchTrouble(InspectionOutcome outcome) {
    switch (outcome) {
    case InspectionOutcome::Shown:
        return std::nullopt;
    case InspectionOutcome::CannotOpen:
        return Failure{text::ErrorOpeningFile + QStringLiteral(": cannot be read"), Trouble};
    case InspectionOutcome::NotAnApsFile:
        return Failure{text::NotAnApsFile, Refused};
    case InspectionOutcome::UnsupportedEncoding:
        return Failure{text::NotSupported + QStringLiteral(": an encoding other than 0"), Refused};
    case InspectionOutcome::ReadFailed:
        return Failure{text::ErrorOpeningFile +
                           QStringLiteral(": the header is cut short or names a target "
                                          "format other than 0 or 1"),
                       Refused};
    }
    return Failure{text::ErrorOpeningFile, Trouble};
}

QString recordTrouble(PatchFileOutcome outcome) {
    switch (outcome) {
    case PatchFileOutcome::Valid:
        break;
    case PatchFileOutcome::Unreadable:
        return QStringLiteral("the record stream cannot be read");
    case PatchFileOutcome::Truncated:
        return QStringLiteral("the file ends inside its header");
    case PatchFileOutcome::NotAnApsFile:
        return text::NotAnApsFile;
    case PatchFileOutcome::UnsupportedEncoding:
        return text::NotSupported;
    case PatchFileOutcome::Invalid:
        return QStringLiteral("a record is cut short or writes outside offsets 0 to 2^31 - 1");
    }
    return QString();
}

int infoOfPatch(const QString &file, Console &console, bool json) {
    const PatchInspection inspection = inspectPatch(file);
    if (const auto trouble = patchTrouble(inspection.outcome))
        return fail(console, file, *trouble);
    const PatchFileCheck records = checkPatchFile(file);
    const PatchDisplay &d = inspection.display;
    const PatchHeader &h = inspection.header;
    const bool simple = h.PatchType == kSimplePatchType;
    const std::pair<QString, QString> texts[] = {
        {text::PatchTypeCaption, d.PatchTypeTxT.value_or(QString())},
        {text::EncodeTypeCaption, d.EncodeMethodTxt.value_or(QString())},
        {text::NfoCaption, d.PatchNfo.value_or(QString())},
        {text::TargetFormatCaption, d.BackupType.value_or(QString())},
        {text::CartIdCaption, d.CartID.value_or(QString())},
        {text::CountryIdCaption, d.CountryID.value_or(QString())},
        {text::CrcCheckCaption, d.PTCRC.value_or(QString())},
    };
    const bool recordsValid = records.outcome == PatchFileOutcome::Valid;

    if (json) {
        QJsonObject shown;
        for (const auto &[caption, value] : texts)
            shown.insert(text::captionName(caption), value);
        QJsonObject raw{
            {QStringLiteral("patchType"), h.PatchType},
            {QStringLiteral("encoding"), h.EncodingMethod},
            {QStringLiteral("description"), h.Description},
            {QStringLiteral("headerSize"), recordStreamStart(h.PatchType)},
            {QStringLiteral("imageSize"), qint64(records.declaredImageSize)},
        };
        if (!simple) {
            raw.insert(QStringLiteral("targetFormat"), h.TargetFormat);
            raw.insert(QStringLiteral("cartId"), h.CartId);
            raw.insert(QStringLiteral("countryCode"), h.CountryCode);
            raw.insert(QStringLiteral("crc1"), hexText(h.Crc1));
            raw.insert(QStringLiteral("crc2"), hexText(h.Crc2));
        }
        if (recordsValid) {
            raw.insert(QStringLiteral("records"), records.records);
            raw.insert(QStringLiteral("bytesWritten"), records.bytesWritten);
        }
        printJson(console, {{QStringLiteral("file"), file},
                            {QStringLiteral("kind"), QStringLiteral("aps-patch")},
                            {QStringLiteral("texts"), shown},
                            {QStringLiteral("raw"), raw}});
    } else {
        console.out << file << ": APS patch\n";
        for (const auto &[caption, value] : texts)
            line(console, caption, value);
        if (recordsValid) {
            line(console, QStringLiteral("Records"), QString::number(records.records));
            line(console, QStringLiteral("Bytes written"), QString::number(records.bytesWritten));
        }
        line(console, QStringLiteral("Image size"), QString::number(records.declaredImageSize));
    }
    if (!recordsValid)
        return fail(console, file, recordTrouble(records.outcome), Refused);
    return Success;
}

// ---- Images -----------------------------------------------------------------

QString checksumLine(const ChecksumReport &report) {
    const QString kind =
        report.used ? QStringLiteral(" (CIC %1)").arg(bootCodeName(*report.used)) : QString();
    switch (report.outcome) {
    case ChecksumOutcome::Checked:
        if (report.valid())
            return QStringLiteral("valid") + kind;
        return QStringLiteral("wrong: header has %1, should be %2")
                   .arg(checksumText(report.stored), checksumText(report.computed)) +
               kind;
    case ChecksumOutcome::UnknownBootCode:
        return QStringLiteral("unknown boot code (give --cic to check)");
    case ChecksumOutcome::TooShort:
        return QStringLiteral("cannot be checked: the image is shorter than %1 bytes")
            .arg(kChecksummedSize);
    case ChecksumOutcome::Unrecognised:
        return QStringLiteral("cannot be checked: not an image in a known byte order");
    case ChecksumOutcome::CannotOpen:
        break;
    }
    return QStringLiteral("cannot be checked: the image cannot be read");
}

const char *checksumStatus(const ChecksumReport &report) {
    switch (report.outcome) {
    case ChecksumOutcome::Checked:
        return report.valid() ? "valid" : "wrong";
    case ChecksumOutcome::UnknownBootCode:
        return "unknown-boot-code";
    case ChecksumOutcome::TooShort:
        return "too-short";
    case ChecksumOutcome::Unrecognised:
    case ChecksumOutcome::CannotOpen:
        break;
    }
    return "unreadable";
}

// The image's header as the window shows it; a little-endian image is read in
// cartridge order, with its own format text.
ImageInspection inspectAnyOrder(const HeaderBytes &bytes, StoredOrder order) {
    HeaderBytes view = bytes;
    reorderBytes(reinterpret_cast<char *>(view.data()), qint64(view.size()), order,
                 order == StoredOrder::LittleEndian ? StoredOrder::Cartridge : order);
    return inspectHeader(view);
}

int infoOfImage(const QString &file, const HeaderBytes &bytes, Console &console, bool json,
                std::optional<BootCode> kind) {
    const StoredOrder order = storedOrderOf(bytes);
    if (order == StoredOrder::Unknown)
        return fail(console, file,
                    QStringLiteral("neither an APS patch nor an N64 image in a known byte order"),
                    Refused);
    const ImageInspection image = inspectAnyOrder(bytes, order);
    const ImageDisplay &d = image.display;
    const QString format = order == StoredOrder::LittleEndian
                               ? QStringLiteral("little-endian (.n64); convert with: tarnic-cli "
                                                "convert --to z64 ") +
                                     file
                               : d.RomFormatTxt;
    const ChecksumReport checksum = checkChecksum(file, kind);
    const std::pair<QString, QString> texts[] = {
        {text::ImageFormatCaption, format},    {text::RomHeaderCaption, d.RomHeaderTxT},
        {text::CartIdCaption, d.RomCartIDTxT}, {text::CountryIdCaption, d.RomCountryTxt},
        {text::CrcCheckCaption, d.RomCRCTxt},  {QStringLiteral("Checksum"), checksumLine(checksum)},
    };
    if (json) {
        QJsonObject shown;
        for (const auto &[caption, value] : texts)
            shown.insert(caption, value);
        QJsonObject raw{
            {QStringLiteral("byteOrder"), QLatin1String(shortName(order))},
            {QStringLiteral("signature"),
             hex(QByteArray(reinterpret_cast<const char *>(bytes.data()), 4))},
            {QStringLiteral("crc1"), hexText(toCartridgeOrder(image.header.Crc1, image.order))},
            {QStringLiteral("crc2"), hexText(toCartridgeOrder(image.header.Crc2, image.order))},
            {QStringLiteral("cartId"), image.header.CartId},
            {QStringLiteral("countryCode"), image.header.CountryCode},
            {QStringLiteral("checksum"), QLatin1String(checksumStatus(checksum))},
        };
        if (checksum.used)
            raw.insert(QStringLiteral("cic"), bootCodeName(*checksum.used));
        if (checksum.outcome == ChecksumOutcome::Checked)
            raw.insert(QStringLiteral("computedCrc"), checksumText(checksum.computed));
        printJson(console, {{QStringLiteral("file"), file},
                            {QStringLiteral("kind"), QStringLiteral("n64-image")},
                            {QStringLiteral("texts"), shown},
                            {QStringLiteral("raw"), raw}});
    } else {
        console.out << file << ": N64 image\n";
        for (const auto &[caption, value] : texts)
            line(console, caption, value);
    }
    return Success;
}

bool startsAsPatch(const HeaderBytes &bytes) {
    return std::memcmp(bytes.data(), kApsMagic, kMagicSize) == 0;
}

int runInfo(const QStringList &arguments, Console &console) {
    CommandLine command(kCommands[0]);
    const QCommandLineOption jsonOption(QStringLiteral("json"),
                                        QStringLiteral("One JSON object a file, a line each: the "
                                                       "texts as shown, padding kept, and the raw "
                                                       "values."));
    command.parser().addOptions({jsonOption, kCicOption});
    if (const auto done = command.parse(arguments, console, 1))
        return *done;
    bool cicValid = true;
    const std::optional<BootCode> kind = bootCodeOption(command.parser(), cicValid);
    if (!cicValid)
        return fail(console, command.parser().value(kCicOption),
                    QStringLiteral("not a boot-code kind"), Trouble);
    const bool json = command.parser().isSet(jsonOption);
    int status = Success;
    for (const QString &file : command.files()) {
        HeaderBytes bytes;
        int result;
        if (!readHeaderBytes(file, bytes))
            result = fail(console, file, QStringLiteral("cannot be read"), Trouble);
        else if (startsAsPatch(bytes))
            result = infoOfPatch(file, console, json);
        else
            result = infoOfImage(file, bytes, console, json, kind);
        status = std::max(status, result);
    }
    return status;
}

// ---- Patch against image ----------------------------------------------------

struct PairCheck {
    std::array<bool, kMatchPairCount> equal{};
    MatchTexts image;
    MatchTexts patch;
    bool simplePatch = false;
};

const QString &pairCaption(int pair) {
    static const QString captions[kMatchPairCount] = {
        text::ImageFormatCaption + QStringLiteral(" / ") + text::TargetFormatCaption,
        text::CartIdCaption, text::CountryIdCaption, text::CrcCheckCaption};
    return captions[pair];
}

// Reads both headers and compares the four pairs; an error line and status
// when either cannot be shown.
std::variant<PairCheck, int> comparePatchAndImage(const QString &patchFile,
                                                  const QString &imageFile, Console &console) {
    const PatchInspection patch = inspectPatch(patchFile);
    if (const auto trouble = patchTrouble(patch.outcome))
        return fail(console, patchFile, *trouble);
    HeaderBytes bytes;
    if (!readHeaderBytes(imageFile, bytes))
        return fail(console, imageFile, text::ErrorOpeningFile + QStringLiteral(": cannot be read"),
                    Trouble);
    const ImageInspection image = inspectHeader(bytes);
    if (image.outcome != ImageReadOutcome::Shown)
        return fail(console, imageFile, notAnImage(imageFile, storedOrderOf(bytes)), Refused);
    PairCheck check;
    check.image = imageSideTexts(image.display);
    check.patch = patchSideTexts(patch.display);
    check.equal = comparePairs(check.image, check.patch);
    check.simplePatch = patch.header.PatchType == kSimplePatchType;
    return check;
}

int runCheck(const QStringList &arguments, Console &console) {
    CommandLine command(kCommands[1]);
    if (const auto done = command.parse(arguments, console, 2, 2))
        return *done;
    const auto compared = comparePatchAndImage(command.files()[0], command.files()[1], console);
    if (const int *status = std::get_if<int>(&compared))
        return *status;
    const PairCheck &check = std::get<PairCheck>(compared);
    for (int i = 0; i < kMatchPairCount; ++i) {
        console.out << pairCaption(i) << ": ";
        if (check.equal[i])
            console.out << "match\n";
        else
            console.out << "differs (image \"" << check.image[i] << "\", patch \"" << check.patch[i]
                        << "\")\n";
    }
    return allPairsEqual(check.equal) ? Success : Refused;
}

Failure applyFailure(ApplyOutcome outcome) {
    const QString message = text::messageFor(outcome).value_or(QString()) + u' ';
    switch (outcome) {
    case ApplyOutcome::Applied:
    case ApplyOutcome::Declined:
        break;
    case ApplyOutcome::SourceUnreadable:
        return {message + QStringLiteral("the patch cannot be read"), Trouble};
    case ApplyOutcome::SourceTruncated:
        return {message + QStringLiteral("the patch ends inside its header"), Refused};
    case ApplyOutcome::NotAnApsFile:
    case ApplyOutcome::UnsupportedEncoding:
        return {message.trimmed(), Refused};
    case ApplyOutcome::DestinationUnwritable:
        return {message + QStringLiteral("missing, read-only, or not a plain file"), Trouble};
    case ApplyOutcome::InvalidPatch:
        return {message + QStringLiteral("a record of the patch is cut short or writes outside "
                                         "offsets 0 to 2^31 - 1; nothing written"),
                Refused};
    case ApplyOutcome::BackupFailed:
        return {message + QStringLiteral("the backup could not be made; the image is unchanged"),
                Trouble};
    case ApplyOutcome::WriteFailed:
        return {message + QStringLiteral("writing failed (is the disk full?); the image is "
                                         "unchanged"),
                Trouble};
    }
    return {message, Trouble};
}

QString mismatchReason(const PairCheck &check, const QString &image) {
    if (check.simplePatch)
        return QStringLiteral("a simple patch (type 0) does not say which image it was made for; "
                              "make sure this is the right one, then give --force");
    QStringList differing;
    for (int i = 0; i < kMatchPairCount; ++i) {
        if (!check.equal[i])
            differing << pairCaption(i);
    }
    if (differing.size() == 1 && !check.equal[kFormatPair])
        return QStringLiteral("only the byte order differs: the patch is for %1, the image is %2; "
                              "convert it first with: tarnic-cli swap %3")
            .arg(check.patch[kFormatPair].trimmed(), check.image[kFormatPair].trimmed(), image);
    return QStringLiteral("the patch was not made for this image (%1 differ%2); nothing written; "
                          "--force applies it all the same")
        .arg(differing.join(QStringLiteral(", ")),
             differing.size() == 1 ? QStringLiteral("s") : QString());
}

int runApply(const QStringList &arguments, Console &console) {
    CommandLine command(kCommands[2]);
    const QCommandLineOption backup(QStringLiteral("backup"),
                                    QStringLiteral("Keep the image as it was in IMAGE.BAK."));
    const QCommandLineOption force(QStringLiteral("force"),
                                   QStringLiteral("Apply even where a pair differs."));
    const QCommandLineOption output(QStringList{QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Write the patched image to OUTPUT and leave "
                                                   "IMAGE untouched."),
                                    QStringLiteral("OUTPUT"));
    command.parser().addOptions({backup, force, output});
    if (const auto done = command.parse(arguments, console, 2, 2))
        return *done;
    const QCommandLineParser &options = command.parser();
    const QString &patchFile = command.files()[0];
    const QString &imageFile = command.files()[1];
    const bool toOutput = options.isSet(output);
    if (toOutput && options.isSet(backup)) {
        console.err << "tarnic-cli apply: --backup has no use with -o, which leaves IMAGE "
                       "untouched\n"
                    << command.usageHint();
        return Trouble;
    }
    if (!toOutput && isBackupName(imageFile))
        return fail(console, imageFile,
                    QStringLiteral("a backup, which is not patched; patch the image itself, or "
                                   "write the result elsewhere with -o"),
                    Refused);

    const auto compared = comparePatchAndImage(patchFile, imageFile, console);
    if (const int *status = std::get_if<int>(&compared))
        return *status;
    const PairCheck &check = std::get<PairCheck>(compared);
    if (!allPairsEqual(check.equal) && !options.isSet(force))
        return fail(console, imageFile, mismatchReason(check, imageFile), Refused);

    PatchJob job;
    job.patchPath = patchFile;
    job.imagePath = imageFile;
    if (options.isSet(backup))
        job.backupPath = imageFile + QStringLiteral(".BAK");
    job.outputPath = options.value(output);
    const ApplyResult result = applyPatch(job);
    if (result.outcome != ApplyOutcome::Applied)
        return fail(console, toOutput ? job.outputPath : imageFile, applyFailure(result.outcome));
    console.out << (toOutput ? job.outputPath : imageFile) << ": " << result.records
                << " records applied, " << result.bytesWritten << " bytes written";
    if (!job.backupPath.isEmpty())
        console.out << "; the image as it was is in " << job.backupPath;
    console.out << '\n';
    return Success;
}

// ---- Byte orders ------------------------------------------------------------

Failure conversionFailure(ConversionOutcome outcome) {
    const QString message = text::messageFor(outcome).value_or(QString()) + QStringLiteral(": ");
    switch (outcome) {
    case ConversionOutcome::Converted:
    case ConversionOutcome::AlreadyInOrder:
        break;
    case ConversionOutcome::Missing:
        return {message + QStringLiteral("missing, or not a plain file"), Trouble};
    case ConversionOutcome::TooShort:
        return {message + QStringLiteral("shorter than 2 bytes"), Refused};
    case ConversionOutcome::NotWritable:
        return {message + QStringLiteral("read-only, or cannot be written"), Trouble};
    case ConversionOutcome::Failed:
        return {message + QStringLiteral("writing failed (is the disk full?); the file is "
                                         "unchanged"),
                Trouble};
    case ConversionOutcome::Unrecognised:
        return {QStringLiteral("not an N64 image in a known byte order; nothing written"), Refused};
    case ConversionOutcome::NotWholeWords:
        return {QStringLiteral("its length is not a multiple of 4, which the little-endian order "
                               "needs; nothing written"),
                Refused};
    }
    return {message, Trouble};
}

int runSwap(const QStringList &arguments, Console &console) {
    CommandLine command(kCommands[3]);
    if (const auto done = command.parse(arguments, console, 1))
        return *done;
    int status = Success;
    for (const QString &file : command.files()) {
        HeaderBytes bytes;
        if (!readHeaderBytes(file, bytes)) {
            status = std::max(status,
                              fail(console, file, conversionFailure(ConversionOutcome::Missing)));
            continue;
        }
        const StoredOrder from = storedOrderOf(bytes);
        if (from != StoredOrder::Cartridge && from != StoredOrder::ByteSwapped) {
            status = std::max(status, fail(console, file, notAnImage(file, from), int(Refused)));
            continue;
        }
        const ConversionResult result = swapByteOrder(file);
        if (result.outcome != ConversionOutcome::Converted) {
            status = std::max(status, fail(console, file, conversionFailure(result.outcome)));
            continue;
        }
        const StoredOrder to =
            from == StoredOrder::Cartridge ? StoredOrder::ByteSwapped : StoredOrder::Cartridge;
        console.out << file << ": " << orderName(from) << " -> " << orderName(to) << '\n';
    }
    return status;
}

std::optional<StoredOrder> orderNamed(const QString &name) {
    for (const StoredOrder order :
         {StoredOrder::Cartridge, StoredOrder::ByteSwapped, StoredOrder::LittleEndian}) {
        if (name.compare(QLatin1String(shortName(order)), Qt::CaseInsensitive) == 0)
            return order;
    }
    return std::nullopt;
}

int runConvert(const QStringList &arguments, Console &console) {
    CommandLine command(kCommands[4]);
    const QCommandLineOption to(QStringLiteral("to"),
                                QStringLiteral("The order to convert to: z64 (cartridge order, "
                                               "CD64/Z64/Wc/SP), v64 (byte-swapped, Doctor v64) "
                                               "or n64 (little-endian)."),
                                QStringLiteral("ORDER"));
    const QCommandLineOption output(QStringList{QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Write the converted image to OUTPUT (one IMAGE "
                                                   "only) and leave IMAGE untouched."),
                                    QStringLiteral("OUTPUT"));
    command.parser().addOptions({to, output});
    if (const auto done = command.parse(arguments, console, 1))
        return *done;
    const std::optional<StoredOrder> target = orderNamed(command.parser().value(to));
    if (!target || (command.parser().isSet(output) && command.files().size() != 1)) {
        console.err << "tarnic-cli convert: "
                    << (target ? "-o takes one IMAGE" : "--to takes z64, v64 or n64") << '\n'
                    << command.usageHint();
        return Trouble;
    }
    const QString outputPath = command.parser().value(output);
    int status = Success;
    for (const QString &file : command.files()) {
        const ConversionResult result = convertImage(file, *target, outputPath);
        if (result.outcome == ConversionOutcome::AlreadyInOrder) {
            console.out << file << ": already " << shortName(*target) << " (" << orderName(*target)
                        << "); left alone\n";
        } else if (result.outcome == ConversionOutcome::Converted) {
            console.out << file << ": " << shortName(result.from) << " -> " << shortName(*target)
                        << " (" << orderName(result.from) << " -> " << orderName(*target) << ')';
            if (!outputPath.isEmpty())
                console.out << ", written to " << outputPath;
            console.out << '\n';
        } else {
            status = std::max(status, fail(console, file, conversionFailure(result.outcome)));
        }
    }
    return status;
}

// ---- Making patches and checksums ---------------------------------------------

int runCreate(const QStringList &arguments, Console &console) {
    CommandLine command(kCommands[5]);
    const QCommandLineOption output(QStringList{QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("The patch to write (required)."),
                                    QStringLiteral("PATCH"));
    const QCommandLineOption description(
        QStringList{QStringLiteral("d"), QStringLiteral("description")},
        QStringLiteral("The patch's description, at most 50 characters."), QStringLiteral("TEXT"));
    command.parser().addOptions({output, description});
    if (const auto done = command.parse(arguments, console, 2, 2))
        return *done;
    if (!command.parser().isSet(output)) {
        console.err << "tarnic-cli create: -o PATCH is required\n" << command.usageHint();
        return Trouble;
    }
    CreateJob job{command.files()[0], command.files()[1], command.parser().value(output),
                  command.parser().value(description)};
    const CreateResult result = createPatch(job);
    switch (result.outcome) {
    case CreateOutcome::Created:
        console.out << job.patchPath << ": " << result.records << " records writing "
                    << result.bytesWritten << " bytes; the patch is " << result.patchSize
                    << " bytes\n";
        return Success;
    case CreateOutcome::OriginalUnreadable:
        return fail(console, job.originalPath, QStringLiteral("cannot be read"), Trouble);
    case CreateOutcome::ModifiedUnreadable:
        return fail(console, job.modifiedPath, QStringLiteral("cannot be read"), Trouble);
    case CreateOutcome::OriginalNotAnImage:
        return fail(console, job.originalPath,
                    QStringLiteral("not a cartridge-order or byte-swapped N64 image"), Refused);
    case CreateOutcome::ModifiedShorter:
        return fail(console, job.modifiedPath,
                    QStringLiteral("shorter than the original; an APS patch cannot shorten an "
                                   "image"),
                    Refused);
    case CreateOutcome::ModifiedTooLarge:
        return fail(console, job.modifiedPath,
                    QStringLiteral("longer than 2 GiB, past what an APS record can address"),
                    Refused);
    case CreateOutcome::DescriptionTooLong:
        return fail(console, job.description,
                    QStringLiteral("a description has at most 50 characters, each in ISO 8859-1"),
                    Trouble);
    case CreateOutcome::PatchIsAnInput:
        return fail(console, job.patchPath,
                    QStringLiteral("is one of the two images; choose another name for the patch"),
                    Trouble);
    case CreateOutcome::WriteFailed:
        break;
    }
    return fail(console, job.patchPath,
                QStringLiteral("cannot be written (read-only, or the disk is full?); an earlier "
                               "file there is unchanged"),
                Trouble);
}

int runFixCrc(const QStringList &arguments, Console &console) {
    CommandLine command(kCommands[6]);
    const QCommandLineOption checkOnly(QStringLiteral("check"),
                                       QStringLiteral("Only report; write nothing."));
    command.parser().addOptions({kCicOption, checkOnly});
    if (const auto done = command.parse(arguments, console, 1, 1))
        return *done;
    bool cicValid = true;
    const std::optional<BootCode> kind = bootCodeOption(command.parser(), cicValid);
    if (!cicValid)
        return fail(console, command.parser().value(kCicOption),
                    QStringLiteral("not a boot-code kind"), Trouble);
    const QString &file = command.files()[0];

    const bool onlyCheck = command.parser().isSet(checkOnly);
    const ChecksumFix fix =
        onlyCheck ? ChecksumFix{ChecksumFixOutcome::NotChecked, checkChecksum(file, kind)}
                  : fixChecksum(file, kind);
    const ChecksumReport &report = fix.report;
    switch (report.outcome) {
    case ChecksumOutcome::Checked:
        break;
    case ChecksumOutcome::CannotOpen:
        return fail(console, file, QStringLiteral("cannot be read"), Trouble);
    case ChecksumOutcome::Unrecognised:
        return fail(console, file, notAnImage(file, report.order), Refused);
    case ChecksumOutcome::TooShort:
    case ChecksumOutcome::UnknownBootCode:
        return fail(console, file, QStringLiteral("checksum ") + checksumLine(report), Refused);
    }
    if (onlyCheck) {
        console.out << file << ": checksum " << checksumLine(report) << '\n';
        return report.valid() ? Success : Refused;
    }
    const QString kindText = QStringLiteral(" (CIC %1)").arg(bootCodeName(*report.used));
    switch (fix.outcome) {
    case ChecksumFixOutcome::AlreadyValid:
        console.out << file << ": checksum already valid" << kindText << "; nothing written\n";
        return Success;
    case ChecksumFixOutcome::Written:
        console.out << file << ": checksum written: " << checksumText(report.computed) << kindText
                    << ", was " << checksumText(report.stored) << '\n';
        return Success;
    case ChecksumFixOutcome::NotChecked:
    case ChecksumFixOutcome::WriteFailed:
        break;
    }
    return fail(console, file,
                QStringLiteral("cannot be written (read-only?); the image is unchanged"), Trouble);
}

} // namespace

QString helpText(const QCommandLineParser &parser, const QString &usage) {
    const QString generated = parser.helpText();
    return QStringLiteral("Usage: ") + usage + generated.mid(generated.indexOf(u'\n'));
}

const CommandEntry kCommands[7] = {
    {"info", "FILE...",
     "Shows what the window shows of each APS patch or N64 image, and an image's checksum.",
     runInfo},
    {"check", "PATCH IMAGE",
     "Compares the four pairs the window colours; exit status 0 when all four match.", runCheck},
    {"apply", "PATCH IMAGE",
     "Applies PATCH to IMAGE, all or nothing; refuses where a pair differs unless --force.",
     runApply},
    {"swap", "IMAGE...", "Converts each image between Doctor v64 and CD64/Z64/Wc/SP.", runSwap},
    {"convert", "IMAGE...", "Converts each image to the byte order --to names.", runConvert},
    {"create", "ORIGINAL MODIFIED",
     "Writes the smallest APS patch that turns ORIGINAL into MODIFIED.", runCreate},
    {"fix-crc", "IMAGE", "Recomputes the header checksum (CRC1, CRC2) and writes it.", runFixCrc},
};

} // namespace tarnic::cli
