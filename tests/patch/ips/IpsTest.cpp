#include "patch/PatchApplication.h"
#include "patch/PatchFormat.h"

#include "TestFiles.h"
#include "files/Backup.h"

#include <gtest/gtest.h>

using namespace tarnic;
using namespace testfiles;

namespace {

std::string bigEndian(std::uint64_t value, int size) {
    std::string bytes;
    for (int i = size - 1; i >= 0; --i)
        bytes += char(value >> (8 * i));
    return bytes;
}
std::string record(std::uint32_t offset, const std::string &data, int offsetSize = 3) {
    return bigEndian(offset, offsetSize) + bigEndian(std::uint64_t(data.size()), 2) + data;
}
std::string run(std::uint32_t offset, std::uint16_t count, char value, int offsetSize = 3) {
    return bigEndian(offset, offsetSize) + bigEndian(0, 2) + bigEndian(count, 2) + value;
}

class IpsTest : public ::testing::Test {
  protected:
    ApplyResult apply(const std::string &patch) {
        writeFile(job.patchPath, patch);
        writeFile(job.imagePath, image);
        return applyPatchFile(job); // told by its content, whatever its name
    }

    TempDir dir;
    std::string image = std::string("0123456789ABCDEF");
    PatchJob job{dir.filePath("hack.aps"), dir.filePath("game.rom"), {}, {}, {}, {}, false};
};

} // namespace

TEST_F(IpsTest, RecordsRunsAndTheResultsLengthAsTheAuthorsDefineThem) {
    const struct {
        const char *what;
        std::string patch;
        std::string result;
    } cases[] = {
        {"nothing", "PATCHEOF", image},
        {"a record, a run, a later record over an earlier one, unsorted",
         "PATCH" + record(8, "xyz") + run(1, 3, '-') + record(2, "!") + "EOF", "0-!-4567xyzBCDEF"},
        {"past the end, the gap zeros", "PATCH" + record(18, "END") + "EOF",
         image + std::string(2, '\0') + "END"},
        {"cut to a shorter length", "PATCH" + record(0, "Z") + "EOF" + bigEndian(4, 3), "Z123"},
        {"grown to a longer length", "PATCHEOF" + bigEndian(18, 3), image + std::string(2, '\0')},
        {"grown by pieces no record reaches", "PATCHEOF" + bigEndian(0x300000, 3),
         image + std::string(0x300000 - image.size(), '\0')},
        {"a record past a shorter length is cut",
         "PATCH" + record(2, "abcdef") + "EOF" + bigEndian(4, 3), "01ab"},
        {"IPS32, 4-byte offsets", "IPS32" + record(3, "#", 4) + run(0x10, 2, 'r', 4) + "EEOF",
         "012#456789ABCDEFrr"},
    };
    for (const auto &c : cases) {
        const ApplyResult r = apply(c.patch);
        EXPECT_EQ(r.outcome, ApplyOutcome::Applied) << c.what;
        EXPECT_EQ(readFile(job.imagePath), c.result) << c.what;
    }
    // `info` names each as what it is.
    const PatchSummary ips32 = inspectPatchFile(job.patchPath, ReadDepth::Whole);
    EXPECT_EQ(ips32.heading, "IPS32 patch");
    EXPECT_EQ(ips32.kind, "ips32-patch");
}

TEST_F(IpsTest, APatchThatBreaksItsRulesIsRefusedWhole) {
    const std::pair<const char *, std::string> refused[] = {
        {"no end mark", "PATCH" + record(0, "A")},
        {"a record cut short", "PATCH" + chopped(record(0, "ABCD"), 2)},
        {"a run of none", "PATCH" + record(0, "A") + run(4, 0, 'x') + "EOF"},
        {"one byte after the end", "PATCH" + record(0, "A") + "EOF" + "x"},
        {"four bytes after the end", "PATCH" + record(0, "A") + "EOFxxxx"},
        {"a record at 0x454F46, as a careless writer makes it",
         "PATCH" + record(0x454F46, "A") + "EOF"},
        {"IPS32 with an IPS end mark", "IPS32" + record(0, "A", 4) + "EOF"},
        {"IPS32 writing past 2 GiB", "IPS32" + record(0x7FFFFFFF, "AB", 4) + "EEOF"},
    };
    for (const auto &[what, patch] : refused) {
        job.backupPath = tarnic::backupNameOf(job.imagePath);
        EXPECT_EQ(apply(patch).outcome, ApplyOutcome::PatchBreaksItsRules) << what;
        EXPECT_EQ(readFile(job.imagePath), image) << what;
        EXPECT_EQ(fileNames(dir.path()).size(), 2) << what;
    }
}
