// The command line of orva: option matching, parsing into the shell state, usage and version texts.
#pragma once

#include <optional>
#include <utility>
#include <vector>

#include "state.h"

namespace zentra {
class COutput;
}

namespace orva {

// Matches one argument against one option name (one character: a short option, longer: a long
// option). On a match returns true; for a value-taking option `value` receives the value (one
// pair of matching ' or " quotes removed) and `index` advances past a value taken from the next
// argument. `valueMissing` is set when a value-taking option is the last argument.
bool MatchOption(const std::vector<CString>& args, size_t& index, const wchar_t* name, bool takesValue, CString& value,
                 bool* valueMissing = nullptr);

// The type id whose catalogue key matches `key` (alternatives split at '|', compared without
// regard to case, blanks trimmed); 0 when none does.
zentra::DbmsType LookupTypeByKey(const CString& key);

struct ParsedOptions {
    // Set when the program ends after parsing (help, version, unknown option): the exit code.
    std::optional<int> exitCode;
    // -p/--password was given without a value: the password is asked for.
    bool askPassword = false;
    // Where password values stand in the arguments: the argument's index and the offset of the
    // value in it (0 for a value that is an argument of its own).
    std::vector<std::pair<size_t, size_t>> passwordValues;
};

// Parses args[1..] into `state` and fills the catalogue's defaults. Prints the usage text, the
// version line or the unknown-option message through `out` where the command line asks for them.
ParsedOptions ParseCommandLine(const std::vector<CString>& args, ShellState& state, zentra::COutput& out);

// Overwrites the password values of the program's own argument strings in place, so that the
// process's command line (ps, /proc/<pid>/cmdline) no longer shows them.
void HidePasswordArguments(int argc, char** argv, const ParsedOptions& parsed);

// "Orvanta" and "3.0.01": the product name and the version string of the program's version block.
CString ProductName();
CString VersionString();

// The usage text, every line ending with "\r\n".
CString UsageText();

// Message 1 with the version string and the given local time.
CString BannerText(const struct tm& localTime);

}  // namespace orva
