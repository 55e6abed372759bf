#include "rom/NameTables.h"
#include "patch/ApsFormat.h"

#include <gtest/gtest.h>

using namespace tarnic;

TEST(NameTables, EveryEntryHasItsFixedWidthAndExactSpacing) {
    for (const QString &name : ImageFormatNames)
        EXPECT_EQ(name.size(), 20) << name.toStdString();
    for (const QString &name : CountryNames)
        EXPECT_EQ(name.size(), 20) << name.toStdString();
    for (const auto *table : {&PatchTypeNames, &EncodingNames})
        for (const QString &name : *table)
            EXPECT_EQ(name.size(), 30) << name.toStdString();

    EXPECT_EQ(CountryNames[5], QStringLiteral("0x   _Unknown       "));
    EXPECT_EQ(PatchTypeNames[0], QStringLiteral("Simple Patch") + QString(18, u' '));
}

TEST(NameTables, CountryLookupKnowsFiveUppercaseCodes) {
    const std::pair<std::uint8_t, int> cases[] = {{0x44, 0}, {0x45, 1}, {0x4A, 2}, {0x50, 3},
                                                  {0x55, 4}, {0x00, 5}, {0x46, 5}, {0x64, 5},
                                                  {0x65, 5}, {0xFF, 5}};
    for (const auto &[code, index] : cases)
        EXPECT_EQ(countryIndex(code), index) << int(code);
}

TEST(NameTables, CrcTextKeepsLeadingZerosAndIsAlways19Characters) {
    EXPECT_EQ(crcText({0x0A, 0xB1, 0x00, 0x7F}, {0xFF, 0x10, 0x02, 0x33}),
              QStringLiteral("0AB1007F : FF100233"));
    EXPECT_EQ(crcText({0, 1, 2, 3}, {4, 5, 6, 0xFF}), QStringLiteral("00010203 : 040506FF"));
}
