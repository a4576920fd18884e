// The shell's settings table, SET, and the settings kept between runs.
#include "settings.h"

#include <algorithm>
#include <array>
#include <vector>

#include "commands.h"
#include "interrupts.h"
#include "resources.h"
#include "utility.h"
#include "zentra/console.h"
#include "zentra/dataaccess.h"
#include "zentra/format.h"
#include "zentra/history.h"
#include "zentra/settings.h"
#include "zentra/strtable.h"
#include "zentra/words.h"

namespace orva {

using zentra::COutput;
using zentra::CWordPaster;
using zentra::EqualsNoCase;
using zentra::LoadString;

namespace {

// A switch's member as the number the settings file keeps.
struct SwitchMember {
    int (*read)(const ShellState&);
    void (*write)(ShellState&, int);
};

constexpr SwitchMember kLayout{[](const ShellState& s) { return static_cast<int>(s.print.layout); },
                               [](ShellState& s, int v) {
                                   s.print.layout = v == static_cast<int>(PrintLayout::List) ? PrintLayout::List
                                                                                             : PrintLayout::Table;
                               }};
constexpr SwitchMember kTruncate{[](const ShellState& s) { return s.print.truncate ? 1 : 0; },
                                 [](ShellState& s, int v) { s.print.truncate = v != 0; }};
constexpr SwitchMember kShowIndex{[](const ShellState& s) { return s.print.showIndex ? 1 : 0; },
                                  [](ShellState& s, int v) { s.print.showIndex = v != 0; }};
constexpr SwitchMember kErrorBeep{[](const ShellState& s) { return s.errorBeep; },
                                  [](ShellState& s, int v) { s.errorBeep = v; }};

constexpr SettingDef Switch(const wchar_t* word, const wchar_t* shortWord, SwitchMember member, unsigned message,
                            int onValue, unsigned onText, unsigned offText, int queryResult, bool oneValue,
                            const wchar_t* usage, const wchar_t* help, int helpOrder, const wchar_t* stored,
                            int defaultValue) {
    return {word,   shortWord, SettingKind::Switch, member.read, member.write, nullptr, message,   0,      onValue,
            onText, offText,   queryResult,         oneValue,    usage,        help,    helpOrder, stored, defaultValue,
            nullptr};
}

constexpr SettingDef Text(const wchar_t* word, const wchar_t* shortWord, SettingKind kind, CString ShellState::*member,
                          unsigned message, unsigned resetMessage, bool oneValue, const wchar_t* usage,
                          const wchar_t* help, int helpOrder, const wchar_t* stored, const wchar_t* defaultValue) {
    return {word, shortWord, kind,  nullptr, nullptr,   member, message, resetMessage, 0, 0, 0,
            0,    oneValue,  usage, help,    helpOrder, stored, 0,       defaultValue};
}

// In the order the settings file keeps them (after the history).
const SettingDef kSettings[] = {
    Switch(L"TABLE", L"TAB", kLayout, IDS_DISPLAY_AS, 0, IDS_TABLE, IDS_LIST, 0, false, L"TAB[LE] {ON|OFF}",
           L"Display recrods as table(ON) or list(OFF).", 4, L"ResultView", 0),
    Switch(L"TRUNCATE", L"TRUNC", kTruncate, IDS_TRUNCATE, 1, IDS_ON, IDS_OFF, 0, false, L"TRUNC[ATE] {ON|OFF}",
           L"Enable/disable truncate values.", 6, L"TruncValue", 0),
    Switch(L"INDEX", L"IND", kShowIndex, IDS_RECORD_INDEX, 1, IDS_ON, IDS_OFF, 1, true, L"IND[EX] {ON|OFF}",
           L"Enable/disable dispaly record index.", 3, L"RecordNum", 1),
    Text(L"EDITOR", L"ED", SettingKind::Editor, &ShellState::editor, IDS_CURRENT_EDITOR, 0, true, L"ED[ITOR]",
         L"Set command editor.", 1, L"Editor", zentra::kDefaultEditor),
    Switch(L"ERRBEEP", L"BEEP", kErrorBeep, IDS_ERROR_BEEP, 1, IDS_ON, IDS_OFF, 0, false, L"[ERR]BEEP {ON|OFF}",
           L"Beep when command error.", 2, L"ErrorBeep", 1),
    Text(L"SQLPROMPT", L"PROMPT", SettingKind::Prompt, &ShellState::prompt, IDS_PROMPT_SET, IDS_DEFAULT_PROMPT, false,
         L"[SQL]PROMPT", L"Change Orvanta prompt.", 5, nullptr, zentra::kDefaultSqlPrompt),
};

// The help's columns: the usage at 10, the text at 24.
constexpr size_t kUsageIndent = 10;
constexpr size_t kTextColumn = 24;

int ApplySwitch(const CWordPaster& words, const SettingDef& sw) {
    ShellState& st = State();
    COutput& out = *st.output;
    const int count = words.GetWordCount();
    const auto text = [&](bool on) { return LoadString(on ? sw.onText : sw.offText); };
    if (count == 2) {
        const int value = sw.readNumber(st);
        const bool on = sw.onValue ? value != 0 : value == 0;
        out.PrintMessage(sw.message, text(on));
        return sw.queryResult;
    }
    const CString word = words.GetWord(2);
    if (EqualsNoCase(word, L"ON")) {
        sw.writeNumber(st, sw.onValue);
        out.PrintMessage(sw.message, text(true));
        return 1;
    }
    if (EqualsNoCase(word, L"OFF")) {
        sw.writeNumber(st, 1 - sw.onValue);
        out.PrintMessage(sw.message, text(false));
        return 1;
    }
    out.PrintMessage(IDS_UNKNOWN_SET_OPTION, word);
    return 0;
}

int ApplyText(const CWordPaster& words, const SettingDef& def) {
    ShellState& st = State();
    COutput& out = *st.output;
    CString& value = st.*def.text;
    if (words.GetWordCount() == 2) {
        if (def.kind == SettingKind::Editor) {
            out.PrintMessage(def.message, EditorCommand(value));
            return 0;
        }
        value = def.textDefault;
        out.PrintMessage(def.resetMessage, value);
        return 1;
    }
    value = words.GetWord(2);
    out.PrintMessage(def.message, def.kind == SettingKind::Editor ? EditorCommand(value) : value);
    return 1;
}

}  // namespace

std::span<const SettingDef> Settings() { return kSettings; }

const SettingDef* FindSetting(const CString& word) {
    for (const SettingDef& def : kSettings)
        if (EqualsNoCase(word, def.word) || EqualsNoCase(word, def.shortWord)) return &def;
    return nullptr;
}

std::span<const wchar_t* const> SettingWords() {
    static const auto words = [] {
        std::array<const wchar_t*, std::size(kSettings)> list{};
        std::transform(std::begin(kSettings), std::end(kSettings), list.begin(),
                       [](const SettingDef& def) { return def.word; });
        std::sort(list.begin(), list.end(), [](const wchar_t* a, const wchar_t* b) { return CString(a) < b; });
        return list;
    }();
    return words;
}

CString SettingsHelp() {
    std::vector<const SettingDef*> rows;
    for (const SettingDef& def : kSettings) rows.push_back(&def);
    std::sort(rows.begin(), rows.end(),
              [](const SettingDef* a, const SettingDef* b) { return a->helpOrder < b->helpOrder; });
    CString text;
    for (const SettingDef* row : rows) {
        const SettingDef& def = *row;
        CString line = CString(kUsageIndent, L' ') + def.helpUsage;
        if (line.size() < kTextColumn) line.resize(kTextColumn, L' ');
        else line += L"\r\n" + CString(kTextColumn, L' ');
        text += line + def.helpText + L"\r\n";
    }
    return text;
}

void ResetSettings(ShellState& state, bool withPrompt) {
    for (const SettingDef& def : kSettings) {
        if (def.kind == SettingKind::Switch) def.writeNumber(state, def.numberDefault);
        else if (def.kind != SettingKind::Prompt || withPrompt) state.*def.text = def.textDefault;
    }
}

int SetOption(const CString& text) {
    ShellState& st = State();
    COutput& out = *st.output;
    CWordPaster words(text.c_str(), nullptr, nullptr);
    const int count = words.GetWordCount();
    if (count < 2) {
        out.PrintError(IDS_NO_OPTIONS);
        return 0;
    }
    if (const SettingDef* def = FindSetting(words.GetWord(1))) {
        if (def->oneValue && count > 3) {
            out.PrintMessage(IDS_UNKNOWN_SET_OPTION, words.GetWord(3));
            return 0;
        }
        return def->kind == SettingKind::Switch ? ApplySwitch(words, *def) : ApplyText(words, *def);
    }

    // Not one of ours (SET NAMES utf8, SET AUTOCOMMIT OFF, ...): the server's.
    if (st.connection && st.connection->IsConnect()) {
        zentra::CADORecordSet recordset(st.connection.get(), 1);
        return ExecuteStatement(st.connection.get(), text, recordset);
    }
    out.PrintError(IDS_NO_DATABASE);
    return 0;
}

void LoadSettings() {
    ShellState& st = State();
    zentra::CSetting setting;
    zentra::CStringArray commands;
    if (setting.GetHistoryCommands(&commands)) st.history->SetCommandArray(&commands);
    for (const SettingDef& def : kSettings) {
        if (!def.storedName) continue;
        if (def.kind == SettingKind::Switch) {
            def.writeNumber(st, setting.GetSettingInt(def.storedName, def.numberDefault));
            continue;
        }
        // An empty stored text stands for the default.
        CString value;
        if (setting.GetSettingText(def.storedName, def.textDefault, value))
            st.*def.text = value.empty() ? CString(def.textDefault) : value;
    }
    // A settings file that can't be used is said once; the save at exit then stays quiet about it.
    st.settingsProblem = setting.GetLastErrorText();
    if (!st.settingsProblem.empty()) st.output->PrintMessage(L"%s", st.settingsProblem);
    // Line editing on a terminal recalls the shell's own history.
    st.input->SetHistory(st.history.get());
}

void SaveSettings() {
    // A closed terminal ends the shell without saving, even when its input ended first.
    AwaitShutdownIfUnderway();
    ShellState& st = State();
    zentra::CSetting setting;
    // One change of the file for all of them.
    setting.BeginUpdate();
    setting.SetHistoryCommands(st.history->GetCommandArray());
    for (const SettingDef& def : kSettings) {
        if (!def.storedName) continue;
        if (def.kind == SettingKind::Switch) setting.SetSettingInt(def.storedName, def.readNumber(st));
        else setting.SetSettingText(def.storedName, (st.*def.text).c_str());
    }
    if (!setting.EndUpdate() && st.settingsProblem.empty()) {
        CString why = setting.GetLastErrorText();
        st.output->PrintMessage(L"%s", why.empty() ? CString(L"Settings were not saved.") : why);
    }
}

}  // namespace orva
