// Library for the function-call tests: exports with C names, each taking the command's text and returning a fixed
// result. The Stdcall ones remove their own argument on 32-bit Windows, as Windows-API functions do (the build exports
// them without the "@4" decoration).
#include "platform/export.h"

VEUPD_EXPORT int ReturnZero(const char*) { return 0; }
VEUPD_EXPORT int ReturnFive(const char*) { return 5; }
VEUPD_EXPORT int VEUPD_STDCALL StdcallZero(const char*) { return 0; }
VEUPD_EXPORT int VEUPD_STDCALL StdcallSeven(const char*) { return 7; }
