#include "patch/ppf/PpfFormat.h"

#include "files/SafeWrite.h"
#include "patch/PatchFormat.h"
#include "patch/records/RecordEngine.h"
#include "rom/ByteOrderConversion.h"
#include "rom/ImageHeader.h"

#include <QtEndian>

#include <QFile>

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace tarnic {

namespace {

constexpr char kBeginDiz[] = "@BEGIN_FILE_ID.DIZ";
constexpr char kEndDiz[] = "@END_FILE_ID.DIZ";
constexpr qint64 kBlockCheckSize = 1024;
constexpr qint64 kBlockCheckOffset = 0x9320;
constexpr qint64 kGiBlockCheckOffset = 0x80A0;
constexpr qint64 kIsoBlockCheckOffset = 0x8000;

} // namespace

PpfLayout readPpfLayout(QIODevice &patch) {
    PpfLayout layout;
    char head[60];
    const qint64 got = patch.seek(0) ? readFully(patch, head, sizeof head) : -1;
    if (got < 0) {
        layout.read = PatchRead::Unreadable;
        return layout;
    }
    if (got < 3 || std::memcmp(head, "PPF", 3) != 0) {
        layout.read = PatchRead::NotAPatch;
        return layout;
    }
    if (got < 56)
        return layout; // cut short
    const int version = head[3] - '0';
    if (head[4] != '0' || version < 1 || version > 3 || head[5] != char(version - 1)) {
        layout.read = PatchRead::UnsupportedVersion;
        return layout;
    }
    const qint64 size = patch.size();
    qint64 start = 56;
    bool undo = false;
    qint64 blockAt = kBlockCheckOffset;
    if (version == 2) {
        start = 60 + kBlockCheckSize;
        layout.imageSize = qFromLittleEndian<quint32>(head + 56);
    } else if (version == 3) {
        if (size < 60)
            return layout;
        start = head[57] != 0 ? 60 + kBlockCheckSize : 60;
        undo = head[58] != 0;
        blockAt = head[56] == 1   ? kGiBlockCheckOffset
                  : head[56] == 2 ? kIsoBlockCheckOffset
                                  : kBlockCheckOffset;
    }
    if (size < start)
        return layout;
    if (start == 60 + kBlockCheckSize) {
        layout.blockCheck = patch.read(kBlockCheckSize);
        layout.blockCheckAt = blockAt;
        if (layout.blockCheck.size() != kBlockCheckSize)
            return {};
    }
    layout.read = PatchRead::Readable;
    layout.version = version;
    layout.recordsStart = start;
    layout.recordsEnd = size;
    layout.undoData = undo;
    layout.description =
        QString::fromLatin1(head + kPpfDescriptionOffset, kPpfDescriptionSize).trimmed();
    // The FILE_ID.DIZ text, told by ".DIZ" just before its length.
    const qint64 lengthSize = version == 2 ? 4 : 2;
    if (version >= 2 && size - start >= 18 + 16 + lengthSize) {
        char tail[8];
        if (patch.seek(size - 4 - lengthSize) &&
            readFully(patch, tail, 4 + lengthSize) == 4 + lengthSize &&
            std::memcmp(tail, ".DIZ", 4) == 0) {
            const qint64 textSize = lengthSize == 4 ? qFromLittleEndian<quint32>(tail + 4)
                                                    : qFromLittleEndian<quint16>(tail + 4);
            const qint64 begin = size - lengthSize - 16 - textSize - 18;
            char mark[18];
            char endMark[16];
            if (begin >= start && patch.seek(size - lengthSize - 16) &&
                readFully(patch, endMark, 16) == 16 && std::memcmp(endMark, kEndDiz, 16) == 0 &&
                patch.seek(begin) && readFully(patch, mark, 18) == 18 &&
                std::memcmp(mark, kBeginDiz, 18) == 0) {
                // A FILE_ID.DIZ holds at most 3072 bytes; only that much is
                // read of a longer one.
                layout.fileIdDiz =
                    QString::fromLatin1(patch.read(std::min<qint64>(textSize, 3072))).trimmed();
                layout.recordsEnd = begin;
            }
        }
    }
    patch.seek(start);
    return layout;
}

ImageBlockCheck checkPpfImage(const PpfLayout &layout, const std::filesystem::path &imagePath) {
    ImageBlockCheck check{ImageBlockFit::NoCheck, ByteOrder::Unknown};
    if (layout.blockCheck.isEmpty() && !layout.imageSize)
        return check;
    QFile image;
    HeaderBytes head;
    if (!openRegularFile(image, imagePath)) {
        check.fit = ImageBlockFit::Unreadable;
        return check;
    }
    const ByteOrder own = readHeaderBytes(imagePath, head) ? byteOrderOf(head) : ByteOrder::Unknown;
    check.order = own;
    if (layout.imageSize && qint64(*layout.imageSize) != image.size()) {
        check.fit = ImageBlockFit::Differs;
        return check;
    }
    if (layout.blockCheck.isEmpty()) {
        check.fit = ImageBlockFit::Fits;
        return check;
    }
    QByteArray block(kBlockCheckSize, '\0');
    const qint64 held = std::clamp(image.size() - layout.blockCheckAt, qint64(0), kBlockCheckSize);
    if (held > 0 && !readAt(image, layout.blockCheckAt, block.data(), held)) {
        check.fit = ImageBlockFit::Unreadable;
        return check;
    }
    if (block == layout.blockCheck) {
        check.fit = ImageBlockFit::Fits;
        return check;
    }
    check.fit = ImageBlockFit::Differs;
    if (own == ByteOrder::Unknown)
        return check;
    QByteArray reordered(kBlockCheckSize, '\0');
    for (const ByteOrder other :
         {ByteOrder::Cartridge, ByteOrder::ByteSwapped, ByteOrder::LittleEndian}) {
        if (other == own)
            continue;
        copyReordered(block.constData(), reordered.data(), kBlockCheckSize, own, other);
        if (reordered == layout.blockCheck) {
            check = {ImageBlockFit::OtherOrder, other};
            break;
        }
    }
    return check;
}

PpfRecordReader::Step PpfRecordReader::next(PatchRecord &record) {
    const qint64 at = stream_.pos();
    if (at >= layout_.recordsEnd)
        return Step::End;
    // A FILE_ID.DIZ trailer that was cut short is no longer told by its end:
    // its text must not be read as records (its first bytes would make one
    // far past the image's end).
    if (layout_.version >= 2) {
        char mark[18];
        const qint64 left = std::min<qint64>(18, layout_.recordsEnd - at);
        const qint64 peeked = readFully(stream_, mark, left);
        if (peeked < 0 || !stream_.seek(at))
            return Step::ReadFailed;
        if (peeked >= 5 && std::memcmp(mark, kBeginDiz, size_t(peeked)) == 0)
            return Step::Truncated;
    }
    const qint64 offsetSize = layout_.version == 3 ? 8 : 4;
    char head[9];
    const qint64 got = readFully(stream_, head, offsetSize + 1);
    if (got < 0)
        return Step::ReadFailed;
    if (got < offsetSize + 1 || at + offsetSize + 1 > layout_.recordsEnd)
        return Step::Truncated;
    const quint64 offset =
        offsetSize == 8 ? qFromLittleEndian<quint64>(head) : qFromLittleEndian<quint32>(head);
    // An offset past what any record may write makes the record not fit.
    record.Offset = offset > (quint64(1) << 40) ? -1 : qint64(offset);
    record.Length = std::uint8_t(head[offsetSize]);
    record.RunCount = 0;
    record.Data = data_.data();
    const qint64 length = record.Length * (layout_.undoData ? 2 : 1);
    if (at + offsetSize + 1 + length > layout_.recordsEnd)
        return Step::Truncated;
    if (readFully(stream_, data_.data(), record.Length) != record.Length)
        return Step::Truncated;
    if (layout_.undoData && stream_.skip(record.Length) != record.Length)
        return Step::Truncated;
    // A length of 0 writes nothing (PPF1's run form is not what ApplyPPF does).
    if (record.Length == 0)
        record.Data = nullptr;
    return Step::Record;
}

namespace {

// The records of the patch that stands at them, read with its layout.
RecordRules ppfRules() {
    RecordRules rules;
    rules.open = [](QIODevice &patch) -> std::unique_ptr<RecordStream> {
        const qint64 start = patch.pos();
        const PpfLayout layout = readPpfLayout(patch);
        if (layout.version == 0 || !patch.seek(start))
            return nullptr;
        return std::make_unique<PpfRecordReader>(patch, layout);
    };
    return rules;
}

} // namespace

ApplyResult applyPpf(const PatchJob &job) {
    PpfLayout layout;
    const auto readHeader = [&layout](QFile &patch, PatchFileCheck &check) {
        layout = readPpfLayout(patch);
        if (layout.version == 0)
            return PatchFileOutcome::NotAnApsFile;
        check.recordsStart = layout.recordsStart;
        return patch.seek(layout.recordsStart) ? PatchFileOutcome::Valid
                                               : PatchFileOutcome::Unreadable;
    };
    // The image must be the one the block check and size describe, in its
    // own byte order, unless the job says to apply it all the same.
    const auto checkImage = [&](ApplyResult &result,
                                std::optional<ResultCheck> &) -> std::optional<ApplyOutcome> {
        if (job.skipSourceCheck)
            return std::nullopt;
        const ImageBlockCheck check = checkPpfImage(layout, job.imagePath);
        switch (check.fit) {
        case ImageBlockFit::NoCheck:
        case ImageBlockFit::Fits:
            return std::nullopt;
        case ImageBlockFit::OtherOrder:
            result.readAs = check.order;
            return ApplyOutcome::OtherByteOrder;
        case ImageBlockFit::Differs:
            return ApplyOutcome::WrongImage;
        case ImageBlockFit::Unreadable:
            break;
        }
        return ApplyOutcome::DestinationUnwritable;
    };
    return applyRecords(job, ppfRules(), readHeader, checkImage);
}

ImageBlockCheck checkPpfImageFile(const std::filesystem::path &patchPath,
                                  const std::filesystem::path &imagePath) {
    QFile patch;
    if (!openRegularFile(patch, patchPath))
        return {};
    return checkPpfImage(readPpfLayout(patch), imagePath);
}

PatchSummary summarizePpf(const std::filesystem::path &patchPath, ReadDepth depth) {
    PatchSummary summary;
    summary.format = PatchFormat::Ppf;
    summary.kind = "ppf-patch";
    QFile patch;
    if (!openRegularFile(patch, patchPath))
        return summary;
    const PpfLayout layout = readPpfLayout(patch);
    summary.read = layout.read;
    if (layout.read != PatchRead::Readable) {
        summary.fault = layout.read == PatchRead::UnsupportedVersion ? PatchFault::OtherVersion
                                                                     : PatchFault::None;
        return summary;
    }
    summary.heading = "PPF" + std::to_string(layout.version) + " patch";
    const QString description = layout.fileIdDiz.isEmpty()
                                    ? layout.description
                                    : layout.description + u'\n' + layout.fileIdDiz;
    summary.description = description.toStdString();
    const bool blockCheck = !layout.blockCheck.isEmpty();
    if (blockCheck || layout.imageSize) {
        summary.checks = PatchChecks::ImageBlock;
        summary.namesByteOrder = true;
    }
    if (blockCheck)
        summary.blockCheckAt = std::uint64_t(layout.blockCheckAt);
    summary.lines = {
        {"NFo :", summary.description},
        {"Block check",
         blockCheck
             ? "1024 bytes at 0x" + QString::number(layout.blockCheckAt, 16).toUpper().toStdString()
             : std::string("none")}};
    summary.fields = {{"version", std::int64_t(layout.version)},
                      {"description", summary.description},
                      {"blockCheckAt", blockCheck ? SummaryValue(std::int64_t(layout.blockCheckAt))
                                                  : SummaryValue()}};
    if (layout.imageSize) {
        summary.lines.push_back({"Image size", std::to_string(*layout.imageSize) + " bytes"});
        summary.fields.push_back({"imageSize", std::int64_t(*layout.imageSize)});
    }
    if (depth == ReadDepth::Whole) {
        PatchFileCheck check;
        if (!patch.seek(layout.recordsStart)) {
            summary.read = PatchRead::Unreadable;
            return summary;
        }
        check.outcome = checkRecordStream(patch, ppfRules(), check);
        summary.read = readOf(check.outcome, summary.fault);
    }
    return summary;
}

} // namespace tarnic
