#include "windows/sysinfo.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace about {
namespace {

QStringList g_searchPath;

#ifdef Q_OS_WIN
// Reads one string (or 32-bit number, as decimal text) value of the registry. Read access is
// asked for only: full access to the local machine's keys is refused to ordinary users.
bool GetKeyValue(HKEY KeyRoot, const QString& KeyName, const QString& SubKeyRef, QString& KeyVal)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(KeyRoot, reinterpret_cast<LPCWSTR>(KeyName.utf16()), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        KeyVal.clear();
        return false;
    }
    wchar_t buffer[1024] = {};
    DWORD type = 0;
    DWORD bytes = sizeof(buffer);
    if (RegQueryValueExW(key, reinterpret_cast<LPCWSTR>(SubKeyRef.utf16()), nullptr, &type,
                         reinterpret_cast<LPBYTE>(buffer), &bytes) != ERROR_SUCCESS) {
        KeyVal.clear();
        RegCloseKey(key);
        return false;
    }
    if (type == REG_SZ) {
        QString text = QString::fromWCharArray(buffer, static_cast<qsizetype>(bytes / sizeof(wchar_t)));
        while (text.endsWith(QChar(u'\0'))) text.chop(1);
        KeyVal = text;
    } else if (type == REG_DWORD && bytes >= sizeof(DWORD)) {
        DWORD number = 0;
        memcpy(&number, buffer, sizeof(number));
        KeyVal = QString::number(number);
    }
    RegCloseKey(key);
    return true;
}
#endif

} // namespace

const QStringList& sysInfoTools()
{
    static const QStringList tools{
        QStringLiteral("hardinfo2"), QStringLiteral("hardinfo"),    QStringLiteral("kinfocenter"),
        QStringLiteral("cpu-x"),     QStringLiteral("lshw-gtk"),    QStringLiteral("gnome-system-monitor"),
    };
    return tools;
}

void setSysInfoSearchPath(const QStringList& folders) { g_searchPath = folders; }

QString findSysInfoTool()
{
#ifdef Q_OS_WIN
    QString path;
    if (GetKeyValue(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"),
                    QStringLiteral("PATH"), path))
        return path;
    if (GetKeyValue(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location"),
                    QStringLiteral("MSINFO"), path)) {
        path += QStringLiteral("\\MSINFO32.EXE");
        if (QFileInfo::exists(path)) return path;
    }
    return {};
#else
    for (const QString& tool : sysInfoTools()) {
        const QString found = QStandardPaths::findExecutable(tool, g_searchPath);
        if (!found.isEmpty()) return found;
    }
    return {};
#endif
}

bool startSysInfoTool()
{
    const QString tool = findSysInfoTool();
    return !tool.isEmpty() && QProcess::startDetached(tool, {});
}

} // namespace about
