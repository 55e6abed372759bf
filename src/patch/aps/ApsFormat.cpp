#include "patch/aps/ApsFormat.h"

#include "files/SafeWrite.h"

#include "io/Endian.h"

namespace tarnic {

const std::array<std::string, 2> PatchTypeNames = {
    padRight(std::string("Simple Patch"), kPatchNameWidth),
    padRight(std::string("N64 Specific Patch"), kPatchNameWidth),
};

const std::array<std::string, 2> EncodingNames = {
    padRight(std::string("Simple Encoding"), kPatchNameWidth),
    padRight(std::string("Unsoported Encoding"), kPatchNameWidth),
};

std::string bytesToText(const char *data, std::ptrdiff_t size) {
    return latin1ToUtf8(std::string_view(data, size_t(size)));
}

ApsRecordReader::Step ApsRecordReader::next(PatchRecord &record) {
    const auto readExactly = [this](char *into, std::int64_t size) {
        const std::int64_t got = stream_.read(into, size);
        return got < 0 ? Step::ReadFailed : got < size ? Step::Truncated : Step::Record;
    };
    char head[5];
    const std::int64_t got = stream_.read(head, sizeof head);
    if (got == 0)
        return Step::End;
    if (got < 0)
        return Step::ReadFailed;
    if (got < std::int64_t(sizeof head))
        return Step::Truncated;

    record.Offset = fromLittleEndian<std::int32_t>(head);
    record.Length = std::uint8_t(head[4]);
    if (record.Length != 0) {
        record.Data = data_.data();
        return readExactly(data_.data(), record.Length);
    }
    record.Data = nullptr;
    char run[2];
    const Step step = readExactly(run, sizeof run);
    record.RunValue = std::uint8_t(run[0]);
    record.RunCount = std::uint8_t(run[1]);
    return step;
}

} // namespace tarnic
