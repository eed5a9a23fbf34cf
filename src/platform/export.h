// The one home of the export and calling-convention marks: a function
// exported by name with C linkage, and the Windows-API convention of the
// pointer component's entry and of such DLL functions (__stdcall on 32-bit
// Windows, the default elsewhere).
#pragma once

#if defined(_WIN32)
#define VEUPD_EXPORT extern "C" __declspec(dllexport)
#if defined(__i386__) || defined(_M_IX86)
#define VEUPD_STDCALL __stdcall
#else
#define VEUPD_STDCALL
#endif
#else
#define VEUPD_EXPORT extern "C" __attribute__((visibility("default")))
#define VEUPD_STDCALL
#endif
