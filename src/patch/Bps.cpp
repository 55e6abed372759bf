#include "patch/Bps.h"

#include "files/SafeWrite.h"
#include "patch/Crc32.h"
#include "patch/ImageUpdate.h"
#include "patch/Varint.h"
#include "rom/ByteOrderConversion.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

namespace tarnic {

namespace {

constexpr qint64 kFooterSize = 12;

std::optional<std::uint8_t> nextByte(QIODevice &from) {
    char c;
    if (!from.getChar(&c))
        return std::nullopt;
    return std::uint8_t(c);
}

std::optional<std::uint64_t> varintFrom(QIODevice &from) {
    return readVarint([&] { return nextByte(from); });
}

// The image read in the patch's byte order, a block at a time, the last
// blocks read kept; blocks start at multiples of 4, so reordering one is
// reordering the file.
class SourceBlocks {
  public:
    SourceBlocks(QIODevice &image, qint64 size, ByteOrder stored, ByteOrder wanted)
        : image_(image), size_(size), stored_(stored), wanted_(wanted) {}

    // Copies `size` bytes from `offset` (inside the image) to `into`.
    bool read(qint64 offset, char *into, qint64 size) {
        while (size > 0) {
            const Block *block = blockAt(offset / kBlockSize);
            if (!block)
                return false;
            const qint64 at = offset % kBlockSize;
            const qint64 n = std::min(size, qint64(block->bytes.size()) - at);
            if (n <= 0)
                return false;
            std::memcpy(into, block->bytes.data() + at, size_t(n));
            into += n;
            offset += n;
            size -= n;
        }
        return true;
    }

  private:
    static constexpr qint64 kBlockSize = 64 * 1024;
    static constexpr size_t kBlocksKept = 64; // 4 MiB

    struct Block {
        qint64 index = -1;
        std::vector<char> bytes;
    };

    const Block *blockAt(qint64 index) {
        for (const Block &block : blocks_) {
            if (block.index == index)
                return &block;
        }
        Block &block = blocks_[next_];
        next_ = (next_ + 1) % kBlocksKept;
        const qint64 start = index * kBlockSize;
        block.bytes.resize(size_t(std::min(kBlockSize, size_ - start)));
        block.index = -1;
        if (!image_.seek(start) ||
            readFully(image_, block.bytes.data(), qint64(block.bytes.size())) !=
                qint64(block.bytes.size()))
            return nullptr;
        reorderBytes(block.bytes.data(), qint64(block.bytes.size()), stored_, wanted_);
        block.index = index;
        return &block;
    }

    QIODevice &image_;
    qint64 size_;
    ByteOrder stored_;
    ByteOrder wanted_;
    std::array<Block, kBlocksKept> blocks_;
    size_t next_ = 0;
};

// The target, written in the patch's byte order and stored in the image's:
// bytes gather in a piece that goes to the file once full; a copy from
// further back reads the file again.
class TargetWriter {
  public:
    TargetWriter(FileReplacement &file, ByteOrder written, ByteOrder stored)
        : file_(file), written_(written), stored_(stored) {
        piece_.reserve(kPieceSize);
    }

    qint64 size() const { return start_ + qint64(piece_.size()); }
    std::uint32_t crc() const { return crc32(crc_, piece_.data(), piece_.size()); }

    bool append(const char *data, qint64 size) {
        while (size > 0) {
            const qint64 n = std::min(size, kPieceSize - qint64(piece_.size()));
            piece_.insert(piece_.end(), data, data + n);
            data += n;
            size -= n;
            if (qint64(piece_.size()) == kPieceSize && !flush())
                return false;
        }
        return true;
    }

    // Copies `size` bytes of the target from `from` (already written) to its
    // end. Where the copy reaches into what it writes itself, what it writes
    // repeats with the distance between the two as its period.
    bool copy(qint64 from, qint64 size) {
        std::vector<char> buffer;
        while (size > 0) {
            const qint64 distance = this->size() - from;
            const qint64 n = std::min(size, qint64(64 * 1024));
            const qint64 known = std::min(n, distance);
            buffer.resize(size_t(n));
            if (!read(from, buffer.data(), known))
                return false;
            for (qint64 i = known; i < n; ++i)
                buffer[size_t(i)] = buffer[size_t(i - distance)];
            if (!append(buffer.data(), n))
                return false;
            from += n;
            size -= n;
        }
        return true;
    }

    bool flush() {
        crc_ = crc();
        std::vector<char> stored(piece_.begin(), piece_.end());
        reorderBytes(stored.data(), qint64(stored.size()), written_, stored_);
        if (!file_.writeAt(start_, stored.data(), qint64(stored.size())))
            return false;
        start_ += qint64(piece_.size());
        piece_.clear();
        return true;
    }

  private:
    static constexpr qint64 kPieceSize = 1 << 20; // a multiple of 4

    // Reads target bytes already written (all before size()).
    bool read(qint64 from, char *into, qint64 size) {
        const qint64 inFile = std::clamp(start_ - from, qint64(0), size);
        if (inFile > 0) {
            // Whole words from the file, so that they can be put back in order.
            const qint64 first = from & ~qint64(3);
            const qint64 end = std::min(start_, (from + inFile + 3) & ~qint64(3));
            std::vector<char> words(size_t(end - first));
            if (!file_.readAt(first, words.data(), end - first))
                return false;
            reorderBytes(words.data(), end - first, stored_, written_);
            std::memcpy(into, words.data() + (from - first), size_t(inFile));
        }
        if (size > inFile)
            std::memcpy(into + inFile, piece_.data() + (from + inFile - start_),
                        size_t(size - inFile));
        return true;
    }

    FileReplacement &file_;
    ByteOrder written_;
    ByteOrder stored_;
    std::vector<char> piece_;
    qint64 start_ = 0; // where piece_ starts in the target
    std::uint32_t crc_ = 0;
};

enum class Actions { Applied, Invalid, ReadFailed, WriteFailed };

// Runs the actions from the patch's current position to `header.actionsEnd`.
Actions runActions(QFile &patch, const BpsHeader &header, SourceBlocks &source, qint64 sourceSize,
                   TargetWriter &target) {
    const qint64 targetSize = qint64(header.targetSize);
    qint64 sourceCursor = 0;
    qint64 targetCursor = 0;
    std::vector<char> buffer;
    while (patch.pos() < header.actionsEnd) {
        const std::optional<std::uint64_t> action = varintFrom(patch);
        if (!action || *action >> 2 >= std::uint64_t(targetSize))
            return Actions::Invalid;
        const qint64 length = qint64(*action >> 2) + 1;
        const qint64 out = target.size();
        if (length > targetSize - out)
            return Actions::Invalid;
        const auto move = [&](qint64 &cursor) {
            const std::optional<std::uint64_t> delta = varintFrom(patch);
            if (!delta || (*delta >> 1) > std::uint64_t(1) << 62)
                return false;
            cursor += (*delta & 1 ? -1 : 1) * qint64(*delta >> 1);
            return true;
        };
        bool ok = true;
        switch (*action & 3) {
        case 0: // SourceRead
            buffer.resize(size_t(length));
            if (out + length > sourceSize)
                return Actions::Invalid;
            ok = source.read(out, buffer.data(), length) && target.append(buffer.data(), length);
            break;
        case 1: // TargetRead
            if (length > header.actionsEnd - patch.pos())
                return Actions::Invalid;
            buffer.resize(size_t(length));
            if (readFully(patch, buffer.data(), length) != length)
                return Actions::ReadFailed;
            ok = target.append(buffer.data(), length);
            break;
        case 2: // SourceCopy
            if (!move(sourceCursor) || sourceCursor < 0 || sourceCursor + length > sourceSize)
                return Actions::Invalid;
            buffer.resize(size_t(length));
            ok = source.read(sourceCursor, buffer.data(), length) &&
                 target.append(buffer.data(), length);
            sourceCursor += length;
            break;
        case 3: // TargetCopy
            if (!move(targetCursor) || targetCursor < 0 || targetCursor >= out ||
                targetCursor + length > targetSize)
                return Actions::Invalid;
            ok = target.copy(targetCursor, length);
            targetCursor += length;
            break;
        }
        if (!ok)
            return Actions::WriteFailed;
        if (patch.pos() > header.actionsEnd)
            return Actions::Invalid;
    }
    return target.size() == targetSize ? Actions::Applied : Actions::Invalid;
}

} // namespace

BpsInspection inspectBps(const QString &patchPath) {
    BpsInspection result;
    QFile patch;
    if (!openRegularFile(patch, patchPath))
        return result;
    const auto finish = [&](BpsRead outcome) {
        result.outcome = outcome;
        return result;
    };
    BpsHeader &h = result.header;
    char magic[4];
    if (readFully(patch, magic, 4) != 4 || std::memcmp(magic, kBpsMagic, 4) != 0)
        return finish(BpsRead::NotBps);
    const auto source = varintFrom(patch);
    const auto target = varintFrom(patch);
    const auto metadata = varintFrom(patch);
    const qint64 room = patch.size() - patch.pos() - kFooterSize;
    if (!source || !target || !metadata || room < 0 || *metadata > std::uint64_t(room))
        return finish(BpsRead::Truncated);
    h.sourceSize = *source;
    h.targetSize = *target;
    h.metadata = patch.read(qint64(*metadata));
    h.actionsStart = patch.pos();
    h.actionsEnd = patch.size() - kFooterSize;

    // The CRC-32 of everything but its own last four bytes.
    std::uint32_t crc = 0;
    std::vector<char> piece(kCopyChunkSize);
    if (!patch.seek(0))
        return finish(BpsRead::Unreadable);
    for (qint64 left = patch.size() - 4; left > 0;) {
        const qint64 n = std::min(left, kCopyChunkSize);
        if (readFully(patch, piece.data(), n) != n)
            return finish(BpsRead::Unreadable);
        crc = crc32(crc, piece.data(), size_t(n));
        left -= n;
    }
    char footer[kFooterSize];
    if (!patch.seek(h.actionsEnd) || readFully(patch, footer, kFooterSize) != kFooterSize)
        return finish(BpsRead::Unreadable);
    h.sourceCrc = qFromLittleEndian<quint32>(footer);
    h.targetCrc = qFromLittleEndian<quint32>(footer + 4);
    h.patchCrc = qFromLittleEndian<quint32>(footer + 8);
    return finish(crc == h.patchCrc ? BpsRead::Read : BpsRead::Corrupted);
}

namespace {

// The CRC-32s of the image read in each of `orders`, in one pass.
void crcsInOrders(QIODevice &image, ByteOrder own, OrderedCrc *orders, size_t count) {
    // Small blocks, so that a block is reordered and summed while it is still
    // in the processor's cache.
    constexpr qint64 kBlock = 64 * 1024;
    std::vector<char> piece(kCopyChunkSize);
    std::vector<char> reordered(kBlock);
    image.seek(0);
    for (;;) {
        const qint64 n = readFully(image, piece.data(), kCopyChunkSize);
        if (n <= 0)
            return;
        for (qint64 at = 0; at < n; at += kBlock) {
            const qint64 size = std::min(kBlock, n - at);
            for (size_t i = 0; i < count; ++i) {
                const char *bytes = piece.data() + at;
                if (orders[i].order != own) {
                    std::memcpy(reordered.data(), bytes, size_t(size));
                    reorderBytes(reordered.data(), size, own, orders[i].order);
                    bytes = reordered.data();
                }
                orders[i].crc = crc32(orders[i].crc, bytes, size_t(size));
            }
        }
    }
}

} // namespace

std::vector<OrderedCrc> imageCrcs(QIODevice &image, ByteOrder own,
                                  const std::function<bool(std::uint32_t)> &enough) {
    std::vector<OrderedCrc> crcs{{own, 0}};
    crcsInOrders(image, own, crcs.data(), 1);
    if ((enough && enough(crcs[0].crc)) || own == ByteOrder::Unknown || image.size() % 4 != 0)
        return crcs;
    for (const ByteOrder other :
         {ByteOrder::Cartridge, ByteOrder::ByteSwapped, ByteOrder::LittleEndian}) {
        if (other != own)
            crcs.push_back({other, 0});
    }
    crcsInOrders(image, own, crcs.data() + 1, crcs.size() - 1);
    return crcs;
}

std::optional<ByteOrder> sourceOrder(const BpsHeader &header, const QString &imagePath) {
    HeaderBytes head;
    QFile image;
    if (!readHeaderBytes(imagePath, head) || !openRegularFile(image, imagePath) ||
        std::uint64_t(image.size()) != header.sourceSize)
        return std::nullopt;
    const auto isSource = [&](std::uint32_t crc) { return crc == header.sourceCrc; };
    for (const OrderedCrc &crc : imageCrcs(image, byteOrderOf(head), isSource)) {
        if (isSource(crc.crc))
            return crc.order;
    }
    return std::nullopt;
}

ApplyResult applyBps(const PatchJob &job) {
    ApplyResult result;
    const auto finish = [&](ApplyOutcome outcome) {
        result.outcome = outcome;
        return result;
    };
    const BpsInspection inspection = inspectBps(job.patchPath);
    switch (inspection.outcome) {
    case BpsRead::Read:
        break;
    case BpsRead::Unreadable:
        return finish(ApplyOutcome::SourceUnreadable);
    case BpsRead::NotBps:
        return finish(ApplyOutcome::NotAnApsFile);
    case BpsRead::Truncated:
        return finish(ApplyOutcome::SourceTruncated);
    case BpsRead::Corrupted:
        return finish(ApplyOutcome::PatchCorrupted);
    }
    const BpsHeader &h = inspection.header;
    result.expectedCrc = h.sourceCrc;

    ImageUpdate update(job);
    if (const auto refused = update.lockImage())
        return finish(*refused);
    QFile image;
    HeaderBytes head;
    if (!readHeaderBytes(job.imagePath, head) || !openRegularFile(image, job.imagePath))
        return finish(ApplyOutcome::DestinationUnwritable);
    const ByteOrder own = byteOrderOf(head);
    const qint64 imageSize = image.size();
    const std::vector<OrderedCrc> crcs = imageCrcs(image, own, [&](std::uint32_t crc) {
        return (std::uint64_t(imageSize) == h.sourceSize && crc == h.sourceCrc) ||
               (std::uint64_t(imageSize) == h.targetSize && crc == h.targetCrc);
    });
    result.imageCrc = crcs.front().crc;
    const auto isSource = [&](const OrderedCrc &c) {
        return std::uint64_t(imageSize) == h.sourceSize && c.crc == h.sourceCrc;
    };
    const auto isTarget = [&](const OrderedCrc &c) {
        return std::uint64_t(imageSize) == h.targetSize && c.crc == h.targetCrc;
    };
    const auto source = std::find_if(crcs.begin(), crcs.end(), isSource);
    if (source != crcs.end())
        result.readAs = source->order;
    else if (std::any_of(crcs.begin(), crcs.end(), isTarget))
        return finish(ApplyOutcome::AlreadyPatched);
    else if (job.skipSourceCheck)
        result.readAs = own;
    else
        return finish(ApplyOutcome::WrongImage);
    // A result that has to be put back in another order must be whole words.
    const ByteOrder stored = own == ByteOrder::Unknown ? result.readAs : own;
    if (stored != result.readAs && h.targetSize % 4 != 0)
        return finish(ApplyOutcome::InvalidPatch);

    if (job.confirm && !job.confirm())
        return finish(ApplyOutcome::Declined);
    if (job.workStarting)
        job.workStarting();
    if (const auto refused = update.startWriting())
        return finish(*refused);

    QFile patch;
    if (!openRegularFile(patch, job.patchPath) || !patch.seek(h.actionsStart))
        return finish(ApplyOutcome::SourceUnreadable);
    SourceBlocks sourceBlocks(image, imageSize, stored, result.readAs);
    TargetWriter target(update.replacement(), result.readAs, stored);
    const qint64 sourceSize = std::min<qint64>(imageSize, qint64(h.sourceSize));
    switch (runActions(patch, h, sourceBlocks, sourceSize, target)) {
    case Actions::Applied:
        break;
    case Actions::Invalid:
        return finish(ApplyOutcome::InvalidPatch);
    case Actions::ReadFailed:
        return finish(ApplyOutcome::SourceUnreadable);
    case Actions::WriteFailed:
        return finish(update.putInPlace(false, result));
    }
    if (target.crc() != h.targetCrc)
        return finish(ApplyOutcome::ResultMismatch);
    result.bytesWritten = qint64(h.targetSize);
    const bool written = target.flush() && update.replacement().finish(qint64(h.targetSize));
    return finish(update.putInPlace(written, result));
}

} // namespace tarnic
