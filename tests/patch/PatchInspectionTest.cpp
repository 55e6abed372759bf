#include "patch/PatchInspection.h"

#include "TestFiles.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tarnic;
using namespace testfiles;

namespace {

class PatchInspectionTest : public ::testing::Test {
protected:
    PatchInspection inspect(const QByteArray &bytes)
    {
        const QString path = dir.filePath(QStringLiteral("p.aps"));
        writeFile(path, bytes);
        return inspectPatch(path);
    }
    QTemporaryDir dir;
};

} // namespace

TEST_F(PatchInspectionTest, ShowsEveryFieldWithItsPaddedTableText)
{
    ApsFields fields;
    fields.crc1 = QByteArray::fromHex("000AFF10");
    fields.crc2 = QByteArray::fromHex("9C3D5E01");
    const PatchInspection r = inspect(apsHeader(fields) + copyRecord(0, "x"));
    ASSERT_EQ(r.outcome, InspectionOutcome::Shown);
    EXPECT_EQ(*r.display.PatchTypeTxT, QStringLiteral("N64 Specific Patch            "));
    EXPECT_EQ(*r.display.EncodeMethodTxt, QStringLiteral("Simple Encoding               "));
    EXPECT_EQ(*r.display.PatchNfo, QString::fromLatin1(fields.description));
    EXPECT_EQ(*r.display.BackupType, QStringLiteral("CD64/Z64/Wc/SP      "));
    EXPECT_EQ(*r.display.CartID, QStringLiteral("AB"));
    EXPECT_EQ(*r.display.CountryID, QStringLiteral("45h  _USA           "));
    EXPECT_EQ(*r.display.PTCRC, QStringLiteral("000AFF10 : 9C3D5E01"));
}

TEST_F(PatchInspectionTest, OddFieldValuesAreShownAsTheyStand)
{
    ApsFields fields;
    fields.type = 7;
    fields.description = QByteArray(50, ' ');
    fields.country = 'X';
    fields.target = 0;
    PatchInspection r = inspect(apsHeader(fields));
    ASSERT_EQ(r.outcome, InspectionOutcome::Shown); // the match check still runs
    EXPECT_EQ(*r.display.PatchTypeTxT, QString());
    EXPECT_EQ(*r.display.PatchNfo, QString(50, u' '));
    EXPECT_EQ(*r.display.CountryID, QStringLiteral("0x   _Unknown       "));
    EXPECT_EQ(*r.display.BackupType, QStringLiteral("Doctor v64          "));

    fields.description = QByteArray("\xE9t\xE9\0zero", 8).leftJustified(50, '.');
    r = inspect(apsHeader(fields));
    EXPECT_EQ(r.display.PatchNfo->toLatin1(), fields.description); // every byte survives
}

TEST_F(PatchInspectionTest, FailuresLeaveTheFieldsTheyDidNotReach)
{
    // Not an APS file, letter case included: only the four blanks, nothing else.
    for (const QByteArray &bytes : {QByteArray("aps10") + apsHeader().mid(5), QByteArray("APS"),
                                    QByteArray()}) {
        const PatchInspection r = inspect(bytes);
        EXPECT_EQ(r.outcome, InspectionOutcome::NotAnApsFile);
        EXPECT_EQ(*r.display.PatchTypeTxT, QString());
        EXPECT_EQ(*r.display.BackupType, QString());
        EXPECT_FALSE(r.display.CartID || r.display.CountryID || r.display.PTCRC);
    }

    ApsFields fields;
    fields.encoding = 1;
    PatchInspection r = inspect(apsHeader(fields));
    EXPECT_EQ(r.outcome, InspectionOutcome::UnsupportedEncoding);
    EXPECT_EQ(*r.display.PatchTypeTxT, PatchTypeNames[1]);
    EXPECT_EQ(*r.display.EncodeMethodTxt, QString()); // "Unsoported Encoding" is never shown

    fields = ApsFields();
    fields.target = 2;
    r = inspect(apsHeader(fields));
    EXPECT_EQ(r.outcome, InspectionOutcome::ReadFailed);
    EXPECT_EQ(*r.display.PatchNfo, QString::fromLatin1(fields.description));
    EXPECT_EQ(*r.display.BackupType, QString());
    EXPECT_FALSE(r.display.CartID || r.display.CountryID || r.display.PTCRC);

    const PatchInspection missing = inspectPatch(dir.filePath(QStringLiteral("gone.aps")));
    EXPECT_EQ(missing.outcome, InspectionOutcome::CannotOpen);
    EXPECT_FALSE(missing.display.PatchTypeTxT || missing.display.PatchNfo);
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("gone.aps"))));
}

TEST_F(PatchInspectionTest, AFileEndingInsideTheHeaderStopsAtTheFirstShortField)
{
    const QByteArray full = apsHeader();
    struct Cut {
        qsizetype size;
        bool descriptionShown, cartIdShown, countryShown;
    };
    for (const Cut cut : {Cut{6, false, false, false}, Cut{30, false, false, false},
                          Cut{58, true, false, false}, Cut{60, true, true, false},
                          Cut{64, true, true, true}, Cut{68, true, true, true}}) {
        const PatchInspection r = inspect(full.left(cut.size));
        EXPECT_EQ(r.outcome, InspectionOutcome::ReadFailed) << cut.size;
        EXPECT_EQ(r.display.PatchNfo->isEmpty(), !cut.descriptionShown) << cut.size;
        EXPECT_EQ(r.display.CartID.has_value(), cut.cartIdShown) << cut.size;
        EXPECT_EQ(r.display.CountryID.has_value(), cut.countryShown) << cut.size;
    }
    // Bytes 69 onward are never needed.
    EXPECT_EQ(inspect(full.left(69)).outcome, InspectionOutcome::Shown);
}
