#include "zentra/strtable.h"

#include <mutex>
#include <shared_mutex>
#include <unordered_map>

namespace zentra {

namespace {

struct StringTable {
    std::shared_mutex lock;
    std::unordered_map<unsigned, CString> texts;
};

StringTable& Table() {
    static StringTable table;
    return table;
}

}  // namespace

void RegisterStringTable(const StringTableEntry* entries, size_t count) {
    if (!entries) return;
    StringTable& table = Table();
    std::unique_lock guard(table.lock);
    for (size_t i = 0; i < count; ++i) table.texts[entries[i].id] = entries[i].text ? entries[i].text : L"";
}

CString LoadString(unsigned id) {
    StringTable& table = Table();
    std::shared_lock guard(table.lock);
    const auto it = table.texts.find(id);
    return it == table.texts.end() ? CString() : it->second;
}

}  // namespace zentra
