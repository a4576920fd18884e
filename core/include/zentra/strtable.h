// The string table of a program: numbered texts compiled into the program and looked up by id.
//
// A program registers its table once at start, before it starts other threads:
//
//     static const zentra::StringTableEntry kStrings[] = {{1, L"Bye\r\n"}, {2, L"..."}};
//     zentra::RegisterStringTable(kStrings, std::size(kStrings));
//
// The texts are copied, so the entries need not outlive the call. Registering again adds the new
// entries; an id given again replaces its earlier text. Look-ups may come from any thread.
#pragma once

#include <cstddef>

#include "zentra/text.h"

namespace zentra {

struct StringTableEntry {
    unsigned id;
    const wchar_t* text;  // null is taken as an empty text
};

void RegisterStringTable(const StringTableEntry* entries, size_t count);

// The text of `id`; an empty string for an id that has no text.
CString LoadString(unsigned id);

}  // namespace zentra
