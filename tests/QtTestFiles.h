#pragma once
// The test files on Qt's side, for the tests of the window and of tarnic-cli:
// the same bytes (TestFiles.h), at paths given as Qt's texts.

#include "TestFiles.h"
#include "qt/PathText.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace testfiles {

using tarnic::nameText;
using tarnic::pathOf;

inline QByteArray qbytes(std::string_view bytes) {
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

inline void writeFile(const QString &path, std::string_view bytes) {
    writeFile(pathOf(path), bytes);
}
inline std::string readFile(const QString &path) {
    return readFile(pathOf(path));
}
inline void makeReadOnly(const QString &path) {
    makeReadOnly(pathOf(path));
}
inline QString fileWith(const QTemporaryDir &dir, const QString &name, std::string_view bytes) {
    const QString path = dir.filePath(name);
    writeFile(path, bytes);
    return path;
}

} // namespace testfiles
