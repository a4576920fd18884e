// The front end's string table and version block, and the small text helpers around them.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QUrl>

#include "worva.h"
#include "zentra/strtable.h"
#include "zentra/version.h"

namespace worva {

QString HomePage() {
    // The README installed beside the program (bin/../share/doc/orvanta), else the one of the
    // source tree this program was built from; the installed place when neither is there, so
    // that a click says which file is missing.
    const QString installed =
        QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/doc/orvanta/README.md"));
    QString page = installed;
#ifdef ORVANTA_SOURCE_README
    if (!QFileInfo::exists(installed) && QFileInfo::exists(QStringLiteral(ORVANTA_SOURCE_README)))
        page = QStringLiteral(ORVANTA_SOURCE_README);
#endif
    return QUrl::fromLocalFile(page).toString();
}

const wchar_t* const kSettingKey = L"Software\\Orvanta\\Setting";
const wchar_t* const kScrollBackValue = L"ScrollBackLines";

namespace {

const zentra::StringTableEntry kStrings[] = {
    {IDR_MAINFRAME, L"Orvanta"},
    {AFX_IDS_APP_TITLE, L"Orvanta"},
    {AFX_IDS_IDLEMESSAGE, L"Ready"},
    {ID_DISCONNECT, L"Disconnect current link.\nDisconnect"},
    {ID_CONNECT, L"Connect to server\nConnect"},
    {ID_FIND, L"Find the specified text\nFind"},
    {ID_FIND_NEXT, L"Find the next specified text\nFind Next"},
    {ID_OPEN_SCRIPT, L"Run a SQL Script file."},
    {ID_AUTO_WRAP, L"Auto wrap text in edit\nAuto Wrap"},
    {IDS_SQL_SCRIPT_FILTER, L"SQL script file (*.sql)\t*.sql\t"},
    {IDS_ALL_FILES_FILTER, L"All files (*.*)\t*.*\t"},
    {IDS_SEARCH_FOLDER, L"Search folder:"},
    {IDS_FIND_FINISHED, L"Finished searching the document."},
    {IDS_SESSION_ENDED, L"-- The session has ended. Choose Connect on the File menu to connect again. --"},
};

const zentra::VersionBlock kVersion{{0x04B00409},
                                    {{L"040904B0",
                                      {{L"ProductName", L"Orvanta"},
                                       {L"ProductVersion", L"3, 0, 0, 1"},
                                       {L"FileVersion", L"3, 0, 0, 1"},
                                       {L"FileDescription", L"Orvanta Windows"}}}}};

}  // namespace

void RegisterResources() {
    zentra::RegisterStringTable(kStrings, std::size(kStrings));
    zentra::RegisterVersionBlock(&kVersion);
}

QString ToQString(const CString& text) { return QString::fromStdWString(text); }
CString FromQString(const QString& text) { return text.toStdWString(); }
QString LoadQString(unsigned id) { return ToQString(zentra::LoadString(id)); }

QStringList FilterToNameFilters(const CString& filter) {
    QStringList parts = ToQString(filter).split(QLatin1Char('\t'));
    QStringList result;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i].trimmed();
        QStringList patterns;
        // The file dialog separates patterns by blanks; the table separates them by semicolons,
        // sometimes with a blank after. "*.*" is every file here, names without a dot included.
        for (QString pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            pattern = pattern.trimmed();
            if (pattern.isEmpty()) continue;
            if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
            if (!patterns.contains(pattern)) patterns << pattern;
        }
        if (description.isEmpty() && patterns.isEmpty()) continue;
        // The dialog reads the patterns from the last parentheses, so the description's own
        // list is replaced by the one built here.
        if (description.endsWith(QLatin1Char(')'))) {
            const int open = description.lastIndexOf(QLatin1Char('('));
            if (open >= 0) description = description.left(open).trimmed();
        }
        result << QStringLiteral("%1 (%2)").arg(description, patterns.join(QLatin1Char(' ')));
    }
    return result;
}

}  // namespace worva
