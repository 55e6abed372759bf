// Measures, on the disk of a temporary folder (or of the folder given as the
// first argument):
//  - the time of a byte-order conversion and of a patch application (backups
//    off and on) of a 64 MiB image with a patch of 10,000 mixed records, each
//    as a ratio to a plain copy of the same image flushed to disk once at its
//    end, as every operation flushes its result; medians of several runs;
//  - the peak memory of each operation on 64 MiB and 256 MiB images, each run
//    once in a child process of its own;
//  - the time of creating a patch between two 64 MiB images that differ in
//    10,000 places, as a ratio to reading both files, and its peak memory on
//    64 MiB and 256 MiB images;
//  - the time of a BPS application (a linear patch of the same 10,000 changes,
//    the result written to another file) to the image and to its byte-swapped
//    twin, as a ratio to a plain copy, and of the byte-order check (the
//    image's CRC-32 in all three orders) as a ratio to reading it once;
//  - the peak memory of applying UPS, PPF and IPS32 patches that rewrite
//    nearly the whole image;
//  - the time of the checksum check and fix and of reading an image's header
//    and checksum (what `tarnic-cli info` does) on a 1 GiB sparse image and a
//    2 MiB one.

#include "files/Crc32.h"
#include "files/FileReader.h"
#include "patch/PatchApplication.h"
#include "patch/PatchCreation.h"
#include "patch/PatchFormat.h"
#include "patch/aps/ApsFormat.h"
#include "patch/bps/Bps.h"
#include "patch/varint/Varint.h"
#include "qt/PathText.h"
#include "rom/ByteOrderConversion.h"
#include "rom/Checksum.h"

#include "ChildProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

namespace {

constexpr qint64 MiB = 1 << 20;
constexpr int kRuns = 7;
constexpr int kRecords = 10000;

void fail(const char *what) {
    std::fprintf(stderr, "tarnic_bench: %s\n", what);
    std::exit(1);
}

void writeImage(const QString &path, qint64 size) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        fail("cannot create the image");
    std::mt19937_64 random(42);
    std::vector<std::uint64_t> chunk(MiB / 8);
    for (qint64 written = 0; written < size; written += MiB) {
        for (auto &word : chunk)
            word = random();
        auto *bytes = reinterpret_cast<unsigned char *>(chunk.data());
        if (written == 0) {
            bytes[0] = 0x80; // cartridge order
            bytes[1] = 0x37;
        }
        file.write(reinterpret_cast<const char *>(bytes), MiB);
    }
    // Flushed now, so that writing it back later does not take a core from
    // what is measured.
    if (!file.flush() || ::fdatasync(file.handle()) != 0)
        fail("cannot write the image");
}

// 10,000 records, two copy records to one run record, about 1 MiB written.
qint64 writePatch(const QString &path, qint64 imageSize) {
    QByteArray patch("APS10");
    patch += QByteArray(78 - 5, '\0');
    patch[5] = 1; // N64 specific: the 78-byte header
    std::mt19937 random(7);
    qint64 bytesWritten = 0;
    for (int i = 0; i < kRecords; ++i) {
        const std::uint32_t offset = random() % std::uint32_t(imageSize - 256);
        for (int b = 0; b < 4; ++b)
            patch += char((offset >> (8 * b)) & 0xFF);
        if (i % 3 == 2) {
            const int count = 1 + int(random() % 200);
            patch += '\0';
            patch += char(random());
            patch += char(count);
            bytesWritten += count;
        } else {
            const int length = 1 + int(random() % 200);
            patch += char(length);
            for (int b = 0; b < length; ++b)
                patch += char(random());
            bytesWritten += length;
        }
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(patch) != patch.size())
        fail("cannot create the patch");
    return bytesWritten;
}

// The reference: read and write in 1 MiB pieces, flushed to disk at the end.
void plainCopy(const QString &from, const QString &to) {
    QFile in(from);
    QFile out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        fail("cannot copy");
    std::vector<char> buffer(MiB);
    for (qint64 n; (n = in.read(buffer.data(), MiB)) > 0;)
        out.write(buffer.data(), n);
    out.flush();
    ::fdatasync(out.handle());
}

double medianMs(const std::function<void()> &work, const std::function<void()> &after = {}) {
    std::vector<double> times;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer clock;
        clock.start();
        work();
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
        if (after)
            after();
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

long peakMemoryKiB(const std::function<void()> &work) {
    const childprocess::Ended ended = childprocess::run([&] {
        work();
        return 0;
    });
    if (ended.exitCode != 0)
        fail("an operation failed in its child process");
    return ended.peakKiB;
}

struct Files {
    QString image, copy, patch, backup, modified, created, bps, swapped, ups, ppf, ips;
};

Files filesIn(const QString &folder) {
    const QDir dir(folder);
    return {
        dir.filePath("bench.z64"),     dir.filePath("bench.copy"),   dir.filePath("bench.aps"),
        dir.filePath("bench.z64.BAK"), dir.filePath("modified.z64"), dir.filePath("created.aps"),
        dir.filePath("bench.bps"),     dir.filePath("bench.v64"),    dir.filePath("bench.ups"),
        dir.filePath("bench.ppf"),     dir.filePath("bench.ips")};
}

QByteArray readWhole(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail("cannot read");
    return file.readAll();
}

// Files the benchmark makes are flushed to disk at once, so that writing them
// back later does not take a core from what is measured.
void writeFileOrFail(const QString &path, const QByteArray &bytes) {
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.flush() ||
        ::fdatasync(out.handle()) != 0)
        fail("cannot write a file");
}

// A BPS or UPS number.
void appendNumber(QByteArray &to, quint64 value) {
    std::string number;
    tarnic::appendVarint(number, value);
    to.append(number.data(), qsizetype(number.size()));
}

// A BPS or UPS patch's end: the CRC-32s of its source, its target and itself.
QByteArray withCrcFooter(QByteArray patch, const QByteArray &source, const QByteArray &target) {
    for (const QByteArray &whole : {source, target}) {
        const quint32 crc = tarnic::crc32(0, whole.constData(), size_t(whole.size()));
        patch += QByteArray(reinterpret_cast<const char *>(&crc), 4);
    }
    const quint32 crc = tarnic::crc32(0, patch.constData(), size_t(patch.size()));
    return patch + QByteArray(reinterpret_cast<const char *>(&crc), 4);
}

// A linear BPS patch from the image to the modified one: a SourceRead for each
// stretch that is the same, a TargetRead for each that changed.
void writeBps(const Files &f) {
    const QByteArray source = readWhole(f.image);
    const QByteArray target = readWhole(f.modified);
    QByteArray patch("BPS1");
    appendNumber(patch, quint64(source.size()));
    appendNumber(patch, quint64(target.size()));
    appendNumber(patch, 0);
    for (qsizetype at = 0; at < target.size();) {
        qsizetype end = at;
        const bool same = source[at] == target[at];
        while (end < target.size() && (source[end] == target[end]) == same)
            ++end;
        appendNumber(patch, quint64(end - at - 1) << 2 | (same ? 0 : 1));
        if (!same)
            patch += target.mid(at, end - at);
        at = end;
    }
    writeFileOrFail(f.bps, withCrcFooter(patch, source, target));
}

// The stretches where the modified image differs from the image (of the same
// size), as [start, end).
std::vector<std::pair<qsizetype, qsizetype>> changedStretches(const QByteArray &image,
                                                              const QByteArray &modified) {
    std::vector<std::pair<qsizetype, qsizetype>> stretches;
    for (qsizetype at = 0; at < modified.size(); ++at) {
        if (image[at] == modified[at])
            continue;
        const qsizetype start = at;
        while (at < modified.size() && image[at] != modified[at])
            ++at;
        stretches.emplace_back(start, at);
    }
    return stretches;
}

// The differences between the image and the modified one as a UPS patch, a
// PPF3 patch and an IPS32 patch, for the peak memory of their application.
// By the time they are made the image has been converted to the other byte
// order, so they rewrite nearly every byte: far more records than are held
// in memory.
void writeOtherFormats(const Files &f) {
    const QByteArray image = readWhole(f.image);
    const QByteArray modified = readWhole(f.modified);
    QByteArray ups("UPS1");
    appendNumber(ups, quint64(image.size()));
    appendNumber(ups, quint64(modified.size()));
    QByteArray ppf = "PPF30" + QByteArray(1, 2) + QByteArray(50, ' ') + QByteArray(4, '\0');
    QByteArray ips("IPS32");
    qsizetype cursor = 0;
    for (const auto &[start, end] : changedStretches(image, modified)) {
        appendNumber(ups, quint64(start - cursor));
        for (qsizetype at = start; at < end; ++at)
            ups += char(image[at] ^ modified[at]);
        ups += '\0'; // the byte after a stretch is unchanged
        cursor = end + 1;
        for (qsizetype at = start; at < end; at += 255) {
            const qsizetype n = std::min<qsizetype>(255, end - at);
            for (int b = 0; b < 8; ++b)
                ppf += char(quint64(at) >> (8 * b));
            ppf += char(n) + modified.mid(at, n);
            for (int b = 3; b >= 0; --b)
                ips += char(quint32(at) >> (8 * b));
            ips += '\0';
            ips += char(n) + modified.mid(at, n);
        }
    }
    writeFileOrFail(f.ups, withCrcFooter(ups, image, modified));
    writeFileOrFail(f.ppf, ppf);
    writeFileOrFail(f.ips, ips + "EEOF");
}

// Applies the patch at `patch` to the image, the result to another file.
void applyTo(const Files &f, const QString &patch) {
    tarnic::PatchJob job;
    job.patchPath = tarnic::pathOf(patch);
    job.imagePath = tarnic::pathOf(f.image);
    job.outputPath = tarnic::pathOf(f.copy);
    job.skipSourceCheck = true; // the PPF and IPS32 patches say nothing of it
    if (tarnic::applyPatchFile(job).outcome != tarnic::ApplyOutcome::Applied)
        fail("a patch of another format failed");
}

void applyBps(const Files &f, const QString &image) {
    tarnic::PatchJob job;
    job.patchPath = tarnic::pathOf(f.bps);
    job.imagePath = tarnic::pathOf(image);
    job.outputPath = tarnic::pathOf(f.copy);
    if (tarnic::applyBps(job).outcome != tarnic::ApplyOutcome::Applied)
        fail("BPS application failed");
}

void readOnce(const QString &path) {
    std::vector<char> buffer(MiB);
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        fail("cannot read");
    while (in.read(buffer.data(), MiB) > 0) {
    }
}

void checkOrders(const QString &path) {
    tarnic::HeaderBytes head;
    tarnic::FileReader in;
    if (!tarnic::readHeaderBytes(tarnic::pathOf(path), head) || !in.open(tarnic::pathOf(path)) ||
        tarnic::imageCrcs(in, tarnic::byteOrderOf(head)).size() != 3)
        fail("the byte-order check failed");
}

// The image with 10,000 stretches of 1 to 200 bytes changed, about 1 MiB.
void writeModified(const QString &from, const QString &to) {
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly))
        fail("cannot read the image");
    QByteArray image = in.readAll();
    std::mt19937 random(11);
    for (int i = 0; i < kRecords; ++i) {
        const qsizetype at = qsizetype(random() % std::uint32_t(image.size() - 256));
        const int length = 1 + int(random() % 200);
        for (int b = 0; b < length; ++b)
            image[at + b] = char(i % 3 == 2 ? 0x55 : random());
    }
    writeFileOrFail(to, image);
}

// The reference for patch creation: both images read in 1 MiB pieces.
void readBoth(const Files &f) {
    std::vector<char> buffer(MiB);
    for (const QString &path : {f.image, f.modified}) {
        QFile in(path);
        if (!in.open(QIODevice::ReadOnly))
            fail("cannot read");
        while (in.read(buffer.data(), MiB) > 0) {
        }
    }
}

void create(const Files &f) {
    if (tarnic::createApsPatch({tarnic::pathOf(f.image), tarnic::pathOf(f.modified),
                                tarnic::pathOf(f.created), "bench"})
            .outcome != tarnic::CreateOutcome::Created)
        fail("patch creation failed");
}

// A cartridge-order image of `size` bytes holding data only in its first 2 MiB.
void writeSparseImage(const QString &path, qint64 size) {
    writeImage(path, 2 * MiB);
    if (!QFile::resize(path, size))
        fail("cannot make a sparse image");
}

// What `tarnic-cli info` reads of an image: the header and the checksum.
void imageInfo(const QString &path) {
    tarnic::HeaderBytes header;
    if (!tarnic::readHeaderBytes(tarnic::pathOf(path), header) ||
        tarnic::inspectHeader(header).outcome != tarnic::ImageReadOutcome::Shown ||
        tarnic::checkChecksum(tarnic::pathOf(path), tarnic::BootCode::Cic6102).outcome !=
            tarnic::ChecksumOutcome::Checked)
        fail("image info failed");
}

// Writes a checksum each time, alternating between two kinds.
void fixChecksum(const QString &path) {
    static bool other = false;
    other = !other;
    if (tarnic::fixChecksum(tarnic::pathOf(path),
                            other ? tarnic::BootCode::Cic6105 : tarnic::BootCode::Cic6102)
            .outcome != tarnic::ChecksumFixOutcome::Written)
        fail("checksum fix failed");
}

void convert(const Files &f) {
    if (tarnic::swapByteOrder(tarnic::pathOf(f.image)).outcome !=
        tarnic::ConversionOutcome::Converted)
        fail("conversion failed");
}

void applyApsPatch(const Files &f, bool withBackup) {
    tarnic::PatchJob job;
    job.patchPath = tarnic::pathOf(f.patch);
    job.imagePath = tarnic::pathOf(f.image);
    job.backupPath = withBackup ? tarnic::pathOf(f.backup) : std::filesystem::path();
    if (tarnic::applyApsPatch(job).outcome != tarnic::ApplyOutcome::Applied)
        fail("patch application failed");
}

} // namespace

int main(int argc, char **argv) {
    QTemporaryDir scratch(
        argc > 1 ? QDir(QString::fromLocal8Bit(argv[1])).filePath("tarnic-bench-XXXXXX")
                 : QDir::temp().filePath("tarnic-bench-XXXXXX"));
    if (!scratch.isValid())
        fail("cannot create a temporary folder");
    const Files f = filesIn(scratch.path());

    writeImage(f.image, 64 * MiB);
    const qint64 patched = writePatch(f.patch, 64 * MiB);
    std::printf("64 MiB image, %d records writing %.2f MiB, medians of %d runs\n", kRecords,
                double(patched) / MiB, kRuns);

    const auto removeCopy = [&] { QFile::remove(f.copy); };
    const auto removeBackup = [&] { QFile::remove(f.backup); };
    const double copyMs = medianMs([&] { plainCopy(f.image, f.copy); }, removeCopy);
    const double convertMs = medianMs([&] { convert(f); });
    const double applyMs = medianMs([&] { applyApsPatch(f, false); });
    const double applyBackupMs = medianMs([&] { applyApsPatch(f, true); }, removeBackup);

    std::printf("%-28s %10s %8s\n", "operation", "ms", "ratio");
    std::printf("%-28s %10.1f %8.2f\n", "plain copy", copyMs, 1.0);
    std::printf("%-28s %10.1f %8.2f\n", "byte-order conversion", convertMs, convertMs / copyMs);
    std::printf("%-28s %10.1f %8.2f\n", "patch, backups off", applyMs, applyMs / copyMs);
    std::printf("%-28s %10.1f %8.2f\n", "patch, backups on", applyBackupMs, applyBackupMs / copyMs);

    writeModified(f.image, f.modified);
    const double readBothMs = medianMs([&] { readBoth(f); });
    const double createMs = medianMs([&] { create(f); });
    std::printf("%-28s %10.1f %8s\n", "reading both images", readBothMs, "1.00");
    std::printf("%-28s %10.1f %8.2f  (to reading both)\n", "patch creation", createMs,
                createMs / readBothMs);
    const long createdSize = long(QFileInfo(f.created).size());
    std::printf("%-28s %10ld bytes for %d changed stretches\n", "created patch", createdSize,
                kRecords);

    writeBps(f);
    QByteArray twin = readWhole(f.image); // in the other copier order
    tarnic::swapBytePairs(twin.data(), twin.size());
    writeFileOrFail(f.swapped, twin);
    twin.clear();
    const double bpsMs = medianMs([&] { applyBps(f, f.image); }, removeCopy);
    const double bpsSwappedMs = medianMs([&] { applyBps(f, f.swapped); }, removeCopy);
    const double readOnceMs = medianMs([&] { readOnce(f.image); });
    const double ordersMs = medianMs([&] { checkOrders(f.image); });
    std::printf("%-28s %10.1f %8.2f\n", "BPS patch", bpsMs, bpsMs / copyMs);
    std::printf("%-28s %10.1f %8.2f\n", "BPS patch, v64 image", bpsSwappedMs,
                bpsSwappedMs / copyMs);
    // Delta BPS creation: the same changes and a 64 KiB block moved.
    {
        QByteArray moved = readWhole(f.modified);
        moved.replace(0x200000, 0x10000, moved.mid(0x800000, 0x10000));
        writeFileOrFail(f.modified, moved);
    }
    writeBps(f); // linear, for the size
    const qint64 linearSize = QFileInfo(f.bps).size();
    const QString deltaPath = QDir(QFileInfo(f.bps).absolutePath()).filePath("delta.bps");
    const double bpsCreateMs = medianMs([&] {
        if (tarnic::createBpsPatch({tarnic::pathOf(f.image),
                                    tarnic::pathOf(f.modified),
                                    tarnic::pathOf(deltaPath),
                                    {}})
                .outcome != tarnic::CreateOutcome::Created)
            fail("BPS creation failed");
    });
    std::printf("%-28s %10.1f %8.2f  (to reading both; %lld bytes, linear %lld)\n", "BPS creation",
                bpsCreateMs, bpsCreateMs / readBothMs, (long long)QFileInfo(deltaPath).size(),
                (long long)linearSize);
    std::printf("%-28s %10.1f %8s\n", "reading the image once", readOnceMs, "1.00");
    std::printf("%-28s %10.1f %8.2f  (to reading once)\n", "byte-order check", ordersMs,
                ordersMs / readOnceMs);

    const QString small = QDir(scratch.path()).filePath("small.z64");
    const QString sparse = QDir(scratch.path()).filePath("sparse.z64");
    writeSparseImage(small, 2 * MiB);
    writeSparseImage(sparse, 1024 * MiB);
    std::printf("\n%-28s %10s %10s\n", "header and checksum (ms)", "2 MiB", "1 GiB");
    std::printf("%-28s %10.2f %10.2f\n", "info", medianMs([&] { imageInfo(small); }),
                medianMs([&] { imageInfo(sparse); }));
    std::printf("%-28s %10.2f %10.2f\n", "fix-crc", medianMs([&] { fixChecksum(small); }),
                medianMs([&] { fixChecksum(sparse); }));
    QFile::remove(sparse);

    std::printf("\n%-28s %12s %12s\n", "peak memory (MiB)", "64 MiB", "256 MiB");
    long peaks[9][2];
    for (int s = 0; s < 2; ++s) {
        if (s == 1) {
            writeImage(f.image, 256 * MiB);
            writePatch(f.patch, 256 * MiB);
            writeModified(f.image, f.modified);
        }
        peaks[0][s] = peakMemoryKiB([&] { convert(f); });
        peaks[1][s] = peakMemoryKiB([&] { applyApsPatch(f, false); });
        peaks[2][s] = peakMemoryKiB([&] { applyApsPatch(f, true); });
        peaks[3][s] = peakMemoryKiB([&] { create(f); });
        writeBps(f);
        peaks[4][s] = peakMemoryKiB([&] { applyBps(f, f.image); });
        peaks[5][s] = peakMemoryKiB([&] {
            tarnic::createBpsPatch({tarnic::pathOf(f.image),
                                    tarnic::pathOf(f.modified),
                                    tarnic::pathOf(f.bps + ".delta"),
                                    {}});
        });
        writeOtherFormats(f);
        peaks[6][s] = peakMemoryKiB([&] { applyTo(f, f.ups); });
        peaks[7][s] = peakMemoryKiB([&] { applyTo(f, f.ppf); });
        peaks[8][s] = peakMemoryKiB([&] { applyTo(f, f.ips); });
        removeBackup();
        removeCopy();
    }
    const char *names[] = {"byte-order conversion",
                           "patch, backups off",
                           "patch, backups on",
                           "patch creation",
                           "BPS patch",
                           "BPS creation",
                           "UPS patch",
                           "PPF patch",
                           "IPS32 patch"};
    for (int op = 0; op < 9; ++op)
        std::printf("%-28s %12.1f %12.1f\n", names[op], peaks[op][0] / 1024.0,
                    peaks[op][1] / 1024.0);
    return 0;
}
