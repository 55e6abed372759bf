#include "startup/Settings.h"

#include "files/FileReader.h"
#include "files/SafeWrite.h"
#include "qt/PathText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <optional>

namespace tarnic {

namespace {
constexpr qint64 kSettingsReadLimit = 64 * 1024;
}

QString defaultFolder() {
#ifdef Q_OS_WIN
    return QStringLiteral("C:\\");
#else
    const QString home = QDir::homePath();
    return QFileInfo(home).isDir() ? home : QStringLiteral("/");
#endif
}

namespace {

// Splits the file into fields the way the settings were always read back.
class FieldReader {
  public:
    explicit FieldReader(QString text) : text_(std::move(text)) {}

    std::optional<QString> next() {
        skipSpaces();
        if (pos_ >= text_.size())
            return std::nullopt;
        QString value;
        if (text_[pos_] == u'"') {
            const qsizetype close = text_.indexOf(u'"', pos_ + 1);
            const qsizetype end = close < 0 ? text_.size() : close;
            value = text_.mid(pos_ + 1, end - pos_ - 1);
            pos_ = close < 0 ? text_.size() : close + 1;
            // Whatever stands after the closing quote up to the separator is dropped.
            while (pos_ < text_.size() && !isSeparator(text_[pos_]))
                ++pos_;
        } else {
            const qsizetype start = pos_;
            while (pos_ < text_.size() && !isSeparator(text_[pos_]))
                ++pos_;
            value = text_.mid(start, pos_ - start).trimmed();
        }
        skipSeparator();
        return value;
    }

  private:
    static bool isSeparator(QChar c) { return c == u',' || c == u'\r' || c == u'\n'; }

    void skipSpaces() {
        while (pos_ < text_.size() && (text_[pos_] == u' ' || text_[pos_] == u'\t'))
            ++pos_;
    }

    void skipSeparator() {
        if (pos_ >= text_.size())
            return;
        if (text_[pos_] == u',') {
            ++pos_;
        } else if (text_[pos_] == u'\r') {
            ++pos_;
            if (pos_ < text_.size() && text_[pos_] == u'\n')
                ++pos_;
        } else if (text_[pos_] == u'\n') {
            ++pos_;
        }
    }

    QString text_;
    qsizetype pos_ = 0;
};

qint16 optionValue(const QString &field) {
    if (field.isEmpty())
        return 0;
    bool ok = false;
    const int value = field.toInt(&ok);
    if (!ok || value < -32768 || value > 32767)
        return kOptionUnreadable;
    return qint16(value);
}

} // namespace

int readSettingsFile(const QString &path, Settings &settings) {
    FileReader file;
    if (!file.open(pathOf(path)))
        return 0;
    // Four short lines; whatever stands beyond the first 64 KiB is never needed.
    QString text = QString::fromLocal8Bit(file.read(kSettingsReadLimit));
    if (text.startsWith(QChar(0xFEFF))) // a mark some editors put first
        text.remove(0, 1);
    FieldReader fields(std::move(text));
    QString *folders[] = {&settings.PatchDir, &settings.RomDir};
    qint16 *options[] = {&settings.SplashOpt, &settings.BackupOpt};
    int read = 0;
    for (QString *folder : folders) {
        const std::optional<QString> field = fields.next();
        if (!field)
            return read;
        *folder = *field;
        ++read;
    }
    for (qint16 *option : options) {
        const std::optional<QString> field = fields.next();
        if (!field)
            return read;
        *option = optionValue(*field);
        ++read;
    }
    return read;
}

QByteArray settingsFileContent(const Settings &settings) {
    const QString text = u'"' + settings.PatchDir + QStringLiteral("\"\r\n\"") + settings.RomDir +
                         QStringLiteral("\"\r\n") + QString::number(settings.SplashOpt) +
                         QStringLiteral("\r\n") + QString::number(settings.BackupOpt) +
                         QStringLiteral("\r\n");
    return text.toLocal8Bit();
}

bool writeSettingsFile(const QString &path, const Settings &settings) {
    if (QFileInfo::exists(path) && isMarkedReadOnly(pathOf(path)))
        return false;
    const QByteArray content = settingsFileContent(settings);
    return replaceFileContent(pathOf(path),
                              std::string_view(content.constData(), size_t(content.size())));
}

void makeFoldersAbsolute(Settings &settings, const QString &programFolder) {
    for (QString *folder : {&settings.PatchDir, &settings.RomDir}) {
        if (!folder->isEmpty() && QDir::isRelativePath(*folder))
            *folder = QDir::cleanPath(QDir(programFolder).absoluteFilePath(*folder));
    }
}

bool checkFolders(Settings &settings) {
    bool replaced = false;
    for (QString *folder : {&settings.PatchDir, &settings.RomDir}) {
        if (folder->isEmpty() || !QFileInfo::exists(*folder)) {
            *folder = defaultFolder();
            replaced = true;
        }
    }
    return replaced;
}

QString settingsFilePath(const QString &programFolder, const QString &applicationId) {
    const QDir folder(programFolder);
    const QString beside = folder.filePath(QLatin1String(kSettingsFileName));
    // An installed copy (its desktop entry installed beside it, under the same
    // prefix) keeps its settings in the user's configuration folder, whoever
    // runs it: an administrator finds the program folder writable too. A
    // folder without owner write permission counts as read-only even for an
    // administrator, who could write there all the same.
    const bool installed = QFileInfo::exists(
        folder.filePath(QStringLiteral("../share/applications/%1.desktop").arg(applicationId)));
    if (!installed && (QFileInfo::exists(beside) || (QFileInfo(programFolder).isWritable() &&
                                                     !isMarkedReadOnly(pathOf(programFolder)))))
        return beside;
    const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(config);
    return QDir(config).filePath(QLatin1String(kSettingsFileName));
}

} // namespace tarnic
