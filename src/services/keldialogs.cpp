#include "services/keldialogs.h"

#include "services/messages.h"

#include <QFileInfo>

namespace services {

const char* const kMediaFilter =
    "All Media Files|*.wav;*.snd;*.au;*.aif;*.aifc;*.aiff;*.wma;*.mp3;*.mid;*.rmi;*.midi;*.mpeg;*.mpg;*.m1v;*.mp2;"
    "*.mpa;*.mpe;*.avi;*.asf;*.wm;*.wma;*.wmv;*.wmd|Audio File|*.wav;*.snd;*.au;*.aif;*.aifc;*.aiff;*.wma;*.mp3|"
    "MIDI File|*.mid;*.rmi;*.midi|Movie File (mpeg)|*.mpeg;*.mpg;*.m1v;*.mp2;*.mpa;*.mpe|Video File|*.avi;*.wmv|"
    "Windows Media File|*.asf;*.wm;*.wma;*.wmv;*.wmd|All Files (*.*)|*.*|";

QStringList dialogFilters(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i];
        if (description.isEmpty() && parts[i + 1].isEmpty()) break;
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& p : patterns) p = p.trimmed();
        const QString spaced = QLatin1Char('(') + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
        const QString listed = QLatin1Char('(') + patterns.join(QLatin1Char(';')) + QLatin1Char(')');
        // A description that already names its patterns ("All Files (*.*)") is kept as it is.
        if (description.endsWith(spaced) || description.endsWith(listed)) out << description;
        else out << description + QLatin1Char(' ') + spaced;
    }
    return out;
}

QString TrimNulls(const QString& strText)
{
    QString t = strText;
    t.replace(QChar(u'\0'), QLatin1Char(' '));
    while (t.startsWith(QLatin1Char(' '))) t.remove(0, 1);
    while (t.endsWith(QLatin1Char(' '))) t.chop(1);
    return t;
}

bool clsKelDialogs::Show(bool doOpen)
{
    // A proposed name that does not fit the result buffer counts as cancelled.
    if (FileName.size() > MaxFileSize || FileTitle.size() > MaxFileSize) return false;
    FileDialogRequest request;
    request.kind = doOpen ? FileDialogKind::Open : FileDialogKind::Save;
    request.title = DialogTitle;
    request.folder = InitialDir;
    request.fileName = FileName;
    request.filters = dialogFilters(Filter);
    request.filterIndex = FilterIndex > 0 ? FilterIndex - 1 : 0;
    request.defaultSuffix = DefaultExt;
    request.confirmOverwrite = (Flags & kOverwritePrompt) != 0;
    const QString chosen = TrimNulls(FileDialog(request, hWndParent));
    if (chosen.isEmpty()) return false;
    FileName = chosen;
    FileTitle = QFileInfo(chosen).fileName();
    return true;
}

QString clsKelDialogs::GetDirectory(QString& strTitle)
{
    if (strTitle.isEmpty()) strTitle = QStringLiteral("Choose Directory");
    FileDialogRequest request;
    request.kind = FileDialogKind::Folder;
    request.title = strTitle;
    return FileDialog(request, hWndParent);
}

namespace {

QString askMediaFile(bool open, QString& strFileName, const QString& strFilter, const QString& strTitle,
                     const QString& strDefaultExt, const QString& strInitialDir)
{
    clsKelDialogs dialog;
    dialog.FileName = strFileName;
    dialog.Filter = strFilter.isEmpty() ? QString::fromLatin1(kMediaFilter) : strFilter;
    dialog.DialogTitle = strTitle.isEmpty() ? QStringLiteral("Choose a media file ...") : strTitle;
    if (!strDefaultExt.isEmpty()) dialog.DefaultExt = strDefaultExt;
    if (!strInitialDir.isEmpty()) dialog.InitialDir = strInitialDir;
    if (!strFileName.isEmpty()) dialog.FileTitle = strFileName;
    dialog.Flags = open ? clsKelDialogs::kFileMustExist : clsKelDialogs::kOverwritePrompt;
    if (!dialog.Show(open)) return {};
    strFileName = dialog.FileTitle;
    return dialog.FileName;
}

} // namespace

QString OpenMediaFile(QString& strFileName, const QString& strFilter, const QString& strTitle,
                      const QString& strDefaultExt, const QString& strInitialDir)
{
    return askMediaFile(true, strFileName, strFilter, strTitle, strDefaultExt, strInitialDir);
}

QString SaveMediaFile(QString& strFileName, const QString& strFilter, const QString& strTitle,
                      const QString& strDefaultExt, const QString& strInitialDir)
{
    return askMediaFile(false, strFileName, strFilter, strTitle, strDefaultExt, strInitialDir);
}

} // namespace services
