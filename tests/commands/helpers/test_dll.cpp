// Test library for the function-call tests: exports with C names, each
// taking the command's text and returning a fixed result.
#include <fstream>

extern "C" {

int ReturnZero(const char*) { return 0; }
// Only the low 16 bits count: this is a success.
int ReturnHighOnly(const char*) { return 0x10000; }
int ReturnFive(const char*) { return 5; }
// Writes its argument into the file it names, so the test sees what arrived.
int WriteArg(const char* path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << path;
  return out ? 0 : 1;
}

}
