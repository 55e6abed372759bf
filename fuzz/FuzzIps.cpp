// IPS and IPS32 application against a plain in-memory reference: the fuzzer's
// bytes are the patch (after "PATCH" or "IPS32", chosen by the first byte).
// The program applies exactly what the reference applies and refuses, writing
// nothing, what the reference refuses. Nothing is written past 2^31 - 1.
#include "FuzzInput.h"
#include "patch/PatchApplication.h"
#include "patch/ips/IpsFormat.h"

#include <optional>

namespace {

struct TooLarge {};

std::optional<QByteArray> reference(QByteArray image, const QByteArray &body, bool ips32) {
    const int offsetSize = ips32 ? 4 : 3;
    const auto number = [&](qsizetype at, int size) {
        quint64 value = 0;
        for (int i = 0; i < size; ++i)
            value = value << 8 | quint8(body[at + i]);
        return value;
    };
    qsizetype at = 0;
    for (;;) {
        if (body.size() - at < offsetSize)
            return std::nullopt;
        if (body.mid(at, offsetSize) == (ips32 ? "EEOF" : "EOF")) {
            const qsizetype rest = body.size() - at - offsetSize;
            if (rest == 0)
                return image;
            if (ips32 || rest != 3)
                return std::nullopt;
            image.resize(qsizetype(number(at + offsetSize, 3)), '\0');
            return image;
        }
        const qint64 offset = qint64(number(at, offsetSize));
        at += offsetSize;
        if (body.size() - at < 2)
            return std::nullopt;
        const qint64 size = qint64(number(at, 2));
        at += 2;
        QByteArray data;
        if (size > 0) {
            if (body.size() - at < size)
                return std::nullopt;
            data = body.mid(at, size);
            at += size;
        } else {
            if (body.size() - at < 3)
                return std::nullopt;
            const qint64 count = qint64(number(at, 2));
            if (count == 0)
                return std::nullopt;
            data = QByteArray(count, body[at + 2]);
            at += 3;
        }
        if (offset + data.size() > (qint64(1) << 31))
            return std::nullopt; // past what any record may write
        if (offset + data.size() > (qint64(1) << 26))
            throw TooLarge{}; // beyond what this harness keeps in memory
        if (offset + data.size() > image.size())
            image.resize(offset + data.size(), '\0');
        image.replace(offset, data.size(), data);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace tarnic;
    if (size < 1)
        return 0;
    const bool ips32 = data[0] & 1;
    const QByteArray body(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const QByteArray image("A small image of some bytes.");
    std::optional<QByteArray> expected;
    try {
        expected = reference(image, body, ips32);
    } catch (const TooLarge &) {
        return 0;
    }
    const QByteArray patch = (ips32 ? QByteArray("IPS32") : QByteArray("PATCH")) + body;
    fuzzing::checkApplication(patch, image, expected,
                              [](const PatchJob &job) { return applyIps(job); });
    return 0;
}
