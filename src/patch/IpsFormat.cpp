#include "patch/IpsFormat.h"

#include "files/SafeWrite.h"

#include <QtEndian>

#include <cstring>

namespace tarnic {

IpsRecordReader::Step IpsRecordReader::next(PatchRecord &record) {
    const qint64 offsetSize = ips32_ ? 4 : 3;
    unsigned char head[5];
    qint64 got = readFully(stream_, reinterpret_cast<char *>(head), offsetSize);
    if (got < 0)
        return Step::ReadFailed;
    if (got < offsetSize)
        return Step::Truncated; // no end mark
    if (std::memcmp(head, ips32_ ? "EEOF" : "EOF", size_t(offsetSize)) == 0) {
        // Nothing may follow, or (IPS) the length of the result.
        unsigned char tail[4];
        got = readFully(stream_, reinterpret_cast<char *>(tail), 4);
        if (got < 0)
            return Step::ReadFailed;
        if (got == 0)
            return Step::End;
        if (!ips32_ && got == 3) {
            truncation_ = qint64(tail[0]) << 16 | qint64(tail[1]) << 8 | tail[2];
            return Step::End;
        }
        return Step::Truncated;
    }
    record.Offset = ips32_ ? qint64(qFromBigEndian<quint32>(head))
                           : qint64(head[0]) << 16 | qint64(head[1]) << 8 | head[2];
    unsigned char size[2];
    if (readFully(stream_, reinterpret_cast<char *>(size), 2) != 2)
        return Step::Truncated;
    record.Length = qFromBigEndian<quint16>(size);
    record.Data = nullptr;
    if (record.Length != 0) {
        if (readFully(stream_, data_.data(), record.Length) != record.Length)
            return Step::Truncated;
        record.Data = data_.data();
        return Step::Record;
    }
    unsigned char run[3];
    if (readFully(stream_, reinterpret_cast<char *>(run), 3) != 3)
        return Step::Truncated;
    record.RunCount = qFromBigEndian<quint16>(run);
    record.RunValue = run[2];
    return record.RunCount == 0 ? Step::Truncated : Step::Record;
}

} // namespace tarnic
