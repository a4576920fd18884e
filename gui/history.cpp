// The view's command history.
#include "worva.h"

namespace worva {

CString CCommandBuffer::GetFirstCommand() {
    if (GetCommandCount() == 0) return L"";
    return GetCommandText(0);
}

CString CCommandBuffer::GetLastCommand() {
    if (GetCommandCount() == 0) return L"";
    return GetCommandText(GetCommandCount() - 1);
}

CString CCommandBuffer::GetPrevCommand(int wrap) {
    if (GetCommandCount() == 0) return L"";
    int current = GetCurrentCommandIndex();
    if (current > 0) return GetCommandText(std::min(current, GetCommandCount()) - 1);
    return wrap ? GetLastCommand() : CString();
}

CString CCommandBuffer::GetNextCommand(int wrap) {
    if (GetCommandCount() == 0) return L"";
    int current = GetCurrentCommandIndex();
    if (current < GetCommandCount() - 1) return GetCommandText(std::max(current, -1) + 1);
    return wrap ? GetFirstCommand() : CString();
}

}  // namespace worva
