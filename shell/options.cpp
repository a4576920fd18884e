#include "options.h"

#include <locale.h>

#include <climits>
#include <cstring>
#include <ctime>
#include <cwchar>

#include "resources.h"
#include "zentra/catalogue.h"
#include "zentra/console.h"
#include "zentra/format.h"
#include "zentra/strtable.h"
#include "zentra/version.h"

namespace orva {

using zentra::Format;

namespace {

struct OptionDef {
    const wchar_t* shortName;  // null when the option has no short form
    const wchar_t* longName;   // null when it has no long form
    bool takesValue;
};

enum OptionIndex {
    kHelp,
    kVersion,
    kCommand,
    kFile,
    kSmn,
    kType,
    kHost,
    kPort,
    kUser,
    kPassword,
    kPrompt,
    kDatabase,
    kSchema,
    kOptionCount
};

// Tried in this order against each argument; the first that matches wins.
constexpr OptionDef kOptions[kOptionCount] = {
    {L"?", L"help", false},  {L"v", L"version", false}, {L"c", L"command", true},   {L"f", L"file", true},
    {nullptr, L"SMN", true}, {L"t", L"type", true},     {L"h", L"host", true},      {L"P", L"port", true},
    {L"u", L"user", true},   {L"p", L"password", true}, {nullptr, L"prompt", true}, {L"d", L"database", true},
    {L"s", L"schema", true},
};

void StripQuotes(CString& value) {
    if (value.size() >= 2 && value.front() == value.back() && (value.front() == L'\'' || value.front() == L'"')) {
        value = value.substr(1, value.size() - 2);
    }
}

// Leading decimal digits (an optional sign first); 0 when there are none.
int ReadInteger(const CString& text) {
    size_t i = 0;
    while (i < text.size() && zentra::IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) negative = text[i++] == L'-';
    long long v = 0;
    while (i < text.size() && text[i] >= L'0' && text[i] <= L'9') {
        v = v * 10 + (text[i++] - L'0');
        if (v > INT_MAX) v = INT_MAX;
    }
    return static_cast<int>(negative ? -v : v);
}

// Does `arg` look like one of the options (used to tell a missing password from a value)?
bool IsOption(const CString& arg) {
    std::vector<CString> one{L"", arg};
    for (const auto& opt : kOptions) {
        for (const wchar_t* name : {opt.shortName, opt.longName}) {
            if (!name) continue;
            size_t index = 1;
            CString value;
            if (MatchOption(one, index, name, opt.takesValue, value)) return true;
        }
    }
    return false;
}

}  // namespace

bool MatchOption(const std::vector<CString>& args, size_t& index, const wchar_t* name, bool takesValue, CString& value,
                 bool* valueMissing) {
    const CString& arg = args[index];
    const size_t nameLength = std::wcslen(name);
    if (arg.empty() || arg[0] != L'-' || nameLength == 0) return false;
    auto nextValue = [&]() {
        if (index + 1 < args.size()) {
            value = args[++index];
        } else {
            value.clear();
            if (valueMissing) *valueMissing = true;
        }
    };

    if (nameLength == 1) {
        if (arg.size() < 2 || arg[1] != name[0]) return false;
        if (!takesValue) return true;
        if (arg.size() <= 2) nextValue();
        else value = arg.substr(2);
    } else {
        if (arg.size() < 2 || arg[1] != L'-' || arg.find(name) != 2) return false;
        if (!takesValue) return arg.size() == nameLength + 2;
        if (arg.size() > nameLength + 2) {
            if (arg[nameLength + 2] != L'=') return false;
            value = arg.substr(nameLength + 3);
        } else {
            nextValue();
        }
    }
    StripQuotes(value);
    return true;
}

zentra::DbmsType LookupTypeByKey(const CString& key) {
    CString wanted = zentra::Trim(key);
    for (const auto& row : zentra::g_ConnConfs) {
        if (row.strKey.empty()) continue;
        for (const auto& alternative : zentra::Split(row.strKey, L'|'))
            if (zentra::EqualsNoCase(zentra::Trim(alternative), wanted))
                return static_cast<zentra::DbmsType>(row.nType);
    }
    return zentra::kDbmsNone;
}

CString ProductName() { return zentra::CAppVersionInfo::GetVersionInfo(nullptr, L"ProductName"); }

CString VersionString() {
    CString raw = zentra::CAppVersionInfo::GetVersionInfo(nullptr, L"ProductVersion");
    CString text;
    for (wchar_t ch : raw) {
        if (ch == L' ') continue;
        text.push_back(ch == L',' ? L'.' : ch);
    }
    size_t last = text.rfind(L'.');
    if (last != CString::npos) text.erase(last, 1);
    return text;
}

CString UsageText() {
    CString text = Format(L"%s ver %s, for Linux.\r\n\r\n", ProductName(), VersionString());
    text +=
        L"Usage: orva -t type [OPTIONS]\r\n"
        L"  -?, --help          Display this help and exit.\r\n"
        L"  -c, --command=#     Execute command after connected.\r\n"
        L"  -d, --database=name Database to use.\r\n"
        L"  -f, --file=path     Execute script file after connected.\r\n"
        L"  -h, --host[=name]   Connect to host.\r\n"
        L"  -p, --password[=name]\r\n"
        L"                      Password to use when connection to server or database.\r\n"
        L"                      If password is not given it's asked from the tty.\r\n"
        L"  -P, --port[=#]      Port number to use for connection.\r\n"
        L"  --prompt[=name]     Set the Orvanta prompt to this value.\r\n"
        L"  -t, --type=name     DBMS type.\r\n";
    for (const auto& row : zentra::g_ConnConfs)
        text += Format(L"                      %s\t->  %s\r\n", row.strKey, row.strName);
    text +=
        L"  -u, --user[=name]   User for login if not current user.\r\n"
        L"  -v, --version       Display program version\r\n";
    return text;
}

CString BannerText(const struct tm& localTime) {
    // Day and month names in English whatever the user's locale.
    static locale_t english = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
    char buffer[128];
    size_t n = english ? strftime_l(buffer, sizeof buffer, "%A, %b %d %H:%M:%S, %Y", &localTime, english) : 0;
    CString date = zentra::AsciiToWide(std::string_view(buffer, n));
    return Format(zentra::LoadString(IDS_BANNER), VersionString(), date);
}

ParsedOptions ParseCommandLine(const std::vector<CString>& args, ShellState& state, zentra::COutput& out) {
    ParsedOptions result;
    CONNECT_INFO& info = state.connectInfo;
    info = CONNECT_INFO{};

    for (size_t index = 1; index < args.size(); ++index) {
        bool matched = false;
        for (int o = 0; o < kOptionCount && !matched; ++o) {
            const OptionDef& opt = kOptions[o];
            for (const wchar_t* name : {opt.shortName, opt.longName}) {
                if (!name) continue;
                CString value;
                bool missing = false;
                size_t at = index;
                const size_t optionAt = index;
                // A password option followed by another option has no value of its own.
                if (o == kPassword && opt.takesValue) {
                    size_t probe = index;
                    CString probeValue;
                    if (MatchOption(args, probe, name, true, probeValue) && probe != index && IsOption(args[probe])) {
                        result.askPassword = true;
                        matched = true;
                        break;
                    }
                }
                if (!MatchOption(args, at, name, opt.takesValue, value, &missing)) continue;
                index = at;
                matched = true;
                switch (o) {
                case kHelp:
                    out.Print(UsageText());
                    result.exitCode = 1;
                    return result;
                case kVersion:
                    out.PrintMessage(L"%s %s", ProductName(), VersionString());
                    result.exitCode = 1;
                    return result;
                case kCommand: state.startupCommand = zentra::Trim(value); break;
                case kFile: state.startupScript = zentra::Trim(value); break;
                case kSmn: state.linkName = value; break;
                case kType: info.type = LookupTypeByKey(value); break;
                case kHost: info.host = value; break;
                case kPort: info.port = ReadInteger(value); break;
                case kUser: info.user = value; break;
                case kPassword:
                    info.password = value;
                    if (missing) result.askPassword = true;
                    else if (at != optionAt) result.passwordValues.emplace_back(at, 0);
                    else result.passwordValues.emplace_back(at, std::wcslen(name) == 1 ? 2 : std::wcslen(name) + 3);
                    break;
                case kPrompt: state.prompt = value; break;
                case kDatabase: info.database = value; break;
                case kSchema: info.schema = value; break;
                default: break;
                }
                break;
            }
        }
        if (!matched) {
            out.PrintMessage(IDS_UNKNOWN_OPTION, args[index]);
            result.exitCode = 1;
            return result;
        }
    }

    for (const auto& row : zentra::g_ConnConfs) {
        if (info.type == zentra::kDbmsNone || row.nType != info.type) continue;
        if (!row.strHost.empty() && info.host.empty()) info.host = row.strHost;
        if (row.nPort > 0 && info.port < 1) info.port = row.nPort;
        if (!row.strUser.empty() && info.user.empty()) info.user = row.strUser;
        if (!row.strDatabase.empty() && info.database.empty()) info.database = row.strDatabase;
        break;
    }
    return result;
}

void HidePasswordArguments(int argc, char** argv, const ParsedOptions& parsed) {
    for (const auto& [index, offset] : parsed.passwordValues) {
        if (index >= static_cast<size_t>(argc) || !argv[index]) continue;
        const size_t length = std::strlen(argv[index]);
        if (offset < length) std::memset(argv[index] + offset, 'x', length - offset);
    }
}

}  // namespace orva
