// tarnic-cli swap IMAGE... ("Change Format") and convert --to ORDER IMAGE...:
// byte-order conversion, all or nothing for each image.

#include "Command.h"
#include "Images.h"
#include "qt/PathText.h"
#include "rom/ByteOrderConversion.h"

namespace tarnic::cli {

namespace {

int conversionFailed(Console &console, const QString &file, const ConversionResult &result) {
    if (result.outcome == ConversionOutcome::NameClash)
        return fail(console, nameText(result.clash.written), text::reasonFor(result.outcome),
                    result.clash.input.empty() ? "" : result.clash.input.native());
    return fail(console, file, text::reasonFor(result.outcome), result.systemError);
}

// A conversion that reached the disk: marked, and what is amiss said.
int converted(Console &console, const QString &file, const ConversionResult &result) {
    console.changed = true;
    return reportAftermath(console, file, result.folderFlushError);
}

int runSwap(const CommandSpec &spec, const QStringList &arguments, Console &console) {
    CommandLine command(spec);
    if (const auto done = command.parse(arguments, console, 1))
        return *done;
    int status = Success;
    for (const QString &file : command.files()) {
        HeaderBytes bytes;
        if (!readHeaderBytes(pathOf(file), bytes)) {
            status = std::max(status, conversionFailed(console, file, {}));
            continue;
        }
        const ByteOrder from = byteOrderOf(bytes);
        if (from != ByteOrder::Cartridge && from != ByteOrder::ByteSwapped) {
            status = std::max(status, fail(console, file, notAnImage(file, from), int(Refused)));
            continue;
        }
        const ConversionResult result = swapByteOrder(pathOf(file));
        if (result.outcome != ConversionOutcome::Converted) {
            status = std::max(status, conversionFailed(console, file, result));
            continue;
        }
        const ByteOrder to =
            from == ByteOrder::Cartridge ? ByteOrder::ByteSwapped : ByteOrder::Cartridge;
        console.out << file << ": " << text::orderName(from) << " -> " << text::orderName(to)
                    << '\n';
        status = std::max(status, converted(console, file, result));
    }
    return combinedStatus(status, console);
}

int runConvert(const CommandSpec &spec, const QStringList &arguments, Console &console) {
    CommandLine command(spec);
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
    const std::optional<ByteOrder> target = orderNamed(command.value(to));
    if (!target)
        return command.usageError(console, QStringLiteral("--to takes z64, v64 or n64"));
    if (command.isSet(output) && command.files().size() != 1)
        return command.usageError(console, QStringLiteral("-o takes one IMAGE"));
    const QString outputPath = command.value(output);
    int status = Success;
    for (const QString &file : command.files()) {
        const ConversionResult result = convertImage(pathOf(file), *target, pathOf(outputPath));
        if (result.outcome == ConversionOutcome::AlreadyInOrder) {
            console.out << file << ": already " << shortName(*target) << " ("
                        << text::orderName(*target) << "); left alone\n";
        } else if (result.outcome == ConversionOutcome::Converted) {
            console.out << file << ": " << shortName(result.from) << " -> " << shortName(*target)
                        << " (" << text::orderName(result.from) << " -> "
                        << text::orderName(*target) << ')';
            if (!outputPath.isEmpty())
                console.out << ", written to " << outputPath;
            console.out << '\n';
            status = std::max(status, converted(console, file, result));
        } else {
            status = std::max(status, conversionFailed(console, file, result));
        }
    }
    return combinedStatus(status, console);
}

const RegisterCommand swapRegistration({
    "swap",
    "IMAGE...",
    "Converts each image between Doctor v64 and CD64/Z64/Wc/SP.",
    40,
    runSwap,
});

const RegisterCommand convertRegistration({
    "convert",
    "IMAGE...",
    "Converts each image to the byte order --to names.",
    50,
    runConvert,
});

} // namespace

} // namespace tarnic::cli
