// PLACEHOLDER until implemented
#include "zentra/dataaccess.h"

namespace zentra {

int CADORecordSet::SetFieldValue(int, const CString&) { return 0; }
int CADORecordSet::SetFieldValue(const wchar_t*, const CString&) { return 0; }
int CADORecordSet::SetFieldValue(int, const wchar_t*) { return 0; }
int CADORecordSet::SetFieldValue(const wchar_t*, const wchar_t*) { return 0; }
int CADORecordSet::SetFieldValue(int, int) { return 0; }
int CADORecordSet::SetFieldValue(const wchar_t*, int) { return 0; }
int CADORecordSet::SetFieldValue(int, long) { return 0; }
int CADORecordSet::SetFieldValue(const wchar_t*, long) { return 0; }
int CADORecordSet::SetFieldValue(int, unsigned long) { return 0; }
int CADORecordSet::SetFieldValue(const wchar_t*, unsigned long) { return 0; }
int CADORecordSet::SetFieldValue(int, double) { return 0; }
int CADORecordSet::SetFieldValue(const wchar_t*, double) { return 0; }
int CADORecordSet::SetFieldValue(int, COleDateTime) { return 0; }
int CADORecordSet::SetFieldValue(const wchar_t*, COleDateTime) { return 0; }
int CADORecordSet::SetFieldValue(int, bool) { return 0; }
int CADORecordSet::SetFieldValue(const wchar_t*, bool) { return 0; }
int CADORecordSet::SetFieldValue(int, COleCurrency) { return 0; }
int CADORecordSet::SetFieldValue(const wchar_t*, COleCurrency) { return 0; }
int CADORecordSet::SetFieldValue(int, const _variant_t&) { return 0; }
int CADORecordSet::SetFieldValue(const wchar_t*, const _variant_t&) { return 0; }
int CADORecordSet::SetFieldEmpty(int) { return 0; }
int CADORecordSet::SetFieldEmpty(const wchar_t*) { return 0; }
int CADORecordSet::Edit() { return 0; }
int CADORecordSet::CanUpdate() { return 0; }
int CADORecordSet::AddNew(const _variant_t&, const _variant_t&) { return 0; }
int CADORecordSet::AddNew(CADORecordBinding&) { return 0; }
int CADORecordSet::Update() { return 0; }
int CADORecordSet::CancelUpdate() { return 0; }
int CADORecordSet::UpdateBatch(AffectEnum) { return 0; }
int CADORecordSet::CancelBatch(AffectEnum) { return 0; }
int CADORecordSet::Delete() { return 0; }
int CADORecordSet::DeleteAll() { return 0; }
int CADORecordSet::RecordBinding(CADORecordBinding&) { return 0; }
int CADORecordSet::Requery() { return 0; }
int CADORecordSet::AppendChunk(int, const void*, UINT) { return 0; }
int CADORecordSet::AppendChunk(const wchar_t*, const void*, UINT) { return 0; }
void CADORecordSet::FillBinding() {}

}  // namespace zentra
