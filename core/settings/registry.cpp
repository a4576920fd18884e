#include <cstring>
#include <vector>

#include "regfile.h"
#include "zentra/codepage.h"
#include "zentra/settings.h"

namespace zentra {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr size_t kMaxText = regfile::kTextLimit;

const wchar_t* RootName(HKEY root) {
    if (root == HKEY_CLASSES_ROOT) return L"HKEY_CLASSES_ROOT";
    if (root == HKEY_CURRENT_USER) return L"HKEY_CURRENT_USER";
    if (root == HKEY_LOCAL_MACHINE) return L"HKEY_LOCAL_MACHINE";
    if (root == HKEY_USERS) return L"HKEY_USERS";
    return nullptr;
}

bool Writable(HKEY root) { return root == HKEY_CURRENT_USER; }

std::string FileOf(HKEY root) {
    return root == HKEY_CURRENT_USER ? regfile::UserRegistryPath() : regfile::SystemRegistryPath();
}

std::wstring FullPath(HKEY root, const CString& path) {
    std::wstring full = RootName(root);
    if (!path.empty()) full += L"\\" + path;
    return full;
}

// The key at `path` below `root` (the root itself for an empty path), or null.
const regfile::Key* FindKey(const regfile::Hive& hive, HKEY root, const CString& path, bool& exists) {
    const regfile::Key* key = hive.Find(FullPath(root, path));
    exists = key != nullptr || path.empty();
    return key;
}

using Change = std::function<bool(regfile::Hive&)>;

}  // namespace

// What one CRegistry knows beyond its key: the last problem and the writes it collects.
struct RegistryStore {
    CString lastError;
    bool collecting = false;
    HKEY root = nullptr;
    std::shared_ptr<regfile::Hive> view;  // the file as read at BeginUpdate, with the changes
    std::vector<Change> changes;          // each owns what it needs: it runs again at EndUpdate
};

namespace {

std::shared_ptr<const regfile::Hive> LoadRoot(RegistryStore& store, HKEY root) {
    if (store.collecting && store.root == root) return store.view;
    std::string file = FileOf(root);
    regfile::Snapshot snap = regfile::Read(file);
    std::wstring why = regfile::Describe(file, snap);
    if (!why.empty()) store.lastError = why;
    return snap.hive;
}

bool UpdateRoot(RegistryStore& store, HKEY root, Change change) {
    if (store.collecting && store.root == root) {
        if (!change(*store.view)) return false;
        store.changes.push_back(std::move(change));
        return true;
    }
    std::wstring why;
    bool ok = regfile::Update(FileOf(root), change, &why);
    if (!why.empty()) store.lastError = why;
    return ok;
}

bool KeyPresent(RegistryStore& store, HKEY root, const CString& path) {
    if (!RootName(root) || !regfile::IsValidSubKeyPath(path)) return false;
    if (path.empty()) return true;
    return LoadRoot(store, root)->Find(FullPath(root, path)) != nullptr;
}

// Reads one value of the key; false when the key or the value is missing.
bool ReadValue(RegistryStore& store, HKEY root, const CString& path, const CString& name, DWORD& type, Bytes& data) {
    if (!RootName(root) || !regfile::IsValidSubKeyPath(path)) return false;
    auto hive = LoadRoot(store, root);
    bool exists = false;
    const regfile::Key* key = FindKey(*hive, root, path, exists);
    if (!key) return false;
    const regfile::Value* value = regfile::Hive::FindValue(*key, name);
    if (!value) return false;
    type = value->type;
    data = value->data;
    return true;
}

// Changes the existing key at `path` (the root itself when empty) in one locked write.
bool ChangeKey(RegistryStore& store, HKEY root, const CString& path, std::function<bool(regfile::Key&)> change) {
    if (!RootName(root) || !Writable(root) || !regfile::IsValidSubKeyPath(path)) return false;
    std::wstring full = FullPath(root, path);
    bool isRoot = path.empty();
    return UpdateRoot(store, root, [full, isRoot, change](regfile::Hive& hive) {
        regfile::Key* key = isRoot ? &hive.Create(full) : hive.Find(full);
        return key != nullptr && change(*key);
    });
}

bool WriteValue(RegistryStore& store, HKEY root, const CString& path, const CString& name, DWORD type, Bytes data) {
    if (!regfile::IsValidValueName(name)) return false;
    return ChangeKey(store, root, path, [name, type, data](regfile::Key& key) {
        regfile::Hive::SetValue(key, name, type, data);
        return true;
    });
}

// Reads a binary value of at most `size` bytes into `out` (zero-filled beyond the stored bytes).
bool ReadFixed(RegistryStore& store, HKEY root, const CString& path, const CString& name, size_t size, Bytes& out) {
    DWORD type = 0;
    Bytes data;
    if (!ReadValue(store, root, path, name, type, data) || data.size() > size) return false;
    out.assign(size, 0);
    std::memcpy(out.data(), data.data(), data.size());
    return true;
}

void Put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Put64(Bytes& b, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
std::uint32_t Get32(const Bytes& b, size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | b[at + static_cast<size_t>(i)];
    return v;
}
std::uint64_t Get64(const Bytes& b, size_t at) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | b[at + static_cast<size_t>(i)];
    return v;
}
std::int32_t GetInt(const Bytes& b, size_t at) { return static_cast<std::int32_t>(Get32(b, at)); }

Bytes FromDouble(double d) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &d, sizeof bits);
    Bytes b;
    Put64(b, bits);
    return b;
}
double ToDouble(const Bytes& b, size_t at) {
    std::uint64_t bits = Get64(b, at);
    double d = 0;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

constexpr size_t kLogFontSize = 92;

Bytes FromLogFont(const LOGFONTW& lf) {
    Bytes b;
    for (std::int32_t v : {lf.lfHeight, lf.lfWidth, lf.lfEscapement, lf.lfOrientation, lf.lfWeight})
        Put32(b, static_cast<std::uint32_t>(v));
    for (std::uint8_t v : {lf.lfItalic, lf.lfUnderline, lf.lfStrikeOut, lf.lfCharSet, lf.lfOutPrecision,
                           lf.lfClipPrecision, lf.lfQuality, lf.lfPitchAndFamily})
        b.push_back(v);
    for (char16_t c : lf.lfFaceName) {
        b.push_back(static_cast<std::uint8_t>(c & 0xFF));
        b.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return b;
}

LOGFONTW ToLogFont(const Bytes& b) {
    LOGFONTW lf;
    lf.lfHeight = GetInt(b, 0);
    lf.lfWidth = GetInt(b, 4);
    lf.lfEscapement = GetInt(b, 8);
    lf.lfOrientation = GetInt(b, 12);
    lf.lfWeight = GetInt(b, 16);
    lf.lfItalic = b[20];
    lf.lfUnderline = b[21];
    lf.lfStrikeOut = b[22];
    lf.lfCharSet = b[23];
    lf.lfOutPrecision = b[24];
    lf.lfClipPrecision = b[25];
    lf.lfQuality = b[26];
    lf.lfPitchAndFamily = b[27];
    for (size_t i = 0; i < 32; ++i) lf.lfFaceName[i] = static_cast<char16_t>(b[28 + 2 * i] | (b[29 + 2 * i] << 8));
    lf.lfFaceName[31] = 0;
    return lf;
}

}  // namespace

// ---- CFont -----------------------------------------------------------------------------------

int CFont::CreateFontIndirect(const LOGFONTW* description) {
    if (!description) return 0;
    m_logFont = *description;
    m_logFont.lfFaceName[31] = 0;
    m_bValid = true;
    return 1;
}

int CFont::GetLogFont(LOGFONTW* out) const {
    if (!m_bValid || !out) return 0;
    *out = m_logFont;
    return 1;
}

// ---- CRegistry: keys -------------------------------------------------------------------------

CRegistry::CRegistry() : m_hRootKey(HKEY_CURRENT_USER), m_pStore(std::make_shared<RegistryStore>()) {}

int CRegistry::SetRootKey(HKEY root) {
    if (!RootName(root)) return 0;
    m_hRootKey = root;
    return 1;
}

std::shared_ptr<const regfile::Hive> CRegistry::LoadHive() { return LoadRoot(*m_pStore, m_hRootKey); }

bool CRegistry::ChangeHive(const std::function<bool(regfile::Hive&)>& change) {
    if (!RootName(m_hRootKey) || !Writable(m_hRootKey)) return false;
    return UpdateRoot(*m_pStore, m_hRootKey, change);
}

int CRegistry::BeginUpdate() {
    RegistryStore& store = *m_pStore;
    if (store.collecting) return 0;
    store.view = std::make_shared<regfile::Hive>(*LoadRoot(store, m_hRootKey));
    store.changes.clear();
    store.root = m_hRootKey;
    store.collecting = true;
    return 1;
}

int CRegistry::EndUpdate() {
    RegistryStore& store = *m_pStore;
    if (!store.collecting) return 0;
    store.collecting = false;
    store.view.reset();
    std::vector<Change> changes = std::move(store.changes);
    store.changes.clear();
    if (changes.empty()) return 1;
    // The changes run again on the file as it is now: values another program saved since
    // BeginUpdate stay, and a change whose key has gone meanwhile is left out.
    std::wstring why;
    bool ok = regfile::Update(
        FileOf(store.root),
        [&changes](regfile::Hive& hive) {
            for (const Change& change : changes) change(hive);
            return true;
        },
        &why);
    if (!why.empty()) store.lastError = why;
    return ok ? 1 : 0;
}

CString CRegistry::GetLastErrorText() const { return m_pStore->lastError; }

int CRegistry::ClearKey() {
    m_strCurrentPath.clear();
    m_hRootKey = HKEY_CURRENT_USER;
    return 1;
}

int CRegistry::SetKey(CString path, int create) {
    if (path.empty()) {
        m_strCurrentPath.clear();
        return 1;
    }
    if (create) return CreateKey(path);
    if (!KeyPresent(*m_pStore, m_hRootKey, path)) return 0;
    m_strCurrentPath = path;
    return 1;
}

int CRegistry::CreateKey(CString path) {
    if (!KeyPresent(*m_pStore, m_hRootKey, path)) {
        if (!RootName(m_hRootKey) || !Writable(m_hRootKey) || !regfile::IsValidSubKeyPath(path)) return 0;
        std::wstring full = FullPath(m_hRootKey, path);
        bool ok = ChangeHive([full](regfile::Hive& hive) {
            hive.Create(full);
            return true;
        });
        if (!ok) return 0;
    }
    m_strCurrentPath = path;
    return 1;
}

int CRegistry::DeleteKey(CString path) {
    if (path.empty() || !RootName(m_hRootKey) || !regfile::IsValidSubKeyPath(path)) return 0;
    if (!KeyPresent(*m_pStore, m_hRootKey, path)) return 1;
    if (!Writable(m_hRootKey)) return 0;
    std::wstring full = FullPath(m_hRootKey, path);
    auto refused = std::make_shared<bool>(false);
    bool ok = ChangeHive([full, refused](regfile::Hive& hive) {
        if (!hive.Find(full)) return false;  // gone meanwhile
        if (hive.SubKeyCount(full) > 0) {
            *refused = true;
            return false;
        }
        return hive.Remove(full);
    });
    if (ok) return 1;
    return *refused ? 0 : (KeyPresent(*m_pStore, m_hRootKey, path) ? 0 : 1);
}

int CRegistry::KeyExists(CString path, HKEY root) {
    return KeyPresent(*m_pStore, root ? root : m_hRootKey, path) ? 1 : 0;
}

int CRegistry::ValueExists(CString name) {
    DWORD type = 0;
    Bytes data;
    return ReadValue(*m_pStore, m_hRootKey, m_strCurrentPath, name, type, data) ? 1 : 0;
}

int CRegistry::DeleteValue(CString name) {
    return ChangeKey(*m_pStore, m_hRootKey, m_strCurrentPath,
                     [name](regfile::Key& key) { return regfile::Hive::DeleteValue(key, name); })
               ? 1
               : 0;
}

int CRegistry::GetDataSize(CString name) {
    DWORD type = 0;
    Bytes data;
    if (!ReadValue(*m_pStore, m_hRootKey, m_strCurrentPath, name, type, data)) return -1;
    return static_cast<int>(data.size());
}

DWORD CRegistry::GetDataType(CString name) {
    DWORD type = 0;
    Bytes data;
    if (!ReadValue(*m_pStore, m_hRootKey, m_strCurrentPath, name, type, data)) return 0;
    return type;
}

int CRegistry::GetSubKeyCount() {
    if (!RootName(m_hRootKey) || !regfile::IsValidSubKeyPath(m_strCurrentPath)) return -1;
    auto hive = LoadHive();
    bool exists = false;
    FindKey(*hive, m_hRootKey, m_strCurrentPath, exists);
    return exists ? hive->SubKeyCount(FullPath(m_hRootKey, m_strCurrentPath)) : -1;
}

int CRegistry::GetValueCount() {
    if (!RootName(m_hRootKey) || !regfile::IsValidSubKeyPath(m_strCurrentPath)) return -1;
    auto hive = LoadHive();
    bool exists = false;
    const regfile::Key* key = FindKey(*hive, m_hRootKey, m_strCurrentPath, exists);
    if (!exists) return -1;
    return key ? static_cast<int>(key->values.size()) : 0;
}

int CRegistry::RenameValue(CString oldName, CString newName) {
    if (!regfile::IsValidValueName(newName)) return 0;
    return ChangeKey(
               *m_pStore, m_hRootKey, m_strCurrentPath,
               [oldName, newName](regfile::Key& key) { return regfile::Hive::RenameValue(key, oldName, newName); })
               ? 1
               : 0;
}

// ---- CRegistry: values -----------------------------------------------------------------------

CString CRegistry::ReadString(CString name, CString defaultValue) {
    DWORD type = 0;
    Bytes data;
    if (!ReadValue(*m_pStore, m_hRootKey, m_strCurrentPath, name, type, data)) return defaultValue;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return defaultValue;
    if (data.size() > (kMaxText + 1) * 2) return defaultValue;
    std::u16string units;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        char16_t u = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (u == 0) break;
        units.push_back(u);
    }
    return Utf16ToWide(units);
}

int CRegistry::WriteString(CString name, CString value) {
    Bytes data = regfile::TextData(value);
    if (data.size() / 2 - 1 >= kMaxText) return 0;
    return WriteValue(*m_pStore, m_hRootKey, m_strCurrentPath, name, REG_SZ, std::move(data)) ? 1 : 0;
}

int CRegistry::ReadInt(CString name, int defaultValue) {
    Bytes b;
    return ReadFixed(*m_pStore, m_hRootKey, m_strCurrentPath, name, 4, b) ? GetInt(b, 0) : defaultValue;
}

int CRegistry::WriteInt(CString name, int value) {
    Bytes b;
    Put32(b, static_cast<std::uint32_t>(value));
    return WriteValue(*m_pStore, m_hRootKey, m_strCurrentPath, name, REG_BINARY, std::move(b)) ? 1 : 0;
}

int CRegistry::ReadBool(CString name, int defaultValue) { return ReadInt(name, defaultValue); }
int CRegistry::WriteBool(CString name, int value) { return WriteInt(name, value); }

DWORD CRegistry::ReadDword(CString name, DWORD defaultValue) {
    Bytes b;
    return ReadFixed(*m_pStore, m_hRootKey, m_strCurrentPath, name, 4, b) ? Get32(b, 0) : defaultValue;
}

int CRegistry::WriteDword(CString name, DWORD value) { return WriteInt(name, static_cast<int>(value)); }

DWORD CRegistry::ReadColor(CString name, DWORD defaultValue) { return ReadDword(name, defaultValue); }
int CRegistry::WriteColor(CString name, DWORD value) { return WriteDword(name, value); }

double CRegistry::ReadFloat(CString name, double defaultValue) {
    Bytes b;
    return ReadFixed(*m_pStore, m_hRootKey, m_strCurrentPath, name, 8, b) ? ToDouble(b, 0) : defaultValue;
}

int CRegistry::WriteFloat(CString name, double value) {
    return WriteValue(*m_pStore, m_hRootKey, m_strCurrentPath, name, REG_BINARY, FromDouble(value)) ? 1 : 0;
}

int CRegistry::ReadPoint(CString name, CPoint* point) {
    Bytes b;
    if (!point || !ReadFixed(*m_pStore, m_hRootKey, m_strCurrentPath, name, 8, b)) return 0;
    point->x = GetInt(b, 0);
    point->y = GetInt(b, 4);
    return 1;
}

int CRegistry::WritePoint(CString name, CPoint* point) {
    if (!point) return 0;
    Bytes b;
    Put32(b, static_cast<std::uint32_t>(point->x));
    Put32(b, static_cast<std::uint32_t>(point->y));
    return WriteValue(*m_pStore, m_hRootKey, m_strCurrentPath, name, REG_BINARY, std::move(b)) ? 1 : 0;
}

int CRegistry::ReadSize(CString name, CSize* size) {
    Bytes b;
    if (!size || !ReadFixed(*m_pStore, m_hRootKey, m_strCurrentPath, name, 8, b)) return 0;
    size->cx = GetInt(b, 0);
    size->cy = GetInt(b, 4);
    return 1;
}

int CRegistry::WriteSize(CString name, CSize* size) {
    if (!size) return 0;
    Bytes b;
    Put32(b, static_cast<std::uint32_t>(size->cx));
    Put32(b, static_cast<std::uint32_t>(size->cy));
    return WriteValue(*m_pStore, m_hRootKey, m_strCurrentPath, name, REG_BINARY, std::move(b)) ? 1 : 0;
}

int CRegistry::ReadRect(CString name, CRect* rect) {
    Bytes b;
    if (!rect || !ReadFixed(*m_pStore, m_hRootKey, m_strCurrentPath, name, 16, b)) return 0;
    rect->left = GetInt(b, 0);
    rect->top = GetInt(b, 4);
    rect->right = GetInt(b, 8);
    rect->bottom = GetInt(b, 12);
    return 1;
}

int CRegistry::WriteRect(CString name, CRect* rect) {
    if (!rect) return 0;
    Bytes b;
    for (std::int32_t v : {rect->left, rect->top, rect->right, rect->bottom}) Put32(b, static_cast<std::uint32_t>(v));
    return WriteValue(*m_pStore, m_hRootKey, m_strCurrentPath, name, REG_BINARY, std::move(b)) ? 1 : 0;
}

COleDateTime CRegistry::ReadDateTime(CString name, COleDateTime defaultValue) {
    Bytes b;
    if (!ReadFixed(*m_pStore, m_hRootKey, m_strCurrentPath, name, 12, b)) return defaultValue;
    COleDateTime value;
    value.m_dt = ToDouble(b, 0);
    value.m_status = static_cast<COleDateTime::DateTimeStatus>(GetInt(b, 8));
    return value;
}

int CRegistry::WriteDateTime(CString name, COleDateTime value) {
    Bytes b = FromDouble(value.m_dt);
    Put32(b, static_cast<std::uint32_t>(value.m_status));
    return WriteValue(*m_pStore, m_hRootKey, m_strCurrentPath, name, REG_BINARY, std::move(b)) ? 1 : 0;
}

int CRegistry::ReadFont(CString name, CFont* font) {
    Bytes b;
    if (!font || !ReadFixed(*m_pStore, m_hRootKey, m_strCurrentPath, name, kLogFontSize, b)) return 0;
    LOGFONTW lf = ToLogFont(b);
    font->DeleteObject();
    return font->CreateFontIndirect(&lf);
}

int CRegistry::WriteFont(CString name, CFont* font) {
    LOGFONTW lf;
    if (!font || !font->GetLogFont(&lf)) return 0;
    return WriteValue(*m_pStore, m_hRootKey, m_strCurrentPath, name, REG_BINARY, FromLogFont(lf)) ? 1 : 0;
}

}  // namespace zentra
