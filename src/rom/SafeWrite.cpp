#include "rom/SafeWrite.h"

#include <QFile>
#include <QFileInfo>

#include <vector>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace tarnic {

bool isMarkedReadOnly(const QString &path)
{
    return !(QFileInfo(path).permissions() & QFileDevice::WriteOwner);
}

bool isWritableFile(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile() || isMarkedReadOnly(path))
        return false;
    QFile file(path);
    return file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly);
}

qint64 readFully(QIODevice &from, char *into, qint64 size)
{
    qint64 got = 0;
    while (got < size) {
        const qint64 n = from.read(into + got, size - got);
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += n;
    }
    return got;
}

bool copyStream(QIODevice &from, QIODevice &to, const ChunkTransform &transform)
{
    std::vector<char> buffer(kCopyChunkSize);
    for (;;) {
        // Whole pieces unless the file ends, so that every piece but the last
        // has the same (even) size whatever the device hands back at once.
        const qint64 got = readFully(from, buffer.data(), kCopyChunkSize);
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        if (transform)
            transform(buffer.data(), got);
        if (to.write(buffer.data(), got) != got)
            return false;
    }
}

bool resetAttributesToNormal(const QString &path)
{
#ifdef Q_OS_WIN
    return SetFileAttributesW(reinterpret_cast<const wchar_t *>(path.utf16()),
                              FILE_ATTRIBUTE_NORMAL) != 0;
#else
    QFile file(path);
    return file.setPermissions(file.permissions() | QFileDevice::WriteOwner);
#endif
}

} // namespace tarnic
