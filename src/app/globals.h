#pragma once
// Application-wide state and the path helpers.
#include <QString>

namespace app {

// The program's folder, ending in exactly one folder separator.
extern QString strAppPath;
// Full path of the playlist INI file.
extern QString strIniPath;
// While false, closing the control panel only hides it.
extern bool blnPanelClosed;

// Text after the last "/" or "\"; the whole path when there is none.
QString GetFileName(const QString& strPath);
// Text up to and including the last separator, ending in one separator; a lone
// separator for a path without any.
QString GetFolder(const QString& strPath);

// The folder with exactly one trailing separator added (none when it has one).
QString withTrailingSeparator(const QString& folder);

// INI path for a program in `appPath`: the base name lower-cased, ".ini" appended. The file
// beside the program when it is there (the folder kept as it is: file systems here are
// case-sensitive), else the one in `fallbackFolder`, the per-user data folder.
QString iniPathFor(const QString& appPath, const QString& exeBaseName, const QString& fallbackFolder);

// Computes strAppPath and strIniPath from the running program.
void InitPaths();

// "Vamplet - Version 1.0" from the build's version.
QString versionCaption();

inline constexpr const char* kAppTitle = "Vamplet";
// The name of the desktop entry and the AppStream data, without ".desktop".
inline constexpr const char* kDesktopId = "io.github.vamplet.Vamplet";

} // namespace app
