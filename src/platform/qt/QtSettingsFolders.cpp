#include "platform/qt/QtSettingsFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace velmora {
namespace {

QString qtPath(const std::filesystem::path& path)
{
#ifdef Q_OS_WIN
    return QString::fromStdWString(path.native());
#else
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
#endif
}

std::filesystem::path stdPath(const QString& path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

}  // namespace

bool QtSettingsFolders::canCreateFilesIn(const std::filesystem::path& folder) const
{
    const QFileInfo info(qtPath(folder));
    if (!info.isDir())
        return false;
#ifdef Q_OS_WIN
    return info.isWritable();
#else
    // The kernel's own answer for this user, which also knows read-only mounts.
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
#endif
}

std::filesystem::path QtSettingsFolders::userConfigFolder() const
{
    // On Linux this is $XDG_CONFIG_HOME when set to an absolute path, else ~/.config.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return folder.isEmpty() ? std::filesystem::path() : stdPath(folder);
}

bool QtSettingsFolders::createFolder(const std::filesystem::path& folder)
{
    return QDir().mkpath(qtPath(folder));
}

}  // namespace velmora
