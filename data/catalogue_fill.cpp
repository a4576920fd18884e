// catalogue_fill: fills the DBMS catalogue into a template at build time, so that the bash
// completion and the manual page list the same types as the orva that is built with them.
//
//   catalogue_fill TEMPLATE OUTPUT
//
// Placeholders in the template:
//   @ORVA_TYPES@       the type keys, blank-separated ("fdb|gdb" gives fdb and gdb)
//   @ORVA_FILE_TYPES@  case arms for bash: the file databases and the extensions (an extglob)
//                      their files end with; an empty pattern for a type that takes any file
//   @ORVA_TYPE_LIST@   the types as a roff list: key, display name, what -d names, defaults
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "zentra/catalogue.h"
#include "zentra/codepage.h"
#include "zentra/text.h"

namespace {

using zentra::CString;

bool IsWordChar(wchar_t c, const wchar_t* extra) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
           CString(extra).find(c) != CString::npos;
}

bool AllWordChars(const CString& text, const wchar_t* extra) {
    if (text.empty()) return false;
    for (wchar_t c : text)
        if (!IsWordChar(c, extra)) return false;
    return true;
}

// The keys of one row ("fdb|gdb" holds two).
zentra::CStringArray Keys(const zentra::CONNECT_STRING_CONFIG& row) { return zentra::Split(row.strKey, L'|'); }

// The parts, each wrapped in `open` and `close`, with `between` between them.
CString Joined(const zentra::CStringArray& parts, const wchar_t* between, const wchar_t* open = L"",
               const wchar_t* close = L"") {
    CString out;
    for (size_t i = 0; i < parts.size(); ++i) out += (i ? between : L"") + (open + parts[i]) + close;
    return out;
}

// The extensions of a file filter ("description\tpattern\t..."; patterns "*.db;*.db3") as an
// extglob, "@(db|db3)". Empty when the filter names none or a pattern is not a plain "*.ext".
CString ExtensionGlob(const CString& filter) {
    const zentra::CStringArray fields = zentra::Split(filter, L'\t');
    CString glob;
    for (size_t i = 1; i < fields.size(); i += 2) {
        for (const CString& part : zentra::Split(fields[i], L';')) {
            const CString pattern = zentra::Trim(part);
            if (pattern.empty()) continue;
            if (pattern.rfind(L"*.", 0) != 0 || !AllWordChars(pattern.substr(2), L"?*")) return CString();
            const CString ext = pattern.substr(2);
            if ((L"|" + glob + L"|").find(L"|" + ext + L"|") != CString::npos) continue;
            glob += (glob.empty() ? L"" : L"|") + ext;
        }
    }
    return glob.empty() ? CString() : L"@(" + glob + L")";
}

// Text for a roff line: backslashes and hyphens escaped, a leading control character guarded.
CString Roff(const CString& text) {
    CString out;
    for (wchar_t c : text) {
        if (c == L'\\') out += L"\\e";
        else if (c == L'-') out += L"\\-";
        else out += c;
    }
    if (!out.empty() && (out[0] == L'.' || out[0] == L'\'')) out = L"\\&" + out;
    return out;
}

CString Types() {
    zentra::CStringArray keys;
    for (const auto& row : zentra::g_ConnConfs)
        for (const CString& key : Keys(row)) keys.push_back(key);
    return Joined(keys, L" ");
}

CString FileTypeArms() {
    zentra::CStringArray arms;
    for (const auto& row : zentra::g_ConnConfs) {
        if (!row.bFileDatabase) continue;
        arms.push_back(L"        " + Joined(Keys(row), L" | ") + L") _orva_pattern='" +
                       ExtensionGlob(row.strFileFilter) + L"' ;;");
    }
    return Joined(arms, L"\n");
}

CString TypeList() {
    zentra::CStringArray entries;
    for (const auto& row : zentra::g_ConnConfs) {
        CString entry = L".TP\n" + Joined(Keys(row), L", ", L"\\fB", L"\\fR") + L"\n" + Roff(row.strName) + L".";
        if (row.nType == 15) {  // the ODBC DSN row: a named or a file data source
            entry += L" The database is a data-source name, or the path of a file data source.";
        } else if (row.bFileDatabase) {
            entry += L" The database is a file or folder path.";
        } else {
            zentra::CStringArray defaults;
            if (!row.strHost.empty()) defaults.push_back(L"host " + Roff(row.strHost));
            if (row.nPort > 0) defaults.push_back(L"port " + std::to_wstring(row.nPort));
            if (!row.strUser.empty()) defaults.push_back(L"user " + Roff(row.strUser));
            if (!defaults.empty()) entry += L" Defaults: " + Joined(defaults, L", ") + L".";
        }
        entries.push_back(entry);
    }
    return Joined(entries, L"\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: catalogue_fill TEMPLATE OUTPUT\n";
        return 2;
    }
    for (const auto& row : zentra::g_ConnConfs) {
        // A key that is not a plain word would break the generated shell code.
        if (!std::ranges::all_of(Keys(row), [](const CString& key) { return AllWordChars(key, L"_"); })) {
            std::cerr << "catalogue_fill: the type key '" << zentra::WideToUtf8(row.strKey)
                      << "' is not a plain word\n";
            return 1;
        }
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    if (!in) {
        std::cerr << "catalogue_fill: cannot read " << argv[1] << "\n";
        return 1;
    }
    std::string text = buffer.str();
    const std::pair<const char*, CString> fills[] = {
        {"@ORVA_TYPES@", Types()}, {"@ORVA_FILE_TYPES@", FileTypeArms()}, {"@ORVA_TYPE_LIST@", TypeList()}};
    for (const auto& [name, value] : fills) {
        const std::string bytes = zentra::WideToUtf8(value);
        for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + bytes.size()))
            text.replace(at, std::char_traits<char>::length(name), bytes);
    }
    const std::string temp = std::string(argv[2]) + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            std::cerr << "catalogue_fill: cannot write " << temp << "\n";
            return 1;
        }
    }
    if (std::rename(temp.c_str(), argv[2]) != 0) {
        std::cerr << "catalogue_fill: cannot write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
