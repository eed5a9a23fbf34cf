// Test library for the function-call tests: exports with C names, each
// taking the command's text and returning a fixed result. The Stdcall ones
// remove their own argument on 32-bit Windows, as Windows-API functions do
// (the build exports them without the "@4" decoration).
#include <fstream>

#if defined(_WIN32) && defined(__i386__)
#define TEST_STDCALL __stdcall
#else
#define TEST_STDCALL
#endif

extern "C" {

int ReturnZero(const char*) { return 0; }
// Only the low 16 bits count: this is a success.
int ReturnHighOnly(const char*) { return 0x10000; }
int ReturnFive(const char*) { return 5; }
int TEST_STDCALL StdcallZero(const char*) { return 0; }
int TEST_STDCALL StdcallSeven(const char*) { return 7; }
// Writes its argument into the file it names, so the test sees what arrived.
int WriteArg(const char* path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << path;
  return out ? 0 : 1;
}

}
