// Marks a function exported by name from a module with C linkage, and the
// calling convention of the pointer component's entry (__stdcall on 32-bit
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
