// The shell's settings: each SET option, its state member, its messages and the value it is kept
// under between runs, one row of one table. The table drives SET, its help lines, its completion,
// the reset before loading, and the loading and saving of the settings file.
#pragma once

#include <span>

#include "state.h"

namespace orva {

// How SET takes its value.
enum class SettingKind {
    Switch,  // ON or OFF, a number member
    Prompt,  // a text; no value returns to the default
    Editor,  // a text; no value tells the current one
};

struct SettingDef {
    const wchar_t* word;       // the SET word (also completed at the prompt)
    const wchar_t* shortWord;  // its other spelling
    SettingKind kind;
    int (*readNumber)(const ShellState&);   // Switch: the member's value as stored ...
    void (*writeNumber)(ShellState&, int);  // ... and set from a stored value
    CString ShellState::*text;              // Prompt, Editor: the member
    unsigned message;                       // said when set or asked for
    unsigned resetMessage;                  // Prompt: said when it returns to the default
    int onValue;                            // Switch: the value ON stores; OFF stores the other of 0 and 1
    unsigned onText;                        // Switch: the message argument for ON
    unsigned offText;                       // and for OFF
    int queryResult;                        // Switch: the result of SET <word> without a value
    bool oneValue;                          // a word after the value is refused
    const wchar_t* helpUsage;               // the help line: the usage ...
    const wchar_t* helpText;                // ... and what it does
    int helpOrder;                          // where the help line stands among the options' lines
    const wchar_t* storedName;              // the value in the settings file; null when not kept
    int numberDefault;                      // Switch: the default (and what a missing stored value reads as)
    const wchar_t* textDefault;             // Prompt, Editor: the default
};

// Every setting, in the order the settings file keeps them.
std::span<const SettingDef> Settings();

// The setting that `word` names (either spelling, any letter case); null when none does.
const SettingDef* FindSetting(const CString& word);

// The SET words in alphabetical order.
std::span<const wchar_t* const> SettingWords();

// The help lines of the SET options, each ending with "\r\n".
CString SettingsHelp();

// Every setting of `state` at its default (the prompt too when `withPrompt`).
void ResetSettings(ShellState& state, bool withPrompt);

// SET: 1 when an option of the shell was set, 0 when it was not, or the result of the text run as
// a server statement when the option is not the shell's.
int SetOption(const CString& text);

// The settings file: LoadSettings reads the kept settings and the history into the shell state
// (a file that can't be used is said once); SaveSettings writes them back in one change of the
// file (not when the process is being ended by a hang-up or termination).
void LoadSettings();
void SaveSettings();

}  // namespace orva
