#include "device/data_folders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <stdexcept>

namespace device {

namespace {
[[noreturn]] void fail(const QString& text) { throw std::runtime_error(text.toStdString()); }

bool usableFolder(const QString& path)
{
    const QFileInfo info(path);
    return info.isDir() && info.isWritable();
}

QString preferredBase()
{
#if defined(Q_OS_WIN)
    return QCoreApplication::applicationDirPath();
#else
    return QDir::currentPath();
#endif
}

QString fallbackBase() { return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation); }
}  // namespace

QString dataFolderBase()
{
    const QString preferred = preferredBase();
    return usableFolder(preferred) ? preferred : fallbackBase();
}

QString existingDataFolder(const QString& name)
{
    for (const QString& base : {preferredBase(), fallbackBase()}) {
        const QString path = QDir(base).filePath(name);
        if (QFileInfo(path).isDir()) return path;
    }
    return QString();
}

QString dataFolderUnder(const QString& base, const QString& name)
{
    const QString path = QDir(base).filePath(name);
    if (!QDir().mkpath(path) || !usableFolder(path))
        fail(QStringLiteral("Cannot create folder \"%1\".").arg(QDir::toNativeSeparators(path)));
    return path;
}

QString dataFolder(const QString& name)
{
    const QString beside = QDir(preferredBase()).filePath(name);
    if (usableFolder(beside)) return beside;
    return dataFolderUnder(dataFolderBase(), name);
}

void writeFileAtomically(const QString& path, const QByteArray& source, qint64 offset, qint64 size)
{
    if (offset < 0 || size < 0 || offset + size > source.size()) fail(QStringLiteral("Range check error writing \"%1\".").arg(path));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        fail(QStringLiteral("Cannot create file \"%1\". %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    const char* data = source.constData() + offset;
    qint64 written = 0;
    while (written < size) {
        const qint64 n = file.write(data + written, size - written);
        if (n <= 0) break;
        written += n;
    }
    if (written != size || !file.commit())
        fail(QStringLiteral("Cannot write file \"%1\". %2").arg(QDir::toNativeSeparators(path), file.errorString()));
}

}  // namespace device
