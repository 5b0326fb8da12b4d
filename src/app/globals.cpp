#include "app/globals.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStandardPaths>

namespace app {

QString strAppPath;
QString strIniPath;
bool blnPanelClosed = false;

namespace {

bool isSeparator(QChar c) { return c == '/' || c == '\\'; }

qsizetype lastSeparator(const QString& path)
{
    return std::max(path.lastIndexOf('/'), path.lastIndexOf('\\'));
}

} // namespace

QString GetFileName(const QString& strPath)
{
    const qsizetype at = lastSeparator(strPath);
    return at < 0 ? strPath : strPath.mid(at + 1);
}

QString GetFolder(const QString& strPath)
{
    const qsizetype at = lastSeparator(strPath);
    const QString kept = at < 0 ? QString() : strPath.left(at + 1);
    return withTrailingSeparator(kept);
}

QString withTrailingSeparator(const QString& folder)
{
    if (!folder.isEmpty() && isSeparator(folder.back())) return folder;
    return folder + QDir::separator();
}

QString iniPathFor(const QString& appPath, const QString& exeBaseName, const QString& fallbackFolder)
{
    const QString fileName = exeBaseName.toLower() + QStringLiteral(".ini");
    const QString beside = withTrailingSeparator(appPath) + fileName;
    // A file beside the program is a portable setup; anywhere else the program may sit in a
    // build tree or a system folder, where the user's playlists must not live.
    if (fallbackFolder.isEmpty() || QFileInfo::exists(beside)) return beside;
    return withTrailingSeparator(fallbackFolder) + fileName;
}

void InitPaths()
{
    strAppPath = withTrailingSeparator(QCoreApplication::applicationDirPath());
    const QString base = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    QString fallback = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    strIniPath = iniPathFor(strAppPath, base.isEmpty() ? QStringLiteral("vamplet") : base, fallback);
    // The data folder may lie below the program's own (a program in the home folder).
    const QString folder = QFileInfo(strIniPath).absolutePath();
    if (folder != QDir(strAppPath).absolutePath()) QDir().mkpath(folder);
}

QString versionCaption()
{
    return QStringLiteral("Vamplet - Version %1.%2").arg(VAMPLET_VERSION_MAJOR).arg(VAMPLET_VERSION_MINOR);
}

} // namespace app
