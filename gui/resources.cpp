// The front end's string table and version block, and the small text helpers around them.
#include <QStringList>

#include "worva.h"
#include "zentra/strtable.h"
#include "zentra/version.h"

namespace worva {

// The product's page: the README of the tree this program was built from (set by the build;
// a packaged build can point it at a published page with -DORVANTA_HOME_PAGE=...).
const char* const kHomePage = ORVANTA_HOME_PAGE;

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
};

const zentra::VersionBlock kVersion{
    {0x04B00409},
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
        QString patterns = parts[i + 1].trimmed();
        if (description.isEmpty() && patterns.isEmpty()) continue;
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        // A description that already shows its patterns in parentheses is taken as it is.
        if (description.contains(QLatin1Char('(')) && description.endsWith(QLatin1Char(')')))
            result << description;
        else
            result << QStringLiteral("%1 (%2)").arg(description, patterns);
    }
    return result;
}

}  // namespace worva
