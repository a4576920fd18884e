// PLACEHOLDER until implemented
#include "zentra/dataaccess.h"

namespace zentra {

int CADORecordSet::Find(const wchar_t*, int) { return 0; }
int CADORecordSet::FindFirst(const wchar_t*) { return 0; }
int CADORecordSet::FindNext() { return 0; }
void CADORecordSet::GetBookmark() {}
int CADORecordSet::SetBookmark() { return 0; }
_variant_t CADORecordSet::GetCurrentBookmark() { return {}; }
int CADORecordSet::SetFilter(const wchar_t*) { return 0; }
int CADORecordSet::SetSort(const wchar_t*) { return 0; }
int CADORecordSet::Clone(CADORecordSet&) { return 0; }
int CADORecordSet::SaveAsXML(const wchar_t*) { return 0; }
int CADORecordSet::OpenXML(const wchar_t*) { return 0; }

}  // namespace zentra
