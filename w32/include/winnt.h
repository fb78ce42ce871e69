#pragma once
// Basic types of the platform. WCHAR is a UTF-16 code unit.
#include <cstdint>
#include "basetsd.h"

#define WINAPI
#define CALLBACK
#define APIENTRY
#define DECLSPEC_IMPORT extern "C" __attribute__((visibility("default")))
#define WINBASEAPI DECLSPEC_IMPORT
#define WINUSERAPI DECLSPEC_IMPORT
#define WINADVAPI DECLSPEC_IMPORT
#define WINGDIAPI DECLSPEC_IMPORT

typedef void VOID, *PVOID, *LPVOID;
typedef const void* LPCVOID;
typedef char CHAR, *PCHAR, *LPSTR;
typedef const char* LPCSTR;
typedef char16_t WCHAR, *PWCHAR, *LPWSTR, *PWSTR;
typedef const char16_t* LPCWSTR, *PCWSTR;
typedef unsigned char BYTE, UCHAR, *PBYTE, *LPBYTE;
typedef unsigned short WORD, USHORT, *PWORD, *LPWORD;
typedef std::uint32_t DWORD, ULONG, *PDWORD, *LPDWORD, *PULONG;
typedef std::int32_t LONG, *PLONG, *LPLONG;
typedef int INT, BOOL, *PBOOL, *LPBOOL;
typedef unsigned int UINT;
typedef std::int32_t HRESULT;
typedef void* HANDLE;
typedef HANDLE* PHANDLE, *LPHANDLE;
typedef DWORD ACCESS_MASK;
typedef ACCESS_MASK REGSAM;

#define DECLARE_HANDLE(name) struct name##__; typedef struct name##__* name

#define FALSE 0
#define TRUE 1

#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))

#define READ_CONTROL 0x00020000
#define SYNCHRONIZE 0x00100000
#define STANDARD_RIGHTS_READ READ_CONTROL

typedef DWORD EXECUTION_STATE, *PEXECUTION_STATE;
#define ES_SYSTEM_REQUIRED ((DWORD)0x00000001)
#define ES_DISPLAY_REQUIRED ((DWORD)0x00000002)
#define ES_USER_PRESENT ((DWORD)0x00000004)
#define ES_AWAYMODE_REQUIRED ((DWORD)0x00000040)
#define ES_CONTINUOUS ((DWORD)0x80000000)
