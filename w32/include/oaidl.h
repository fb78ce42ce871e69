#pragma once
// The automation VARIANT.
#include "unknwn.h"
#include "wtypes.h"

struct IDispatch;
struct IRecordInfo;
struct tagSAFEARRAY;
typedef struct tagSAFEARRAY SAFEARRAY;

typedef struct tagVARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    FLOAT fltVal;
    DOUBLE dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    CHAR cVal;
    USHORT uiVal;
    ULONG ulVal;
    ULONGLONG ullVal;
    INT intVal;
    UINT uintVal;
    PVOID byref;
    struct {
      PVOID pvRecord;
      IRecordInfo* pRecInfo;
    };
  };
} VARIANT, *LPVARIANT, VARIANTARG, *LPVARIANTARG;
