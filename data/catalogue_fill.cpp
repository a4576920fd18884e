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

// The keys of one row; a key that is not a plain word would break the generated shell code.
bool Keys(const zentra::CONNECT_STRING_CONFIG& row, zentra::CStringArray& keys) {
    keys = zentra::Split(row.strKey, L'|');
    for (const CString& key : keys)
        if (!AllWordChars(key, L"_")) return false;
    return true;
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
    CString out;
    for (const auto& row : zentra::g_ConnConfs) {
        zentra::CStringArray keys;
        Keys(row, keys);
        for (const CString& key : keys) out += (out.empty() ? L"" : L" ") + key;
    }
    return out;
}

CString FileTypeArms() {
    CString out;
    for (const auto& row : zentra::g_ConnConfs) {
        if (!row.bFileDatabase) continue;
        zentra::CStringArray keys;
        Keys(row, keys);
        CString arm;
        for (const CString& key : keys) arm += (arm.empty() ? L"" : L" | ") + key;
        out += L"        " + arm + L") _orva_pattern='" + ExtensionGlob(row.strFileFilter) + L"' ;;\n";
    }
    if (!out.empty()) out.pop_back();
    return out;
}

CString TypeList() {
    CString out;
    for (const auto& row : zentra::g_ConnConfs) {
        zentra::CStringArray keys;
        Keys(row, keys);
        out += L".TP\n";
        for (size_t i = 0; i < keys.size(); ++i) out += (i ? L", \\fB" : L"\\fB") + keys[i] + L"\\fR";
        out += L"\n" + Roff(row.strName) + L".";
        if (row.nType == 15) {  // the ODBC DSN row: a named or a file data source
            out += L" The database is a data-source name, or the path of a file data source.";
        } else if (row.bFileDatabase) {
            out += L" The database is a file or folder path.";
        } else {
            zentra::CStringArray defaults;
            if (!row.strHost.empty()) defaults.push_back(L"host " + Roff(row.strHost));
            if (row.nPort > 0) defaults.push_back(L"port " + std::to_wstring(row.nPort));
            if (!row.strUser.empty()) defaults.push_back(L"user " + Roff(row.strUser));
            for (size_t i = 0; i < defaults.size(); ++i) out += (i ? L", " : L" Defaults: ") + defaults[i];
            if (!defaults.empty()) out += L".";
        }
        out += L"\n";
    }
    if (!out.empty()) out.pop_back();
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: catalogue_fill TEMPLATE OUTPUT\n";
        return 2;
    }
    for (const auto& row : zentra::g_ConnConfs) {
        zentra::CStringArray keys;
        if (!Keys(row, keys)) {
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
