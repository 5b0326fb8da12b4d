#include "midi/soundfont.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <optional>

namespace midi {
namespace {

std::optional<QStringList>& folderOverride()
{
    static std::optional<QStringList> folders;
    return folders;
}

bool usable(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isReadable() && info.size() > 0;
}

// Fonts that are General MIDI sets for sure, best first; Debian points default-GM at
// the one the system prefers.
const char* const kPreferred[] = {"default-GM.sf2", "default-GM.sf3", "FluidR3_GM.sf2", "FluidR3_GM.sf3",
                                  "TimGM6mb.sf2", "MuseScore_General.sf3", "MuseScore_General.sf2"};

} // namespace

QStringList soundFontFolders()
{
    if (folderOverride()) return *folderOverride();
    QStringList folders;
    for (const QString& data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        for (const char* sub : {"/soundfonts", "/sounds/sf2", "/sounds/sf3"})
            if (!folders.contains(data + QLatin1String(sub))) folders << data + QLatin1String(sub);
    return folders;
}

void setSoundFontFolders(const QStringList& folders) { folderOverride() = folders; }

void resetSoundFontFolders() { folderOverride().reset(); }

SoundFontChoice findSoundFont()
{
    const QString named = qEnvironmentVariable(kSoundFontVariable);
    if (!named.isEmpty() && usable(named)) return {QFileInfo(named).absoluteFilePath(), {}};

    const QStringList folders = soundFontFolders();
    for (const char* name : kPreferred)
        for (const QString& folder : folders)
            if (const QString p = folder + QLatin1Char('/') + QLatin1String(name); usable(p)) return {p, {}};
    for (const QString& folder : folders) {
        const QDir dir(folder);
        for (const QString& f : dir.entryList({"*.sf2", "*.sf3", "*.SF2", "*.SF3"}, QDir::Files, QDir::Name))
            if (usable(dir.filePath(f))) return {dir.filePath(f), {}};
    }

    QString problem = QCoreApplication::translate(
        "SoundFont", "No General MIDI sound font found. Install the package timgm6mb-soundfont, "
                     "or name a .sf2 file in %1.").arg(QLatin1String(kSoundFontVariable));
    if (!named.isEmpty())
        problem += QLatin1Char(' ') + QCoreApplication::translate("SoundFont", "(%1 names '%2', which is not a readable file.)")
                                          .arg(QLatin1String(kSoundFontVariable), named);
    return {{}, problem};
}

} // namespace midi
