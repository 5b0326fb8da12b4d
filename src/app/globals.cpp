#include "app/globals.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QTemporaryFile>

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

bool folderWritable(const QString& folder)
{
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".vamplet-probe-XXXXXX")));
    return probe.open();
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
    QString folder = withTrailingSeparator(appPath);
    // A file that is there is the user's, writable or not: it is read and shown, and the
    // panel says when changes to it cannot be kept.
    if (!fallbackFolder.isEmpty()) {
        const bool existing = QFileInfo(folder + fileName).exists();
        if (!existing && !folderWritable(folder)) folder = withTrailingSeparator(fallbackFolder);
    }
    return folder + fileName;
}

void InitPaths()
{
    strAppPath = withTrailingSeparator(QCoreApplication::applicationDirPath());
    const QString base = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    QString fallback = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    strIniPath = iniPathFor(strAppPath, base.isEmpty() ? QStringLiteral("vamplet") : base, fallback);
    if (!strIniPath.startsWith(strAppPath)) QDir().mkpath(QFileInfo(strIniPath).absolutePath());
}

QString versionCaption()
{
    return QStringLiteral("Vamplet - Version %1.%2").arg(VAMPLET_VERSION_MAJOR).arg(VAMPLET_VERSION_MINOR);
}

} // namespace app
