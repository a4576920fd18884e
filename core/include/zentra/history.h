// The bounded history of entered statements and commands, oldest first.
#pragma once

#include "zentra/text.h"

namespace zentra {

class CSQLBuffer {
public:
    // A capacity of 0 or less means no limit.
    explicit CSQLBuffer(int size = 20) : m_nBufferSize(size) {}
    virtual ~CSQLBuffer() = default;
    CSQLBuffer(const CSQLBuffer&) = default;
    CSQLBuffer& operator=(const CSQLBuffer&) = default;

    // Stores the capacity; a positive one drops the oldest entries beyond it.
    void SetBufferSize(int size);
    int GetBufferSize() const { return m_nBufferSize; }

    // Appends the text trimmed of white space as the newest entry, dropping the oldest entries
    // to stay within the capacity; nonzero `unique` first removes an earlier entry equal to it
    // (case-sensitive). Blank or null text changes nothing. The current index becomes the number
    // of entries (one past the newest).
    void Add(const wchar_t* text, int unique);

    int GetCommandCount() const { return static_cast<int>(m_arrCommands.size()); }

    // The entry at `index` (0 = oldest); sets the current index to `index` in any case. An index
    // outside 0 .. count-1 gives an empty string (callers check the range first).
    CString GetCommandText(int index);

    int GetCurrentCommandIndex() const { return m_nCurrentIndex; }

    // The entries themselves, for saving.
    CStringArray* GetCommandArray() { return &m_arrCommands; }
    const CStringArray* GetCommandArray() const { return &m_arrCommands; }

    // Replaces the entries with the given ones in order, keeping the first ones when there are
    // more than a positive capacity allows; null empties the buffer. The current index is kept.
    void SetCommandArray(const CStringArray* entries);

private:
    CStringArray m_arrCommands;
    int m_nBufferSize = 20;
    int m_nCurrentIndex = -1;
};

}  // namespace zentra
