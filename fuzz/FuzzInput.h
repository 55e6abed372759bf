#pragma once
// Hands a fuzzer's input to the program the way it meets files: as a file.

#include <QFile>
#include <QTemporaryDir>

#include "files/Crc32.h"
#include "files/PathText.h"
#include "patch/PatchApplication.h"
#include "patch/varint/Varint.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>

namespace fuzzing {

// A folder for the run, on a memory file system where there is one.
inline const QTemporaryDir &folder() {
    static const QTemporaryDir dir(QFile::exists(QStringLiteral("/dev/shm"))
                                       ? QStringLiteral("/dev/shm/tarnic-fuzz-XXXXXX")
                                       : QString());
    return dir;
}

inline std::filesystem::path fileWith(const char *name, const std::uint8_t *data,
                                      std::size_t size) {
    const QString path = folder().filePath(QLatin1String(name));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        __builtin_trap();
    return tarnic::pathOf(path);
}

inline QByteArray contentOf(const std::filesystem::path &path) {
    QFile file(tarnic::nameText(path));
    if (!file.open(QIODevice::ReadOnly))
        __builtin_trap();
    return file.readAll();
}

// A patch whose source, result and body the fuzzer chose, with the sizes,
// the CRC-32s of `source` and `result` (0 when there is none) and its own
// CRC-32 made right: `magic`, the two sizes, `extra` (BPS: the metadata size),
// the body, the footer.
inline QByteArray namedSourcePatch(const char *magic, const QByteArray &source, qint64 resultSize,
                                   const QByteArray &extra, const QByteArray &body,
                                   const std::optional<QByteArray> &result) {
    const auto le32 = [](std::uint32_t value) {
        QByteArray bytes(4, '\0');
        for (int i = 0; i < 4; ++i)
            bytes[i] = char(value >> (8 * i));
        return bytes;
    };
    QByteArray patch(magic);
    tarnic::appendVarint(patch, quint64(source.size()));
    tarnic::appendVarint(patch, quint64(resultSize));
    patch += extra + body + le32(tarnic::crc32(0, source.constData(), size_t(source.size())));
    patch += le32(result ? tarnic::crc32(0, result->constData(), size_t(result->size())) : 0);
    return patch + le32(tarnic::crc32(0, patch.constData(), size_t(patch.size())));
}

// The source the BPS and UPS targets start from, in cartridge order.
inline QByteArray seedImage(int step) {
    QByteArray image(1024, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i * step + 3);
    // (the first four bytes mark cartridge order)
    return image.replace(0, 4, QByteArray::fromHex("80371240"));
}

// Applies `patch` to `image` with `apply`, the result written to another file,
// and traps unless the program did what the reference says: applied, giving
// `expected` (in the image's order), or refused, writing nothing; the image is
// left as it was either way.
template <typename Apply>
void checkApplication(const QByteArray &patch, const QByteArray &image,
                      const std::optional<QByteArray> &expected, Apply &&apply) {
    tarnic::PatchJob job;
    job.patchPath = fileWith("patch", reinterpret_cast<const std::uint8_t *>(patch.constData()),
                             size_t(patch.size()));
    job.imagePath = fileWith("image.rom", reinterpret_cast<const std::uint8_t *>(image.constData()),
                             size_t(image.size()));
    job.outputPath = tarnic::pathOf(folder().filePath(QStringLiteral("out.rom")));
    std::filesystem::remove(job.outputPath);
    const tarnic::ApplyResult result = apply(job);
    if ((result.outcome == tarnic::ApplyOutcome::Applied) != expected.has_value())
        __builtin_trap();
    if (expected ? contentOf(job.outputPath) != *expected : std::filesystem::exists(job.outputPath))
        __builtin_trap();
    if (contentOf(job.imagePath) != image)
        __builtin_trap();
}

} // namespace fuzzing
