// PLACEHOLDER until implemented
#include "zentra/dataaccess.h"

namespace zentra {

int CADORecordSet::GetFieldValue(int, double&) { return 0; }
int CADORecordSet::GetFieldValue(const wchar_t*, double&) { return 0; }
int CADORecordSet::GetFieldValue(int, long&) { return 0; }
int CADORecordSet::GetFieldValue(const wchar_t*, long&) { return 0; }
int CADORecordSet::GetFieldValue(int, unsigned long&) { return 0; }
int CADORecordSet::GetFieldValue(const wchar_t*, unsigned long&) { return 0; }
int CADORecordSet::GetFieldValue(int, int&) { return 0; }
int CADORecordSet::GetFieldValue(const wchar_t*, int&) { return 0; }
int CADORecordSet::GetFieldValue(int, bool&) { return 0; }
int CADORecordSet::GetFieldValue(const wchar_t*, bool&) { return 0; }
int CADORecordSet::GetFieldValue(int, COleDateTime&) { return 0; }
int CADORecordSet::GetFieldValue(const wchar_t*, COleDateTime&) { return 0; }
int CADORecordSet::GetFieldValue(int, COleCurrency&) { return 0; }
int CADORecordSet::GetFieldValue(const wchar_t*, COleCurrency&) { return 0; }
int CADORecordSet::GetFieldValue(int, CString&, int) { return 0; }
int CADORecordSet::GetFieldValue(const wchar_t*, CString&, int) { return 0; }
int CADORecordSet::IsFieldNull(int) { return 0; }
int CADORecordSet::IsFieldNull(const wchar_t*) { return 0; }
int CADORecordSet::IsFieldEmpty(int) { return 0; }
int CADORecordSet::IsFieldEmpty(const wchar_t*) { return 0; }
long CADORecordSet::GetAbsolutePage() { return -1; }
int CADORecordSet::SetAbsolutePage(int) { return 0; }
long CADORecordSet::GetPageCount() { return -1; }
long CADORecordSet::GetPageSize() { return -1; }
int CADORecordSet::SetPageSize(int) { return 0; }
int CADORecordSet::GetFieldNumScale(const wchar_t*, long&) { return 0; }
int CADORecordSet::GetFieldAttributes(const wchar_t*, long&) { return 0; }
int CADORecordSet::GetFieldProperties(const wchar_t*, const wchar_t*, CString&) { return 0; }
int CADORecordSet::GetFieldProperties(const wchar_t*, const wchar_t*, int&) { return 0; }
int CADORecordSet::SetFieldProperties(const wchar_t*, const wchar_t*, const wchar_t*) { return 0; }
int CADORecordSet::SetFieldProperties(const wchar_t*, const wchar_t*, int) { return 0; }
int CADORecordSet::GetProperties(const wchar_t*, CString&) { return 0; }
int CADORecordSet::GetProperties(const wchar_t*, int&) { return 0; }
int CADORecordSet::SetProperties(const wchar_t*, const wchar_t*) { return 0; }
int CADORecordSet::SetProperties(const wchar_t*, int) { return 0; }
FieldPtr CADORecordSet::GetField(int) { return {}; }
FieldPtr CADORecordSet::GetField(const wchar_t*) { return {}; }
int CADORecordSet::GetChunk(int, void*) { return 0; }
int CADORecordSet::GetChunk(const wchar_t*, void*) { return 0; }
CString CADORecordSet::GetString(const wchar_t*, const wchar_t*, const wchar_t*, long) { return {}; }
int CADOField::GetType() { return 0; }
long CADOField::GetActualSize() { return -1; }
long CADOField::GetDefinedSize() { return -1; }
long CADOField::GetAttributes() { return -1; }
CString CADOField::GetOriginalVal() { return {}; }
CString CADOField::GetUnderlyingValue() { return {}; }
int CADOField::GetValue(int&) { return 0; }
int CADOField::GetValue(long&) { return 0; }
int CADOField::GetValue(float&) { return 0; }
int CADOField::GetValue(double&) { return 0; }
int CADOField::GetValue(CString&) { return 0; }
int CADOField::GetValue(COleDateTime&) { return 0; }
int CADOField::GetValue(_variant_t&) { return 0; }
int CADOField::SetValue(int) { return 0; }
int CADOField::SetValue(long) { return 0; }
int CADOField::SetValue(float) { return 0; }
int CADOField::SetValue(double) { return 0; }
int CADOField::SetValue(const CString&) { return 0; }
int CADOField::SetValue(bool) { return 0; }
int CADOField::SetValue(COleDateTime) { return 0; }
int CADOField::SetValue(const _variant_t&) { return 0; }
int CADOField::GetProperties(const wchar_t*, bool&) { return 0; }
int CADOField::GetProperties(const wchar_t*, CString&) { return 0; }
int VariantToBool(const _variant_t&, bool&) { return 0; }
int VariantToInt(const _variant_t&, int&) { return 0; }
int VariantToLong(const _variant_t&, long&) { return 0; }
int VariantToULong(const _variant_t&, unsigned long&) { return 0; }
int VariantToDouble(const _variant_t&, double&) { return 0; }
int VariantToDateTime(const _variant_t&, COleDateTime&) { return 0; }
int VariantToCurrency(const _variant_t&, COleCurrency&) { return 0; }
int VariantToString(const _variant_t&, CString&, int) { return 0; }

}  // namespace zentra
