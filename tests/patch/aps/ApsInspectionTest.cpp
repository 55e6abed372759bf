#include "patch/aps/ApsInspection.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

using namespace tarnic;
using namespace testfiles;

namespace {
TempDir dir;
ApsInspection inspect(const std::string &bytes) {
    return inspectApsPatch(fileWith(dir, std::string("p.aps"), bytes));
}
} // namespace

TEST(ApsInspection, ShowsEveryFieldWithItsPaddedTableText) {
    ApsFields fields;
    fields.crc1 = fromHex("000AFF10");
    fields.crc2 = fromHex("9C3D5E01");
    ApsInspection r = inspect(apsHeader(fields) + copyRecord(0, "x"));
    ASSERT_EQ(r.outcome, InspectionOutcome::Shown);
    EXPECT_EQ(*r.display.PatchTypeTxT, std::string("N64 Specific Patch            "));
    EXPECT_EQ(*r.display.EncodeMethodTxt, std::string("Simple Encoding               "));
    EXPECT_EQ(*r.display.PatchNfo, latin1ToUtf8(fields.description));
    EXPECT_EQ(*r.display.BackupType, std::string("CD64/Z64/Wc/SP      "));
    EXPECT_EQ(*r.display.CartID, std::string("AB"));
    EXPECT_EQ(*r.display.CountryID, std::string("45h  _USA           "));
    EXPECT_EQ(*r.display.PTCRC, std::string("000AFF10 : 9C3D5E01"));

    // A simple patch has no N64 block: its four target fields show empty.
    r = inspect(simpleApsHeader("Made elsewhere", 4096) + copyRecord(0, "x"));
    ASSERT_EQ(r.outcome, InspectionOutcome::Shown);
    EXPECT_EQ(*r.display.PatchTypeTxT, std::string("Simple Patch                  "));
    EXPECT_EQ(*r.display.PatchNfo, padded(latin1ToUtf8("Made elsewhere"), 50));
    for (const auto &field :
         {r.display.BackupType, r.display.CartID, r.display.CountryID, r.display.PTCRC})
        EXPECT_EQ(field, std::string());
    EXPECT_EQ(inspect(left(simpleApsHeader("", 0), 60)).outcome, InspectionOutcome::ReadFailed);

    // Odd values are shown as they stand, and the match check still runs.
    fields.type = 7;
    fields.description = padded(std::string("\xE9t\xE9\0zero", 8), 50);
    fields.country = 'X';
    r = inspect(apsHeader(fields));
    ASSERT_EQ(r.outcome, InspectionOutcome::Shown);
    EXPECT_EQ(*r.display.PatchTypeTxT, std::string());
    EXPECT_EQ(utf8ToLatin1(*r.display.PatchNfo),
              fields.description); // every byte survives
    EXPECT_EQ(*r.display.CountryID, std::string("0x   _Unknown       "));
}

TEST(ApsInspection, FailuresLeaveTheFieldsTheyDidNotReach) {
    // Not an APS file, letter case included: only the four blanks, nothing else.
    for (const std::string &bytes :
         {std::string("aps10") + mid(apsHeader(), 5), std::string("APS"), std::string()}) {
        const ApsInspection r = inspect(bytes);
        EXPECT_EQ(r.outcome, InspectionOutcome::NotAnApsFile);
        EXPECT_EQ(*r.display.PatchTypeTxT, std::string());
        EXPECT_EQ(*r.display.BackupType, std::string());
        EXPECT_FALSE(r.display.CartID || r.display.CountryID || r.display.PTCRC);
    }

    ApsFields fields;
    fields.encoding = 1;
    const ApsInspection r = inspect(apsHeader(fields));
    EXPECT_EQ(r.outcome, InspectionOutcome::UnsupportedEncoding);
    EXPECT_EQ(*r.display.EncodeMethodTxt, std::string()); // "Unsoported Encoding" is never shown

    const ApsInspection missing = inspectApsPatch(dir.filePath(std::string("gone.aps")));
    EXPECT_EQ(missing.outcome, InspectionOutcome::CannotOpen);
    EXPECT_FALSE(missing.display.PatchTypeTxT || missing.display.PatchNfo);
}

TEST(ApsInspection, AFileEndingInsideTheHeaderStopsAtTheFirstShortField) {
    const std::string full = apsHeader();
    // Cut inside the description, the cartridge ID and the second CRC.
    for (const std::ptrdiff_t cut : {30, 59, 68}) {
        const ApsInspection r = inspect(left(full, cut));
        EXPECT_EQ(r.outcome, InspectionOutcome::ReadFailed) << cut;
        EXPECT_EQ(r.display.PatchNfo->empty(), cut < 57) << cut;
        EXPECT_EQ(r.display.CountryID.has_value(), cut > 60) << cut;
    }
    // Bytes 69 onward are never needed.
    EXPECT_EQ(inspect(left(full, 69)).outcome, InspectionOutcome::Shown);
}
