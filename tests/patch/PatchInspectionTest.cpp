#include "patch/aps/ApsInspection.h"

#include "TestFiles.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tarnic;
using namespace testfiles;

namespace {
QTemporaryDir dir;
ApsInspection inspect(const QByteArray &bytes) {
    return inspectApsPatch(pathOf(fileWith(dir, QStringLiteral("p.aps"), bytes)));
}
} // namespace

TEST(ApsInspection, ShowsEveryFieldWithItsPaddedTableText) {
    ApsFields fields;
    fields.crc1 = QByteArray::fromHex("000AFF10");
    fields.crc2 = QByteArray::fromHex("9C3D5E01");
    ApsInspection r = inspect(apsHeader(fields) + copyRecord(0, "x"));
    ASSERT_EQ(r.outcome, InspectionOutcome::Shown);
    EXPECT_EQ(*r.display.PatchTypeTxT, QStringLiteral("N64 Specific Patch            "));
    EXPECT_EQ(*r.display.EncodeMethodTxt, QStringLiteral("Simple Encoding               "));
    EXPECT_EQ(*r.display.PatchNfo, QString::fromLatin1(fields.description));
    EXPECT_EQ(*r.display.BackupType, QStringLiteral("CD64/Z64/Wc/SP      "));
    EXPECT_EQ(*r.display.CartID, QStringLiteral("AB"));
    EXPECT_EQ(*r.display.CountryID, QStringLiteral("45h  _USA           "));
    EXPECT_EQ(*r.display.PTCRC, QStringLiteral("000AFF10 : 9C3D5E01"));

    // A simple patch has no N64 block: its four target fields show empty.
    r = inspect(simpleApsHeader("Made elsewhere", 4096) + copyRecord(0, "x"));
    ASSERT_EQ(r.outcome, InspectionOutcome::Shown);
    EXPECT_EQ(*r.display.PatchTypeTxT, QStringLiteral("Simple Patch                  "));
    EXPECT_EQ(*r.display.PatchNfo, QString::fromLatin1("Made elsewhere").leftJustified(50));
    for (const auto &field :
         {r.display.BackupType, r.display.CartID, r.display.CountryID, r.display.PTCRC})
        EXPECT_EQ(field, QString());
    EXPECT_EQ(inspect(simpleApsHeader("", 0).left(60)).outcome, InspectionOutcome::ReadFailed);

    // Odd values are shown as they stand, and the match check still runs.
    fields.type = 7;
    fields.description = QByteArray("\xE9t\xE9\0zero", 8).leftJustified(50, ' ');
    fields.country = 'X';
    r = inspect(apsHeader(fields));
    ASSERT_EQ(r.outcome, InspectionOutcome::Shown);
    EXPECT_EQ(*r.display.PatchTypeTxT, QString());
    EXPECT_EQ(r.display.PatchNfo->toLatin1(), fields.description); // every byte survives
    EXPECT_EQ(*r.display.CountryID, QStringLiteral("0x   _Unknown       "));
}

TEST(ApsInspection, FailuresLeaveTheFieldsTheyDidNotReach) {
    // Not an APS file, letter case included: only the four blanks, nothing else.
    for (const QByteArray &bytes :
         {QByteArray("aps10") + apsHeader().mid(5), QByteArray("APS"), QByteArray()}) {
        const ApsInspection r = inspect(bytes);
        EXPECT_EQ(r.outcome, InspectionOutcome::NotAnApsFile);
        EXPECT_EQ(*r.display.PatchTypeTxT, QString());
        EXPECT_EQ(*r.display.BackupType, QString());
        EXPECT_FALSE(r.display.CartID || r.display.CountryID || r.display.PTCRC);
    }

    ApsFields fields;
    fields.encoding = 1;
    const ApsInspection r = inspect(apsHeader(fields));
    EXPECT_EQ(r.outcome, InspectionOutcome::UnsupportedEncoding);
    EXPECT_EQ(*r.display.EncodeMethodTxt, QString()); // "Unsoported Encoding" is never shown

    const ApsInspection missing = inspectApsPatch(pathOf(dir.filePath(QStringLiteral("gone.aps"))));
    EXPECT_EQ(missing.outcome, InspectionOutcome::CannotOpen);
    EXPECT_FALSE(missing.display.PatchTypeTxT || missing.display.PatchNfo);
}

TEST(ApsInspection, AFileEndingInsideTheHeaderStopsAtTheFirstShortField) {
    const QByteArray full = apsHeader();
    // Cut inside the description, the cartridge ID and the second CRC.
    for (const qsizetype cut : {30, 59, 68}) {
        const ApsInspection r = inspect(full.left(cut));
        EXPECT_EQ(r.outcome, InspectionOutcome::ReadFailed) << cut;
        EXPECT_EQ(r.display.PatchNfo->isEmpty(), cut < 57) << cut;
        EXPECT_EQ(r.display.CountryID.has_value(), cut > 60) << cut;
    }
    // Bytes 69 onward are never needed.
    EXPECT_EQ(inspect(full.left(69)).outcome, InspectionOutcome::Shown);
}
