#pragma once
// Hands a fuzzer's input to the program the way it meets files: as a file.

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace fuzzing {

// A folder for the run, on a memory file system where there is one.
inline const QTemporaryDir &folder() {
    static const QTemporaryDir dir(QFile::exists(QStringLiteral("/dev/shm"))
                                       ? QStringLiteral("/dev/shm/tarnic-fuzz-XXXXXX")
                                       : QString());
    return dir;
}

inline QString fileWith(const char *name, const std::uint8_t *data, std::size_t size) {
    const QString path = folder().filePath(QLatin1String(name));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        __builtin_trap();
    return path;
}

inline QByteArray contentOf(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        __builtin_trap();
    return file.readAll();
}

} // namespace fuzzing
