#include "patch/ApsFormat.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

using namespace tarnic;
using namespace testfiles;
using Step = PatchRecordReader::Step;

namespace {
std::vector<Step> readAll(const QByteArray &stream, std::vector<PatchRecord> *records = nullptr)
{
    PatchRecordReader reader(stream);
    std::vector<Step> steps;
    PatchRecord record;
    for (;;) {
        const Step step = reader.next(record);
        steps.push_back(step);
        if (step != Step::Record)
            return steps;
        if (records)
            records->push_back(record);
    }
}
} // namespace

TEST(ApsRecordStream, ReadsCopyAndRunRecordsBackToBack)
{
    const QByteArray full255(255, 'x');
    std::vector<PatchRecord> records;
    const auto steps = readAll(copyRecord(0x123456, "abc") + runRecord(-2, 0xEE, 0) +
                                   copyRecord(7, full255) + runRecord(0x7FFFFFFF, 1, 255),
                               &records);
    ASSERT_EQ(steps.size(), 5u);
    EXPECT_EQ(steps.back(), Step::End);
    EXPECT_EQ(records[0].Offset, 0x123456);
    EXPECT_EQ(QByteArray(records[0].Data, records[0].Length), "abc");
    EXPECT_EQ(records[1].Offset, -2); // little-endian, signed
    EXPECT_EQ(records[1].Length, 0);
    EXPECT_EQ(records[1].RunValue, 0xEE);
    EXPECT_EQ(records[1].writtenSize(), 0);
    EXPECT_EQ(QByteArray(records[2].Data, 255), full255); // the next starts 260 bytes on
    EXPECT_EQ(records[3].Offset, 0x7FFFFFFF);
    EXPECT_EQ(records[3].writtenSize(), 255);
    EXPECT_EQ(readAll(QByteArray()), std::vector<Step>{Step::End});
}

TEST(ApsRecordStream, ARecordCutShortIsReportedNotZeroFilled)
{
    const QByteArray stream = copyRecord(10, "hello") + runRecord(20, 1, 3);
    // Every cut inside the second record, and inside the first one's data.
    for (qsizetype cut : {qsizetype(1), qsizetype(4), qsizetype(6), qsizetype(9), qsizetype(11),
                          qsizetype(14), qsizetype(16)}) {
        const auto steps = readAll(stream.left(cut));
        EXPECT_EQ(steps.back(), Step::Truncated) << "cut at " << cut;
    }
}
