// The registry file: a tree of keys with typed values, kept in the regedit text format.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Orvanta\Setting]
//   "Prompt"="SQL> "
//   "RecordNum"=hex:01,00,00,00
//   "Item 0"=hex(1):73,00,0a,00,00,00
//
// The file is UTF-8 (a UTF-8 or UTF-16LE byte-order mark is accepted when reading). Names and
// texts are written between double quotes with \" and \\ for a quote and a backslash; a name that
// holds a line break writes it as \n or \r. A text that holds a line break or another control
// character is written as hex(1): bytes (REG_SZ, UTF-16LE with its terminating zero), so that every
// value stays on one line and reads back exactly; REG_EXPAND_SZ is always written as hex(2):,
// REG_DWORD as dword:, REG_BINARY as hex:, other types as hex(N):. Long hex values stay on one line;
// a reader also joins regedit's "\" continuation lines.
//
// Parsing never fails: a line that does not parse (a torn last line, a hand-edited mistake) is
// skipped and reading goes on with the next line. A line that is not UTF-8 is written back as it
// was read until its value changes. What is not a regular file of at most kFileLimit bytes, or
// cannot be read whole, is not used and never replaced. Key paths and value names compare without regard
// to letter case, as in the registry; they keep the spelling they were created with.
//
// Writing is a read-modify-write under an exclusive flock on a lock file beside the registry file:
// the current file is read, the change applied, and the result written to a temporary file in the
// same directory, fsync'd and renamed over the old file. Two programs that change values at the same
// time therefore keep each other's changes, and a crash leaves either the old or the new file.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <string_view>
#include <vector>

namespace zentra::regfile {

struct Value {
    std::wstring name;  // empty: the key's default value ("@")
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    // The line as read when it was not UTF-8; written back unchanged until the value changes.
    std::string raw;
};

struct Key {
    std::wstring path;          // full path with the root's name, e.g. HKEY_CURRENT_USER\Software
    std::vector<Value> values;  // in the order they were added; changed only through Hive
    std::unordered_map<std::wstring, std::size_t> index;  // case-folded name -> position
};

// The keys of one file, in an order where a parent comes before its children.
class Hive {
public:
    // The key at the full path, or null. A root key ("HKEY_CURRENT_USER") is present only once it
    // was created or holds keys; callers treat a root as always there.
    Key* Find(std::wstring_view path);
    const Key* Find(std::wstring_view path) const;
    // Creates the key and every missing parent; returns the key.
    Key& Create(std::wstring_view path);
    // Removes the key alone (callers check for subkeys first). False when absent.
    bool Remove(std::wstring_view path);
    // The number of direct subkeys of the key.
    int SubKeyCount(std::wstring_view path) const;

    static Value* FindValue(Key& key, std::wstring_view name);
    static const Value* FindValue(const Key& key, std::wstring_view name);
    // Adds the value or replaces the type and data of an existing one (keeping its spelling).
    static void SetValue(Key& key, std::wstring_view name, std::uint32_t type, std::vector<std::uint8_t> data);
    static bool DeleteValue(Key& key, std::wstring_view name);
    // Gives the value another name; false when it is missing or another value has that name.
    static bool RenameValue(Key& key, std::wstring_view name, std::wstring_view newName);

    // Reads the file's bytes; lines that do not parse are skipped.
    static Hive Parse(std::string_view bytes);
    // The file's bytes.
    std::string Serialize() const;

private:
    static std::wstring Fold(std::wstring_view path);
    std::map<std::wstring, Key> keys_;  // by case-folded path
};

// Texts of this many UTF-16 code units or more are neither written nor read by the settings store.
constexpr std::size_t kTextLimit = 255;

// REG_SZ data for a text: its UTF-16LE code units and a terminating zero. The text ends at its
// first NUL, as a C string would.
std::vector<std::uint8_t> TextData(std::wstring_view text);

// The names of the predefined roots as they appear in section headers; true when `name` is one.
bool IsRootName(std::wstring_view name);

// Whether a key path below a root can be stored: no empty component, no leading or doubled
// backslash, no control character. The empty path (the root itself) is valid.
bool IsValidSubKeyPath(std::wstring_view path);
// Whether a value name can be stored (no NUL).
bool IsValidValueName(std::wstring_view name);

// $XDG_CONFIG_HOME/orvanta/registry.reg, or ~/.config/orvanta/registry.reg; empty when neither
// XDG_CONFIG_HOME nor a home directory is known.
std::string UserRegistryPath();
// The first orvanta/registry.reg below the directories of $XDG_CONFIG_DIRS (default /etc/xdg)
// that exists; empty when there is none.
std::string SystemRegistryPath();

// What reading the file found. Only Read and Missing leave the file fit to be written over: a
// file that could not be read whole is never replaced.
enum class FileState { Read, Missing, Unreadable, NotRegular, TooLarge };

// A settings file larger than this is damaged, not settings; it is neither read nor replaced.
constexpr std::size_t kFileLimit = 4u << 20;

struct Snapshot {
    FileState state = FileState::Missing;
    int error = 0;                     // errno for Unreadable
    std::shared_ptr<const Hive> hive;  // never null; empty unless state is Read
};

// Reads the file without ever blocking: whatever is in its place (a FIFO, a device, a link to
// one) is checked before a byte is read, and at most kFileLimit bytes are taken. A file that is
// unchanged since the last read in this process (same inode, size and times) is not parsed again.
Snapshot Read(const std::string& path);

// A sentence telling why the file at `path` is not used, for a snapshot that is not Read or
// Missing; empty otherwise.
std::wstring Describe(const std::string& path, const Snapshot& snapshot);

// The file's keys; a missing or unusable file gives an empty hive.
Hive Load(const std::string& path);

// Read-modify-write under the file's lock. `change` edits the hive and returns true to have it
// written, false to leave the file alone. Creates the directory (0700) when missing; the file is
// written with mode 0600. Only a regular file that belongs to the user is replaced: a symbolic
// link, a file of another user or a file that can't be read whole is refused. True only when
// `change` returned true and the new file is in place; otherwise `error` (when given) tells why,
// and stays empty when `change` declined.
bool Update(const std::string& path, const std::function<bool(Hive&)>& change, std::wstring* error = nullptr);

}  // namespace zentra::regfile
