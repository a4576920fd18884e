// The messages the data-access objects record for failures that do not come from a driver
// (ADO's own texts where ADO has one), and the codes that go with the ADO ones.
#pragma once

#include <cstdint>
#include <exception>
#include <new>

#include "zentra/dataaccess.h"

namespace zentra {

inline constexpr const wchar_t* kNoItem =
    L"Item cannot be found in the collection corresponding to the requested name or ordinal.";
inline constexpr const wchar_t* kNoCurrentRecord =
    L"Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a current record.";
inline constexpr const wchar_t* kClosed = L"Operation is not allowed when the object is closed.";
inline constexpr const wchar_t* kChangesNotSent =
    L"The recordset has changes that were not sent: call UpdateBatch or CancelBatch first.";
inline constexpr const wchar_t* kOutOfMemory = L"Out of memory.";
inline constexpr const wchar_t* kTypeMismatch = L"Type mismatch.";
inline constexpr const wchar_t* kNotOpen = L"The connection is not open.";
inline constexpr const wchar_t* kConnectionLost = L"The connection to the database was lost.";
inline constexpr const wchar_t* kIllegalOperation = L"Operation is not allowed in this context.";
inline constexpr std::uint32_t kInvalidArgumentCode = 0x800A0BB9u;   // adErrInvalidArgument
inline constexpr std::uint32_t kIllegalOperationCode = 0x800A0C93u;  // adErrIllegalOperation

inline constexpr const wchar_t* kUnexpected = L"The operation failed unexpectedly.";

// The library's error boundary, called from the catch (...) handler of a public function: the
// exception under way is told to `record(text, code)` (out of memory as kOutOfMemory, anything
// else as kUnexpected) and goes no further. Nothing is thrown across the library's boundary.
template <class Record>
void RecordException(Record&& record) noexcept {
    try {
        try {
            throw;
        } catch (const std::bad_alloc&) {
            record(kOutOfMemory, ZE_OUTOFMEMORY);
        } catch (...) {
            record(kUnexpected, ZE_FAIL);
        }
    } catch (...) {
        // Recording needs memory too; with none left the earlier error stays.
    }
}

}  // namespace zentra
