#include "regfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "zentra/unique_fd.h"
#include "zentra/codepage.h"
#include "zentra/text.h"

namespace zentra::regfile {

namespace {

constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;

constexpr const wchar_t* kRootNames[] = {
    L"HKEY_CLASSES_ROOT", L"HKEY_CURRENT_USER", L"HKEY_LOCAL_MACHINE", L"HKEY_USERS", L"HKEY_CURRENT_CONFIG",
};

constexpr const char kHeader[] = "Windows Registry Editor Version 5.00";

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// mkdir -p; new directories get mode 0700.
bool MakeDirectories(const std::string& dir) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    std::string parent = DirectoryOf(dir);
    if (parent != dir && !MakeDirectories(parent)) return false;
    if (::mkdir(dir.c_str(), 0700) == 0) return true;
    return errno == EEXIST && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// ---- text pieces -----------------------------------------------------------------------------

bool IsSpace(wchar_t ch) { return ch == L' ' || ch == L'\t'; }

void SkipSpaces(std::wstring_view s, size_t& i) {
    while (i < s.size() && IsSpace(s[i])) ++i;
}

// A quoted name or text starting at s[i] == '"'. Knows \\ and \" (and \n, \r, \0-free); any other
// backslash is kept as it stands, as hand-written paths like "C:\temp" expect.
bool ParseQuoted(std::wstring_view s, size_t& i, std::wstring& out) {
    if (i >= s.size() || s[i] != L'"') return false;
    ++i;
    out.clear();
    while (i < s.size()) {
        wchar_t ch = s[i++];
        if (ch == L'"') return true;
        if (ch == L'\\' && i < s.size()) {
            wchar_t next = s[i];
            if (next == L'\\' || next == L'"') {
                out.push_back(next);
                ++i;
                continue;
            }
            if (next == L'n') {
                out.push_back(L'\n');
                ++i;
                continue;
            }
            if (next == L'r') {
                out.push_back(L'\r');
                ++i;
                continue;
            }
        }
        out.push_back(ch);
    }
    return false;  // no closing quote: a torn or broken line
}

std::wstring Quote(std::wstring_view text) {
    std::wstring out = L"\"";
    for (wchar_t ch : text) {
        switch (ch) {
        case L'\\': out += L"\\\\"; break;
        case L'"': out += L"\\\""; break;
        case L'\n': out += L"\\n"; break;
        case L'\r': out += L"\\r"; break;
        default: out.push_back(ch);
        }
    }
    out.push_back(L'"');
    return out;
}

int HexDigit(wchar_t ch) {
    if (ch >= L'0' && ch <= L'9') return ch - L'0';
    if (ch >= L'a' && ch <= L'f') return ch - L'a' + 10;
    if (ch >= L'A' && ch <= L'F') return ch - L'A' + 10;
    return -1;
}

// "01,ab, 7f" — one or two hex digits per byte, commas between, blanks allowed around them.
bool ParseHexBytes(std::wstring_view s, std::vector<std::uint8_t>& out) {
    out.clear();
    size_t i = 0;
    SkipSpaces(s, i);
    if (i == s.size()) return true;
    for (;;) {
        SkipSpaces(s, i);
        int hi = i < s.size() ? HexDigit(s[i]) : -1;
        if (hi < 0) return false;
        ++i;
        int value = hi;
        if (i < s.size() && HexDigit(s[i]) >= 0) value = value * 16 + HexDigit(s[i++]);
        out.push_back(static_cast<std::uint8_t>(value));
        SkipSpaces(s, i);
        if (i == s.size()) return true;
        if (s[i] != L',') return false;
        ++i;
    }
}

}  // namespace

std::vector<std::uint8_t> TextData(std::wstring_view text) {
    text = text.substr(0, text.find(L'\0'));
    std::u16string units = WideToUtf16(text);
    std::vector<std::uint8_t> data;
    data.reserve((units.size() + 1) * 2);
    for (char16_t u : units) {
        data.push_back(static_cast<std::uint8_t>(u & 0xFF));
        data.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

namespace {

// The data of a REG_SZ when it can be written as a quoted text: an even number of bytes ending in
// one terminating zero, no other zero, no control character.
bool TextForQuoting(const std::vector<std::uint8_t>& data, std::wstring& text) {
    if (data.size() < 2 || data.size() % 2 != 0) return false;
    std::u16string units;
    for (size_t i = 0; i + 1 < data.size(); i += 2)
        units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    if (units.back() != 0) return false;
    units.pop_back();
    for (char16_t u : units)
        if (u < 0x20 || u == 0x7F || (u >= 0xD800 && u <= 0xDFFF)) return false;
    text = Utf16ToWide(units);
    return true;
}

std::wstring HexList(const std::vector<std::uint8_t>& data) {
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring out;
    out.reserve(data.size() * 3);
    for (size_t i = 0; i < data.size(); ++i) {
        if (i) out.push_back(L',');
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 0xF]);
    }
    return out;
}

std::wstring ValueLine(const Value& v) {
    std::wstring line = v.name.empty() ? std::wstring(L"@") : Quote(v.name);
    line.push_back(L'=');
    std::wstring text;
    if (v.type == kRegSz && TextForQuoting(v.data, text)) {
        line += Quote(text);
    } else if (v.type == kRegDword && v.data.size() == 4) {
        std::uint32_t d =
            v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (static_cast<std::uint32_t>(v.data[3]) << 24);
        static const wchar_t digits[] = L"0123456789abcdef";
        line += L"dword:";
        for (int shift = 28; shift >= 0; shift -= 4) line.push_back(digits[(d >> shift) & 0xF]);
    } else if (v.type == kRegBinary) {
        line += L"hex:" + HexList(v.data);
    } else {
        static const wchar_t digits[] = L"0123456789abcdef";
        std::wstring type;
        std::uint32_t t = v.type;
        do {
            type.insert(type.begin(), digits[t & 0xF]);
            t >>= 4;
        } while (t);
        line += L"hex(" + type + L"):" + HexList(v.data);
    }
    return line;
}

// The value text after '=': a quoted text, dword:, hex:, hex(N):, or '-' (delete).
enum class Parsed { Bad, Set, Delete };

Parsed ParseData(std::wstring_view s, std::uint32_t& type, std::vector<std::uint8_t>& data) {
    size_t i = 0;
    SkipSpaces(s, i);
    std::wstring_view rest = s.substr(i);
    while (!rest.empty() && IsSpace(rest.back())) rest.remove_suffix(1);
    if (rest == L"-") return Parsed::Delete;
    if (!rest.empty() && rest[0] == L'"') {
        size_t j = 0;
        std::wstring text;
        if (!ParseQuoted(rest, j, text) || j != rest.size()) return Parsed::Bad;
        type = kRegSz;
        data = TextData(text);
        return Parsed::Set;
    }
    if (rest.size() > 6 && CompareNoCase(rest.substr(0, 6), L"dword:") == 0) {
        std::wstring_view digits = rest.substr(6);
        if (digits.empty() || digits.size() > 8) return Parsed::Bad;
        std::uint32_t d = 0;
        for (wchar_t ch : digits) {
            int h = HexDigit(ch);
            if (h < 0) return Parsed::Bad;
            d = d * 16 + static_cast<std::uint32_t>(h);
        }
        type = kRegDword;
        data = {static_cast<std::uint8_t>(d), static_cast<std::uint8_t>(d >> 8), static_cast<std::uint8_t>(d >> 16),
                static_cast<std::uint8_t>(d >> 24)};
        return Parsed::Set;
    }
    if (rest.size() >= 4 && CompareNoCase(rest.substr(0, 3), L"hex") == 0) {
        size_t j = 3;
        std::uint32_t t = kRegBinary;
        if (rest[j] == L'(') {
            ++j;
            size_t start = j;
            t = 0;
            while (j < rest.size() && HexDigit(rest[j]) >= 0) {
                if (j - start >= 8) return Parsed::Bad;
                t = t * 16 + static_cast<std::uint32_t>(HexDigit(rest[j++]));
            }
            if (j == start || j >= rest.size() || rest[j] != L')') return Parsed::Bad;
            ++j;
        }
        if (j >= rest.size() || rest[j] != L':') return Parsed::Bad;
        if (!ParseHexBytes(rest.substr(j + 1), data)) return Parsed::Bad;
        type = t;
        return Parsed::Set;
    }
    return Parsed::Bad;
}

// The file as UTF-8: a UTF-16LE file (regedit's own export) is converted, a UTF-8 byte-order mark
// dropped. Bytes that are not UTF-8 stay as they are: each line is decoded on its own.
std::string FileBytes(std::string_view bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::u16string units;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                  (static_cast<unsigned char>(bytes[i + 1]) << 8)));
        return WideToUtf8(Utf16ToWide(units));
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    return std::string(bytes);
}

// The section header's path when it names a known root: "HKEY_CURRENT_USER\Software".
bool SectionPath(std::wstring_view inner, std::wstring& path) {
    size_t slash = inner.find(L'\\');
    std::wstring_view root = inner.substr(0, slash);
    if (!IsRootName(root)) return false;
    std::wstring_view sub = slash == std::wstring_view::npos ? std::wstring_view() : inner.substr(slash + 1);
    if (!IsValidSubKeyPath(sub)) return false;
    path = std::wstring(inner);
    return true;
}

}  // namespace

// ---- Hive ------------------------------------------------------------------------------------

std::wstring Hive::Fold(std::wstring_view path) { return ToUpper(path); }

Key* Hive::Find(std::wstring_view path) {
    auto it = keys_.find(Fold(path));
    return it == keys_.end() ? nullptr : &it->second;
}

const Key* Hive::Find(std::wstring_view path) const {
    auto it = keys_.find(Fold(path));
    return it == keys_.end() ? nullptr : &it->second;
}

Key& Hive::Create(std::wstring_view path) {
    // Every parent first, so that a key never exists without them.
    for (size_t pos = path.find(L'\\'); pos != std::wstring_view::npos; pos = path.find(L'\\', pos + 1)) {
        std::wstring_view parent = path.substr(0, pos);
        std::wstring folded = Fold(parent);
        if (keys_.find(folded) == keys_.end()) keys_.emplace(folded, Key{std::wstring(parent), {}, {}});
    }
    std::wstring folded = Fold(path);
    auto it = keys_.find(folded);
    if (it == keys_.end()) it = keys_.emplace(folded, Key{std::wstring(path), {}, {}}).first;
    return it->second;
}

bool Hive::Remove(std::wstring_view path) { return keys_.erase(Fold(path)) > 0; }

int Hive::SubKeyCount(std::wstring_view path) const {
    std::wstring prefix = Fold(path) + L'\\';
    int count = 0;
    for (auto it = keys_.lower_bound(prefix); it != keys_.end(); ++it) {
        const std::wstring& k = it->first;
        if (k.compare(0, prefix.size(), prefix) != 0) break;
        if (k.find(L'\\', prefix.size()) == std::wstring::npos) ++count;
    }
    return count;
}

Value* Hive::FindValue(Key& key, std::wstring_view name) {
    auto it = key.index.find(Fold(name));
    return it == key.index.end() ? nullptr : &key.values[it->second];
}

const Value* Hive::FindValue(const Key& key, std::wstring_view name) {
    auto it = key.index.find(Fold(name));
    return it == key.index.end() ? nullptr : &key.values[it->second];
}

void Hive::SetValue(Key& key, std::wstring_view name, std::uint32_t type, std::vector<std::uint8_t> data) {
    if (Value* v = FindValue(key, name)) {
        v->type = type;
        v->data = std::move(data);
        v->raw.clear();
        return;
    }
    key.index.emplace(Fold(name), key.values.size());
    key.values.push_back(Value{std::wstring(name), type, std::move(data), {}});
}

bool Hive::DeleteValue(Key& key, std::wstring_view name) {
    auto it = key.index.find(Fold(name));
    if (it == key.index.end()) return false;
    const std::size_t at = it->second;
    key.values.erase(key.values.begin() + static_cast<std::ptrdiff_t>(at));
    key.index.erase(it);
    for (auto& [folded, position] : key.index)
        if (position > at) --position;
    return true;
}

bool Hive::RenameValue(Key& key, std::wstring_view name, std::wstring_view newName) {
    auto it = key.index.find(Fold(name));
    if (it == key.index.end()) return false;
    const std::wstring folded = Fold(newName);
    auto other = key.index.find(folded);
    if (other != key.index.end() && other != it) return false;
    const std::size_t at = it->second;
    key.index.erase(it);
    key.index.emplace(folded, at);
    key.values[at].name = std::wstring(newName);
    return true;
}

namespace {

// The lines of a settings file, one at a time, each without its line end.
class LineReader {
public:
    explicit LineReader(const std::string& text) : text_(text) {}
    bool AtEnd() const { return pos_ >= text_.size(); }
    // The next line, trimmed; `ended` tells whether a line feed followed it, `raw` gets its bytes
    // (trimmed) when they are not UTF-8.
    std::wstring Next(bool& ended, std::string* raw = nullptr) {
        size_t end = text_.find('\n', pos_);
        ended = end != std::string::npos;
        if (!ended) end = text_.size();
        std::string_view bytesOfLine(text_.data() + pos_, end - pos_);
        pos_ = end + 1;
        if (!bytesOfLine.empty() && bytesOfLine.back() == '\r') bytesOfLine.remove_suffix(1);
        std::wstring line = Utf8ToWide(bytesOfLine);
        if (raw) {
            raw->clear();
            if (WideToUtf8(line) != bytesOfLine) {
                std::string_view kept = bytesOfLine;
                while (!kept.empty() && (kept.front() == ' ' || kept.front() == '\t')) kept.remove_prefix(1);
                while (!kept.empty() && (kept.back() == ' ' || kept.back() == '\t')) kept.remove_suffix(1);
                *raw = kept;
            }
        }
        return Trim(line, L" \t");
    }

private:
    const std::string& text_;
    size_t pos_ = 0;
};

}  // namespace

Hive Hive::Parse(std::string_view bytes) {
    Hive hive;
    const std::string text = FileBytes(bytes);
    Key* current = nullptr;
    LineReader lines(text);
    while (!lines.AtEnd()) {
        bool ended = false;
        std::string raw;
        std::wstring line = lines.Next(ended, &raw);

        if (line.empty() || line[0] == L';') continue;
        if (line[0] == L'[') {
            current = nullptr;
            std::wstring path;
            // "[-...]" deletes a key in a merge file; in a stored file it simply names nothing.
            if (ended && line.size() >= 2 && line.back() == L']' && line[1] != L'-' &&
                SectionPath(std::wstring_view(line).substr(1, line.size() - 2), path))
                current = &hive.Create(path);
            continue;
        }
        if (line[0] != L'"' && line[0] != L'@') continue;  // the header or a stray line

        std::wstring name;
        size_t i = 0;
        if (line[0] == L'@') {
            i = 1;
        } else if (!ParseQuoted(line, i, name)) {
            continue;
        }
        SkipSpaces(line, i);
        if (i >= line.size() || line[i] != L'=') continue;
        ++i;
        SkipSpaces(line, i);
        std::wstring data = line.substr(i);
        bool hex = data.size() >= 3 && CompareNoCase(std::wstring_view(data).substr(0, 3), L"hex") == 0;
        // Hex data that regedit continued on the next lines ("...,\").
        while (hex && ended && !data.empty() && data.back() == L'\\' && !lines.AtEnd()) {
            data.pop_back();
            data += lines.Next(ended);
            raw.clear();  // only a value of one line is kept as read
        }
        // A last line without its line end may be cut short (a torn copy): only a quoted text,
        // whose closing quote shows it is whole, is taken from it.
        bool quoted = !data.empty() && data[0] == L'"';
        if (!current || (!ended && !quoted)) continue;

        std::uint32_t type = 0;
        std::vector<std::uint8_t> value;
        switch (ParseData(data, type, value)) {
        case Parsed::Bad: break;
        case Parsed::Delete: DeleteValue(*current, name); break;
        case Parsed::Set:
            SetValue(*current, name, type, std::move(value));
            // A line that is not UTF-8 (a hand-edited Latin-1 text) is written back as it was
            // read for as long as nothing changes the value.
            FindValue(*current, name)->raw = raw;
            break;
        }
    }
    return hive;
}

std::string Hive::Serialize() const {
    std::string out;
    for (const auto& [folded, key] : keys_) {
        // A root without values of its own is implied by its keys.
        if (key.values.empty() && key.path.find(L'\\') == std::wstring::npos) continue;
        std::string keyBytes = WideToUtf8(L"\n[" + key.path + L"]\n");
        out += keyBytes;
        for (const auto& v : key.values) out += (v.raw.empty() ? WideToUtf8(ValueLine(v)) : v.raw) + "\n";
    }
    return std::string(kHeader) + "\n" + out;
}

// ---- names and paths -------------------------------------------------------------------------

bool IsRootName(std::wstring_view name) {
    for (const wchar_t* root : kRootNames)
        if (EqualsNoCase(name, root)) return true;
    return false;
}

bool IsValidSubKeyPath(std::wstring_view path) {
    if (path.empty()) return true;
    if (path.front() == L'\\' || path.back() == L'\\') return false;
    wchar_t previous = 0;
    for (wchar_t ch : path) {
        if (ch < 0x20 || ch == 0x7F) return false;
        if (ch == L'\\' && previous == L'\\') return false;
        previous = ch;
    }
    return true;
}

bool IsValidValueName(std::wstring_view name) { return name.find(L'\0') == std::wstring_view::npos; }

std::string UserRegistryPath() {
    std::string base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        std::string dir = home && home[0] == '/' ? home : "";
        if (dir.empty()) {
            struct passwd pw {};
            struct passwd* found = nullptr;
            std::vector<char> buffer(16384);
            if (getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
                found->pw_dir[0] == '/')
                dir = found->pw_dir;
        }
        if (dir.empty()) return {};
        base = dir + "/.config";
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base + "/orvanta/registry.reg";
}

std::string SystemRegistryPath() {
    const char* dirs = std::getenv("XDG_CONFIG_DIRS");
    std::string list = dirs && dirs[0] ? dirs : "/etc/xdg";
    size_t start = 0;
    while (start <= list.size()) {
        size_t colon = list.find(':', start);
        if (colon == std::string::npos) colon = list.size();
        std::string dir = list.substr(start, colon - start);
        start = colon + 1;
        if (dir.empty() || dir[0] != '/') continue;
        std::string path = dir + "/orvanta/registry.reg";
        if (::access(path.c_str(), R_OK) == 0) return path;
    }
    return {};
}

// ---- files -----------------------------------------------------------------------------------

namespace {

std::wstring PathText(const std::string& path) { return MultiByteToWide(path, CP_ACP); }

std::wstring ErrnoText(int error) { return MultiByteToWide(std::strerror(error), CP_ACP); }

// The last file parsed in this process and its bytes, so that a run of reads of an unchanged file
// parses it once. Reading the bytes again is cheap; parsing them is not.
struct Cache {
    std::mutex mutex;
    std::string path;
    std::string bytes;
    std::shared_ptr<const Hive> hive;
};

Cache& TheCache() {
    static Cache cache;
    return cache;
}

std::shared_ptr<const Hive> Parsed(const std::string& path, std::string bytes) {
    Cache& c = TheCache();
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        if (c.hive && c.path == path && c.bytes == bytes) return c.hive;
    }
    auto hive = std::make_shared<const Hive>(Hive::Parse(bytes));
    std::lock_guard<std::mutex> lock(c.mutex);
    c.path = path;
    c.bytes = std::move(bytes);
    c.hive = hive;
    return hive;
}

std::shared_ptr<const Hive> EmptyHive() {
    static const std::shared_ptr<const Hive> empty = std::make_shared<Hive>();
    return empty;
}

// Reads an open file whose type and size were checked; false on a read error.
bool ReadBounded(int fd, std::string& out, int& error) {
    char buffer[16384];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            return false;
        }
        if (n == 0) return true;
        out.append(buffer, static_cast<size_t>(n));
        if (out.size() > kFileLimit) return true;  // grew while being read: the caller refuses it
    }
}

// The new file of a save is written as "registry.reg.tmp-XXXXXX" and renamed over the old one.
constexpr char kTempSuffix[] = ".tmp-";

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

// Temporary files of saves that a killed program never renamed. Called under the lock, when no
// other save can be writing one.
void RemoveLeftovers(const std::string& path, const std::string& own) {
    std::string dir = DirectoryOf(path);
    std::string base = path.substr(path.rfind('/') + 1) + kTempSuffix;
    std::unique_ptr<DIR, DirCloser> d(::opendir(dir.c_str()));
    if (!d) return;
    uid_t me = ::geteuid();
    while (dirent* entry = ::readdir(d.get())) {
        std::string_view name = entry->d_name;
        if (name.size() != base.size() + 6 || name.compare(0, base.size(), base) != 0) continue;
        bool random = true;
        for (char ch : name.substr(base.size()))
            random = random && ((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z'));
        if (!random) continue;
        std::string full = dir + "/" + std::string(name);
        if (full == own) continue;
        struct stat st {};
        if (::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == me) ::unlink(full.c_str());
    }
}

Snapshot ReadFile(const std::string& path, bool followLinks) {
    Snapshot snap;
    snap.hive = EmptyHive();
    if (path.empty()) return snap;
    // O_NONBLOCK: opening a FIFO must not wait for a writer. Nothing is read before the type check.
    int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (followLinks ? 0 : O_NOFOLLOW);
    UniqueFd fd(::open(path.c_str(), flags));
    if (fd.Get() < 0) {
        if (errno == ENOENT) return snap;  // the first run: nothing stored yet
        snap.error = errno;
        snap.state = errno == ELOOP ? FileState::NotRegular : FileState::Unreadable;
        return snap;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        snap.error = errno;
        snap.state = FileState::Unreadable;
        return snap;
    }
    if (!S_ISREG(st.st_mode)) {
        snap.state = FileState::NotRegular;
        return snap;
    }
    if (static_cast<unsigned long long>(st.st_size) > kFileLimit) {
        snap.state = FileState::TooLarge;
        return snap;
    }
    std::string bytes;
    if (!ReadBounded(fd.Get(), bytes, snap.error)) {
        snap.state = FileState::Unreadable;
        return snap;
    }
    if (bytes.size() > kFileLimit) {
        snap.state = FileState::TooLarge;
        return snap;
    }
    auto hive = Parsed(path, std::move(bytes));
    snap.state = FileState::Read;
    snap.hive = std::move(hive);
    return snap;
}

}  // namespace

Snapshot Read(const std::string& path) { return ReadFile(path, true); }

std::wstring Describe(const std::string& path, const Snapshot& snapshot) {
    std::wstring file = PathText(path);
    switch (snapshot.state) {
    case FileState::Read:
    case FileState::Missing: return {};
    case FileState::Unreadable:
        return L"The settings file " + file + L" can't be read (" + ErrnoText(snapshot.error) +
               L"): defaults are used and the file is not written.";
    case FileState::NotRegular:
        return L"The settings file " + file +
               L" is not a regular file: defaults are used and nothing is written to it.";
    case FileState::TooLarge:
        return L"The settings file " + file +
               L" is too large to be settings: defaults are used and the file is not written.";
    }
    return {};
}

Hive Load(const std::string& path) { return *Read(path).hive; }

bool Update(const std::string& path, const std::function<bool(Hive&)>& change, std::wstring* error) {
    std::wstring ignored;
    std::wstring& why = error ? *error : ignored;
    why.clear();
    if (path.empty()) {
        why = L"No settings file: neither XDG_CONFIG_HOME nor a home directory is known.";
        return false;
    }
    const std::wstring file = PathText(path);
    auto refuse = [&](const std::wstring& reason) {
        why = L"Settings were not saved: " + reason;
        return false;
    };
    auto failed = [&](const wchar_t* what, int err) {
        return refuse(std::wstring(what) + L" " + file + L" (" + ErrnoText(err) + L").");
    };
    // Only a regular file of the user's own is replaced: never a file reached through a link.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode))
            return refuse(L"the settings file " + file + L" is a symbolic link, which is not written through.");
        if (!S_ISREG(st.st_mode)) return refuse(L"the settings file " + file + L" is not a regular file.");
        if (st.st_uid != ::geteuid()) return refuse(L"the settings file " + file + L" belongs to another user.");
    }
    std::string dir = DirectoryOf(path);
    if (!MakeDirectories(dir)) return failed(L"can't create the directory of", errno ? errno : ENOTDIR);

    // The lock lives in its own file: the registry file itself is replaced on every write.
    std::string lockPath = path + ".lock";
    UniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600));
    if (lock.Get() < 0) return failed(L"can't open the lock file of", errno);
    struct stat lst {};
    if (::fstat(lock.Get(), &lst) != 0 || !S_ISREG(lst.st_mode))
        return refuse(L"the lock file " + PathText(lockPath) + L" is not a regular file.");
    while (::flock(lock.Get(), LOCK_EX) != 0)
        if (errno != EINTR) return failed(L"can't lock", errno);

    // Read again under the lock: what another program saved meanwhile is kept.
    Snapshot current = ReadFile(path, false);
    if (current.state != FileState::Read && current.state != FileState::Missing) {
        if (current.state == FileState::NotRegular)
            return refuse(L"the settings file " + file + L" is not a regular file.");
        if (current.state == FileState::TooLarge)
            return refuse(L"the settings file " + file + L" is too large to be settings and is kept as it is.");
        return refuse(L"the settings file " + file + L" can't be read (" + ErrnoText(current.error) +
                      L") and is kept as it is.");
    }
    Hive hive = *current.hive;
    if (!change(hive)) return false;
    std::string bytes = hive.Serialize();

    std::string temp = path + kTempSuffix + "XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    UniqueFd out(::mkostemp(name.data(), O_CLOEXEC));  // mode 0600
    if (out.Get() < 0) return failed(L"can't create a new file beside", errno);
    RemoveLeftovers(path, name.data());
    int err = 0;
    bool ok = WriteAll(out.Get(), bytes) && ::fsync(out.Get()) == 0;
    if (!ok) err = errno;
    if (!out.Close() && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(name.data(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(name.data());
        return failed(L"can't write", err);
    }
    return true;  // the lock is released when `lock` closes
}

}  // namespace zentra::regfile
