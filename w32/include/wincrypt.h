#pragma once
// The cryptography API's blobs; data protection is declared in dpapi.h.
#include "windef.h"

typedef struct _CRYPTOAPI_BLOB {
  DWORD cbData;
  BYTE* pbData;
} CRYPT_INTEGER_BLOB, *PCRYPT_INTEGER_BLOB, CRYPT_DATA_BLOB, *PCRYPT_DATA_BLOB, DATA_BLOB, *PDATA_BLOB;

#include "dpapi.h"
