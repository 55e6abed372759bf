// Makes every write of an operation fail in turn (a file-size limit at each
// piece boundary and across the last 64 KiB, the Nth flush to disk, rename or
// link), and kills it at a spread of moments. After each case the image is the
// old or the new content, as reported; the backup is the old image; no helper
// file is left; and a retry succeeds.

#include "ChildProcess.h"
#include "FailingCalls.h"
#include "QtTestFiles.h"
#include "files/FileLock.h"
#include "files/SafeWrite.h"
#include "patch/PatchApplication.h"
#include "patch/PatchCreation.h"
#include "patch/PatchFormat.h"
#include "patch/aps/ApsFormat.h"
#include "rom/ByteOrderConversion.h"
#include "rom/Checksum.h"
#include "startup/Settings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <future>
#include <map>

#include <gtest/gtest.h>

#include <optional>

using namespace tarnic;
using namespace testfiles;

namespace {

constexpr qint64 MiB = 1 << 20;
constexpr int kKillMoments = 10;

int casesTried = 0;
int casesLost = 0;

void record(bool intact, const std::string &what) {
    ++casesTried;
    if (!intact) {
        ++casesLost;
        ADD_FAILURE() << what;
    }
}

enum class Operation {
    ApplyWithoutBackup,
    ApplyBps,               // BPS, its own writer: the image lengthened by a copy of its start
    ApplyXdelta,            // the same as an xdelta patch, decoded a window at a time
    ApplyUps,               // UPS, the record engine in another byte order, the result checked
    ApplyWithLinkedBackup,  // no backup before
    ApplyOverEarlierBackup, // linked, replacing an earlier backup
    ApplyWithCopiedBackup,  // copied (another file system), replacing an earlier backup
    Convert,
    FixChecksum,      // in place, or rewritten whole
    CreatePatch,      // "the image" is the patch that replaces an older one
    ApplyThroughLink, // the image a symbolic link to a name that is not UTF-8, beside
                      // a file whose name is that one turned into text
    ApplyRow,         // two patches in a row, with a backup
    ApplyIps,         // the same changes as an IPS patch (a run record among them)
    ApplyPpf,         // and as a PPF1 patch
};

// One operation on an image whose length is no multiple of the piece size and
// which the patch lengthens, with records across piece boundaries and a gap of
// zeros across one.
class ImageCase {
  public:
    ImageCase(Operation operation, const QTemporaryDir &dir, const QTemporaryDir &elsewhere)
        : operation_(operation), dir_(dir), elsewhere_(elsewhere) {
        old_ = cartridgeImage(2 * MiB + 12345);
        if (operation_ == Operation::Convert) {
            new_ = byteSwapped(old_);
            return;
        }
        if (operation_ == Operation::FixChecksum) {
            const HeaderChecksum sum = computeChecksum(old_.data(), BootCode::Cic6102);
            new_ = old_;
            for (int i = 0; i < 4; ++i) {
                new_[0x10 + i] = char(sum.crc1 >> (24 - 8 * i));
                new_[0x14 + i] = char(sum.crc2 >> (24 - 8 * i));
            }
            return;
        }
        if (operation_ == Operation::ApplyUps) {
            // Made on the cartridge-order image, applied to its byte-swapped
            // twin: a hunk across a piece boundary, and one onto zeros past
            // the end that lengthens the image.
            const std::string z64 = cartridgeImage(2 * MiB + 12344);
            std::string changed = mid(z64, MiB - 5, 23);
            for (char &c : changed)
                c = char(~c);
            const std::string grown(100000, 'U');
            const std::string result = std::string(z64).replace(MiB - 5, 23, changed) + grown;
            patch_ =
                upsPatch(z64, result,
                         bpsNumber(MiB - 5) + upsXor(mid(z64, MiB - 5, 23), changed) +
                             bpsNumber(quint64(z64.size() - (MiB - 5 + 24))) + upsXor({}, grown));
            old_ = byteSwapped(z64);
            new_ = byteSwapped(result);
            return;
        }
        if (operation_ == Operation::ApplyBps || operation_ == Operation::ApplyXdelta) {
            const std::string spanning("ACROSS A PIECE BOUNDARY");
            new_ = std::string(old_).replace(MiB - 5, spanning.size(), spanning);
            new_ += left(new_, 100000); // read back from the new file, across pieces
            const qint64 rest = old_.size() - (MiB - 5 + spanning.size());
            patch_ = bpsPatch(old_, new_,
                              bpsAction(0, MiB - 5) + bpsAction(1, spanning.size()) + spanning +
                                  bpsAction(2, rest) + bpsMove(MiB - 5 + spanning.size()) +
                                  bpsAction(3, 100000) + bpsMove(0));
            if (operation_ == Operation::ApplyXdelta) {
                // Copies from the image, the bytes themselves, and a copy of
                // the window's own start.
                const std::string copy("\x13");
                patch_ = vcdiffHeader() +
                         vcdiffWindow(
                             {5, quint64(old_.size()), 0, new_, spanning,
                              copy + vcdiffNumber(MiB - 5) + '\1' + vcdiffNumber(spanning.size()) +
                                  copy + vcdiffNumber(quint64(rest)) + copy + vcdiffNumber(100000),
                              '\0' + vcdiffNumber(MiB - 5 + spanning.size()) +
                                  vcdiffNumber(quint64(old_.size()))});
            }
            return;
        }
        if (operation_ == Operation::CreatePatch) {
            source_ = old_;
            modified_ = old_;
            for (size_t at = 100; at < modified_.size(); at += 7000)
                modified_.replace(at, 300, std::string(150, char(at)) + mid(old_, at + 7, 150));
            writeFile(dir_.filePath("orig.z64"), old_);
            writeFile(dir_.filePath("mod.z64"), modified_);
            run();
            new_ = readFile(image());
            old_ = "an older patch at the same name";
            return;
        }
        const std::string spanning("ACROSS A PIECE BOUNDARY");
        const std::string second("IN THE SECOND PIECE");
        const qint64 pastEnd = 3 * MiB + 5000;
        patch_ = apsHeader() + copyRecord(MiB - 5, spanning) + copyRecord(MiB + 1000, second) +
                 runRecord(0x20, 'R', 20) + copyRecord(std::int32_t(pastEnd), "END");
        new_ = old_;
        new_.replace(MiB - 5, spanning.size(), spanning);
        new_.replace(MiB + 1000, second.size(), second);
        new_.replace(0x20, 20, std::string(20, 'R'));
        new_ += std::string(pastEnd - new_.size(), '\0') + "END";
        if (operation_ == Operation::ApplyRow) {
            secondPatch_ = apsHeader() + copyRecord(2 * MiB, "SECOND PATCH");
            new_.replace(2 * MiB, 12, "SECOND PATCH");
        }
        // The same changes in the formats that write at offsets, byte by byte
        // as their definitions lay them out.
        const auto bigEndian = [](quint64 value, int size) {
            std::string bytes;
            for (int i = size - 1; i >= 0; --i)
                bytes += char(value >> (8 * i));
            return bytes;
        };
        const auto littleEndian = [](quint64 value, int size) {
            std::string bytes;
            for (int i = 0; i < size; ++i)
                bytes += char(value >> (8 * i));
            return bytes;
        };
        const std::pair<qint64, std::string> copies[] = {
            {MiB - 5, spanning}, {MiB + 1000, second}, {pastEnd, "END"}};
        if (operation_ == Operation::ApplyIps) {
            patch_ = "PATCH";
            for (const auto &[at, bytes] : copies)
                patch_ += bigEndian(quint64(at), 3) + bigEndian(quint64(bytes.size()), 2) + bytes;
            patch_ += bigEndian(0x20, 3) + bigEndian(0, 2) + bigEndian(20, 2) + 'R' + "EOF";
        }
        if (operation_ == Operation::ApplyPpf) {
            patch_ = "PPF10" + std::string(1, '\0') + padded(std::string("Fault matrix"), 50);
            for (const auto &[at, bytes] : copies)
                patch_ += littleEndian(quint64(at), 4) + char(bytes.size()) + bytes;
            patch_ += littleEndian(0x20, 4) + char(20) + std::string(20, 'R');
        }
    }

    qint64 newLength() const { return new_.size(); }
    bool stillOld() const { return readFile(image()) == old_; }

    void lay() {
        for (const QTemporaryDir *folder : {&dir_, &elsewhere_}) {
            for (const QString &name :
                 QDir(folder->path()).entryList(QDir::Files | QDir::System | QDir::Hidden))
                QFile::remove(folder->filePath(name));
        }
        for (const auto &entry : std::filesystem::directory_iterator(pathOf(dir_.path()))) {
            if (entry.is_directory() && !entry.is_symlink())
                std::filesystem::remove_all(entry.path());
            else
                std::filesystem::remove(entry.path());
        }
        writeFile(dir_.filePath("next.aps"), kNextPatch);
        fixOutcome_ = ChecksumFixOutcome::NotChecked;
        if (operation_ == Operation::ApplyWithCopiedBackup) {
            // The image is a link to a file on another file system, so the
            // backup beside the link cannot be a second name of it.
            writeFile(realImage(), old_);
            QFile::link(realImage(), image());
        } else if (operation_ == Operation::ApplyThroughLink) {
            writeFile(pathOf(dir_.path()) / kNotUtf8, old_);
            writeFile(pathOf(dir_.path()) / kLossyName, kUnrelated);
            std::filesystem::create_symlink(kNotUtf8, pathOf(image()));
        } else {
            writeFile(image(), old_);
        }
        if (!patch_.empty())
            writeFile(dir_.filePath("fix.aps"), patch_);
        if (!secondPatch_.empty())
            writeFile(dir_.filePath("second.aps"), secondPatch_);
        if (hasEarlierBackup())
            writeFile(backup(), kEarlierBackup);
        if (!modified_.empty()) {
            writeFile(dir_.filePath("orig.z64"), source_);
            writeFile(dir_.filePath("mod.z64"), modified_);
        }
    }

    bool run() const {
        if (operation_ == Operation::Convert)
            return swapByteOrder(pathOf(image())).outcome == ConversionOutcome::Converted;
        if (operation_ == Operation::FixChecksum) {
            fixOutcome_ = fixChecksum(pathOf(image()), BootCode::Cic6102).outcome;
            return fixOutcome_ == ChecksumFixOutcome::Written;
        }
        if (operation_ == Operation::CreatePatch)
            return createApsPatch({pathOf(dir_.filePath("orig.z64")),
                                   pathOf(dir_.filePath("mod.z64")), pathOf(image()),
                                   "fault matrix"})
                       .outcome == CreateOutcome::Created;
        PatchJob job;
        job.patchPath = pathOf(dir_.filePath("fix.aps"));
        job.imagePath = pathOf(image());
        if (withBackup())
            job.backupPath = pathOf(backup());
        if (operation_ == Operation::ApplyRow)
            return applyPatchFiles({job.patchPath, pathOf(dir_.filePath("second.aps"))}, job)
                       .outcome == ApplyOutcome::Applied;
        return applyPatchFile(job).outcome == ApplyOutcome::Applied;
    }

    // The next run of any command on the image: a patch that is declined
    // once checked, which settles what an earlier run left and writes nothing.
    bool runNext() const {
        PatchJob job;
        job.patchPath = pathOf(dir_.filePath("next.aps"));
        job.imagePath = pathOf(image());
        job.confirm = [] { return false; };
        return applyPatchFile(job).outcome == ApplyOutcome::Declined;
    }

    // Checks the files after a run that reported `succeeded`, or after a kill
    // (`afterKill`: what it left may still be there); `settled` once the next
    // run has settled everything an earlier one left.
    bool intact(std::optional<bool> succeeded, bool afterKill, std::string &why,
                bool settled = false) const {
        const std::string now = readFile(image());
        const bool isOld = now == old_, isNew = now == new_;
        // A checksum fix whose every write failed says which checksum the
        // header reads as; never that another program changed the image.
        const bool saidNew = operation_ == Operation::FixChecksum && succeeded && !*succeeded &&
                             fixOutcome_ == ChecksumFixOutcome::LeftUnsure;
        if (operation_ == Operation::FixChecksum && fixOutcome_ == ChecksumFixOutcome::Changed)
            return why = "a checksum fix blamed another program", false;
        if (succeeded ? (*succeeded || saidNew ? !isNew : !isOld) : !(isOld || isNew))
            return why = "the image is neither what was reported nor old or new", false;
        if (operation_ == Operation::ApplyThroughLink &&
            (readFile(pathOf(dir_.path()) / kLossyName) != kUnrelated ||
             !std::filesystem::is_symlink(pathOf(image()))))
            return why = "the unrelated file or the link was touched", false;
        if (withBackup()) {
            const std::string earlier = hasEarlierBackup() ? kEarlierBackup : "<missing>";
            const std::string kept = readFile(backup());
            const std::string staged = readFile(staging());
            // Until the new image is in place the earlier backup stays as it was;
            // a kill may leave the image kept aside, which the next patch settles.
            if (isOld && kept != earlier)
                return why = "the earlier backup was touched by a run that changed nothing", false;
            if (isOld && staged != "<missing>" && !(afterKill && staged == old_))
                return why = "a kept-aside image was left by a run that changed nothing", false;
            // Once it is, the old image is the backup, or (a kill, or a failed last
            // rename) still kept aside beside the earlier backup.
            if (isNew && kept != old_ && !(kept == earlier && staged == old_))
                return why = "the old image is neither the backup nor kept aside", false;
            if (settled && isNew && (kept != old_ || staged != "<missing>"))
                return why = "the next run did not put the kept-aside image in the backup's place",
                       false;
        }
        for (const QTemporaryDir *folder : {&dir_, &elsewhere_}) {
            for (const auto &entry : std::filesystem::directory_iterator(pathOf(folder->path()))) {
                const std::string name = entry.path().filename().native();
                const bool expected =
                    name == "game.z64" || name == "fix.aps" || name == "second.aps" ||
                    name == "next.aps" || name == "real.z64" || name == kNotUtf8 ||
                    name == kLossyName || (withBackup() && name == "game.z64.BAK") ||
                    (withBackup() && !settled && name == "game.z64.BAK.tarnic-new") ||
                    (!modified_.empty() && (name == "orig.z64" || name == "mod.z64"));
                // A kill can leave the name the new content takes for the instant
                // before its rename, and a row's folder of intermediate results;
                // the next run on the image removes them.
                const bool leftByAKill =
                    afterKill && name.starts_with(".") &&
                    (name.ends_with(".tarnic-new") || name.find(".tarnic-steps-") != name.npos);
                if (!expected && !leftByAKill)
                    return why = "stray file " + name, false;
            }
        }
        return true;
    }

  private:
    static inline const std::string kEarlierBackup = "the user's clean dump, kept from before";
    static inline const std::string kNextPatch = apsHeader() + copyRecord(0x20, "NEXT");
    static inline const std::string kUnrelated = "an unrelated file, precious to its owner\n";
    static inline const std::string kNotUtf8 = "g\xff.z64";
    static inline const std::string kLossyName = "g\xef\xbf\xbd.z64"; // U+FFFD for the \xff
    mutable ChecksumFixOutcome fixOutcome_ = ChecksumFixOutcome::NotChecked;
    bool withBackup() const {
        return operation_ == Operation::ApplyWithLinkedBackup ||
               operation_ == Operation::ApplyOverEarlierBackup ||
               operation_ == Operation::ApplyWithCopiedBackup || operation_ == Operation::ApplyRow;
    }
    bool hasEarlierBackup() const {
        return operation_ == Operation::ApplyOverEarlierBackup ||
               operation_ == Operation::ApplyWithCopiedBackup;
    }
    QString staging() const { return backup() + ".tarnic-new"; }
    QString image() const { return dir_.filePath("game.z64"); }
    QString realImage() const {
        return operation_ == Operation::ApplyWithCopiedBackup ? elsewhere_.filePath("real.z64")
                                                              : image();
    }
    QString backup() const { return image() + ".BAK"; }

    Operation operation_;
    const QTemporaryDir &dir_;
    const QTemporaryDir &elsewhere_;
    std::string old_, new_, patch_, secondPatch_;
    std::string source_, modified_; // the two images a patch is created from
};

// Checks one case, then the next run: where the image is still the old one,
// a retry without faults, which must succeed; else a run that is declined.
// Either must settle whatever the case left.
void checkCase(ImageCase &c, std::optional<bool> succeeded, bool afterKill,
               const std::string &what) {
    std::string why;
    const bool intact = c.intact(succeeded, afterKill, why);
    record(intact, what + ": " + why);
    if (!intact)
        return;
    if (c.stillOld()) {
        const bool retried = c.run();
        const bool retriedIntact = retried && c.intact(true, false, why, true);
        record(retriedIntact, what + ", then a retry: " + (retried ? why : "failed"));
        return;
    }
    const bool declined = c.runNext();
    const bool settled = declined && c.intact(true, false, why, true);
    record(settled, what + ", then the next run: " + (declined ? why : "not declined"));
}

// The file-size limits at which the new content's writes fail: every piece
// boundary, every 4 KiB across the last 64 KiB, the last byte and none.
std::vector<qint64> sizeLimits(qint64 length) {
    std::vector<qint64> limits;
    for (qint64 boundary = 0; boundary < length; boundary += kCopyChunkSize)
        limits.push_back(boundary);
    for (qint64 step = length - 64 * 1024; step <= length; step += 4096)
        limits.push_back(step);
    limits.push_back(length - 1);
    return limits;
}

// Each flush, rename, link and positioned write of one run in turn fails once,
// fails from then on, writes half its bytes (writes only) or kills the run.
// `check` gets what the run reported, none when it was killed.
template <typename Lay, typename Run, typename Check>
void failEachCall(Lay &&lay, Run &&run, Check &&check) {
    using failing::Call;
    using failing::Fault;
    for (int call = 0; call < int(Call::Count); ++call) {
        lay();
        failing::failNth(Call(call), 0);
        run();
        const int calls = failing::callsSeen(Call(call));
        for (int fault = 0; fault < int(Fault::Count); ++fault) {
            if (Fault(fault) == Fault::ShortWrite && Call(call) != Call::Pwrite)
                continue;
            for (int nth = 1; nth <= calls; ++nth) {
                const std::string what = std::string(failing::kFaultNames[fault]) + " " +
                                         failing::kCallNames[call] + " #" + std::to_string(nth);
                lay();
                if (Fault(fault) == Fault::Kill) {
                    const int code = childprocess::run([&] {
                                         failing::failNth(Call(call), nth, Fault::Kill);
                                         return run() ? 0 : 1;
                                     }).exitCode;
                    check(code < 0 ? std::nullopt : std::optional<bool>(code == 0), what);
                    continue;
                }
                failing::failNth(Call(call), nth, Fault(fault));
                const bool succeeded = run();
                const bool unflushed = failing::failedAFirstFlush();
                failing::failNth(Call::Count, 0);
                // Content whose flush to disk failed may never reach the disk: the
                // operation has failed, whatever the file holds now.
                if (unflushed)
                    record(!succeeded, what + ": a failed flush to disk was reported as success");
                check(succeeded, what);
            }
        }
    }
    failing::failNth(Call::Count, 0);
}

const char *nameOf(Operation operation) {
    static const std::map<Operation, const char *> names = {
        {Operation::ApplyWithoutBackup, "patch, backups off"},
        {Operation::ApplyWithLinkedBackup, "patch, linked backup"},
        {Operation::ApplyOverEarlierBackup, "patch, linked backup over an earlier one"},
        {Operation::ApplyWithCopiedBackup, "patch, copied backup"},
        {Operation::Convert, "conversion"},
        {Operation::FixChecksum, "checksum fix"},
        {Operation::CreatePatch, "patch creation"},
        {Operation::ApplyBps, "BPS patch"},
        {Operation::ApplyXdelta, "xdelta patch"},
        {Operation::ApplyUps, "UPS patch to a v64 image"},
        {Operation::ApplyThroughLink, "patch through a link to a name that is not UTF-8"},
        {Operation::ApplyRow, "two patches in a row, with a backup"},
        {Operation::ApplyIps, "IPS patch"},
        {Operation::ApplyPpf, "PPF patch"},
    };
    return names.at(operation);
}

} // namespace

class FaultMatrix : public ::testing::TestWithParam<Operation> {};

TEST_P(FaultMatrix, EveryFailureLeavesTheOldOrTheNewImageAsReported) {
    QTemporaryDir dir;
    QTemporaryDir elsewhere(QStringLiteral("/dev/shm/tarnic-XXXXXX"));
    if (GetParam() == Operation::ApplyWithCopiedBackup && !elsewhere.isValid())
        GTEST_SKIP() << "no second file system";
    ImageCase c(GetParam(), dir, elsewhere);
    const std::string name = nameOf(GetParam());

    for (const qint64 limit : sizeLimits(c.newLength())) {
        c.lay();
        const int code = childprocess::run([&] { return c.run() ? 0 : 1; }, {limit, {}}).exitCode;
        checkCase(c, code == 0, false, name + ", file-size limit " + std::to_string(limit));
    }

    failEachCall([&] { c.lay(); }, [&] { return c.run(); },
                 [&](std::optional<bool> succeeded, const std::string &what) {
                     checkCase(c, succeeded, !succeeded, name + ", " + what);
                 });

    c.lay();
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(c.run());
    const qint64 took = std::max<qint64>(clock.nsecsElapsed() / 1000, 1000);
    for (int moment = 0; moment < kKillMoments; ++moment) {
        c.lay();
        const auto delay = std::chrono::microseconds(took * moment / (kKillMoments - 1) * 3 / 2);
        const int code = childprocess::run([&] { return c.run() ? 0 : 1; }, {{}, delay}).exitCode;
        checkCase(c, code < 0 ? std::nullopt : std::optional<bool>(code == 0), code < 0,
                  name + ", killed after " + std::to_string(delay.count()) + " us");
    }
}

INSTANTIATE_TEST_SUITE_P(Operations, FaultMatrix,
                         ::testing::Values(Operation::ApplyWithoutBackup, Operation::ApplyBps,
                                           Operation::ApplyXdelta, Operation::ApplyUps,
                                           Operation::ApplyWithLinkedBackup,
                                           Operation::ApplyOverEarlierBackup,
                                           Operation::ApplyWithCopiedBackup, Operation::Convert,
                                           Operation::FixChecksum, Operation::CreatePatch,
                                           Operation::ApplyThroughLink, Operation::ApplyRow,
                                           Operation::ApplyIps, Operation::ApplyPpf));

TEST(FaultMatrixSettings, EveryFailureLeavesTheOldOrTheNewFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath(kSettingsFileName);
    const std::string old("\"/old/patches\"\r\n\"/old/roms\"\r\n0\r\n0\r\n");
    Settings settings;
    settings.PatchDir = QStringLiteral("/home/someone/new patches");
    const std::string written = settingsFileContent(settings).toStdString();
    const auto lay = [&] {
        for (const QString &name : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden))
            QFile::remove(dir.filePath(name));
        writeFile(path, old);
    };
    // `succeeded` is none after a kill: then either content will do.
    const auto check = [&](std::optional<bool> succeeded, const std::string &what) {
        const bool onlyTheFile =
            QDir(dir.path()).entryList(QDir::Files) == QStringList{kSettingsFileName};
        const std::string now = readFile(path);
        const bool asReported =
            succeeded ? now == (*succeeded ? written : old) : now == written || now == old;
        record(asReported && (onlyTheFile || !succeeded), "settings, " + what);
    };
    for (size_t limit = 0; limit <= written.size(); ++limit) {
        lay();
        const int code = childprocess::run(
                             [&] { return writeSettingsFile(path, settings) ? 0 : 1; }, {limit, {}})
                             .exitCode;
        check(code == 0, "file-size limit " + std::to_string(limit));
    }
    failEachCall(
        lay, [&] { return writeSettingsFile(path, settings); },
        [&](std::optional<bool> succeeded, const std::string &what) { check(succeeded, what); });
}

TEST(FaultMatrixConcurrency, TwoWritersTakeTurnsAndAnImageChangedMeanwhileIsNotReplaced) {
    QTemporaryDir dir;
    const QString image = dir.filePath("game.z64");
    const std::string old = cartridgeImage(2 * MiB);
    const std::string first = std::string(old).replace(100, 5, "FIRST");
    const std::string second = std::string(old).replace(5000, 6, "SECOND");
    const std::string both = std::string(first).replace(5000, 6, "SECOND");
    writeFile(dir.filePath("first.aps"), apsHeader() + copyRecord(100, "FIRST"));
    writeFile(dir.filePath("second.aps"), apsHeader() + copyRecord(5000, "SECOND"));
    const auto applyIn = [&](const char *patch) {
        return std::async(std::launch::async, [&, patch] {
            return childprocess::run([&] {
                       PatchJob job;
                       job.patchPath = pathOf(dir.filePath(patch));
                       job.imagePath = pathOf(image);
                       job.backupPath = pathOf(image + ".BAK");
                       return applyApsPatch(job).outcome == ApplyOutcome::Applied ? 0 : 1;
                   })
                .exitCode;
        });
    };
    for (int round = 0; round < 20; ++round) {
        writeFile(image, old);
        QFile::remove(image + ".BAK");
        auto a = applyIn("first.aps");
        auto b = applyIn("second.aps");
        const bool bothApplied = a.get() == 0 && b.get() == 0;
        const std::string kept = readFile(image + ".BAK");
        record(bothApplied && readFile(image) == both && (kept == first || kept == second) &&
                   QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size() == 4,
               "two writers at once, round " + std::to_string(round));
    }

    // Another program appends while the work runs: nothing replaces the image.
    const auto appendMeanwhile = [&] {
        QFile file(image);
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write("APPENDED");
    };
    writeFile(image, old);
    PatchJob job;
    job.patchPath = pathOf(dir.filePath("first.aps"));
    job.imagePath = pathOf(image);
    job.workStarting = appendMeanwhile;
    record(applyApsPatch(job).outcome == ApplyOutcome::ImageChanged &&
               readFile(image) == old + "APPENDED",
           "patch, the image appended to meanwhile");
    writeFile(image, old);
    record(swapByteOrder(pathOf(image), appendMeanwhile).outcome == ConversionOutcome::Changed &&
               readFile(image) == old + "APPENDED",
           "conversion, the image appended to meanwhile");

    // ... or between the patches of a row, once the first one's result is in
    // the row's folder.
    writeFile(image, old);
    failing::afterNthRename(1, appendMeanwhile);
    job.workStarting = {};
    const ApplyOutcome row =
        applyPatchFiles({job.patchPath, pathOf(dir.filePath("second.aps"))}, job).outcome;
    failing::afterNthRename(0, {});
    record(row == ApplyOutcome::ImageChanged && readFile(image) == old + "APPENDED" &&
               QDir(dir.path())
                   .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                   .filter("tarnic")
                   .empty(),
           "row of patches, the image appended to between them");

    // A lock held elsewhere for longer than the patience: refused, nothing written.
    writeFile(image, old);
    const FileLock held(pathOf(image));
    const int refused =
        childprocess::run([&] {
            return int(
                applyApsPatch({pathOf(dir.filePath("first.aps")), pathOf(image), {}, {}, {}, {}})
                    .outcome);
        }).exitCode;
    record(refused == int(ApplyOutcome::ImageBusy) && readFile(image) == old,
           "patch, the image locked by another");
}

TEST(FaultMatrixLeftovers, TheNextRunOfAnyCommandSettlesWhatAKilledOneLeft) {
    QTemporaryDir dir;
    const QString image = dir.filePath("game.z64");
    const QString staging = image + ".BAK.tarnic-new";
    const std::string before = cartridgeImage(4096);
    const std::string patched = std::string(before).replace(100, 7, "PATCHED");
    // Killed once the patched image was in place: the image as it was waits
    // to become the backup, and does, at the next command of any kind.
    writeFile(image, patched);
    writeFile(staging, before);
    writeFile(image + ".BAK", "an earlier backup");
    writeFile(dir.filePath(".game.z64.tarnic-new"), patched);
    QDir(dir.path()).mkdir(".game.z64.tarnic-steps-Ab12Cd");
    writeFile(dir.filePath(".game.z64.tarnic-steps-Ab12Cd/0"), patched);
    ASSERT_EQ(swapByteOrder(pathOf(image)).outcome, ConversionOutcome::Converted);
    record(readFile(image + ".BAK") == before && !QFileInfo::exists(staging) &&
               QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot) ==
                   QStringList({"game.z64", "game.z64.BAK"}),
           "leftovers of a run killed after the image was in place");
    // Killed before: what waits is the image itself, and goes; the backup stays.
    writeFile(staging, readFile(image));
    ASSERT_EQ(fixChecksum(pathOf(image), BootCode::Cic6102).report.outcome,
              ChecksumOutcome::TooShort);
    ASSERT_EQ(swapByteOrder(pathOf(image)).outcome, ConversionOutcome::Converted);
    record(readFile(image + ".BAK") == before && !QFileInfo::exists(staging),
           "an image kept aside by a run killed before it was patched");
    // Not a plain file, or not at a name of ours: left alone.
    QDir(dir.path()).mkdir("game.z64.BAK.tarnic-new");
    writeFile(dir.filePath(".game.z64.tarnic-steps-mine"), "the user's");
    ASSERT_EQ(swapByteOrder(pathOf(image)).outcome, ConversionOutcome::Converted);
    record(QFileInfo(staging).isDir() &&
               readFile(dir.filePath(".game.z64.tarnic-steps-mine")) == "the user's",
           "what is not a leftover of ours");
}

TEST(FaultMatrixFolderFlush, AFolderThatCannotBeFlushedAfterTheRenameIsReported) {
    QTemporaryDir dir;
    const QString image = fileWith(dir, "game.z64", cartridgeImage(4096));
    failing::failNth(failing::Call::Fsync, 1);
    const ConversionResult swapped = swapByteOrder(pathOf(image));
    failing::failNth(failing::Call::Fsync, 1);
    PatchJob job;
    job.patchPath = pathOf(fileWith(dir, "fix.aps", apsHeader() + copyRecord(100, "X")));
    job.imagePath = pathOf(image);
    const ApplyResult patched = applyPatchFile(job);
    failing::failNth(failing::Call::Count, 0);
    record(swapped.outcome == ConversionOutcome::Converted &&
               swapped.folderFlushError.find("Input/output error") != std::string::npos &&
               patched.outcome == ApplyOutcome::Applied &&
               patched.folderFlushError.find("Input/output error") != std::string::npos,
           "a folder not flushed after the rename, reported");
}

namespace {
// Prints the count once every case has run.
class Report final : public ::testing::Environment {
    void TearDown() override {
        std::printf("fault matrix: %d cases, %d lost\n", casesTried, casesLost);
    }
};
[[maybe_unused]] const auto *const report = ::testing::AddGlobalTestEnvironment(new Report);
} // namespace
