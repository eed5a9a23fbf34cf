// veupd-tool apply and verify: try an update data file without a level.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "formats/crc32.h"
#include "formats/text_format.h"
#include "patch/patch_engine.h"
#include "patch/update_data.h"
#include "patch_check.h"
#include "tables/fdb_update_control.h"
#include "tool_registry.h"

namespace veupd::tool {

namespace {

struct PatchArgs {
  std::vector<std::string> files;
  TokenSet tokens = TokenSet::kFix;
};

bool ParsePatchArgs(const std::vector<std::string>& args, PatchArgs& out) {
  for (const std::string& a : args) {
    if (a == "--records") {
      out.tokens = TokenSet::kFdt;
    } else if (a.size() > 1 && a[0] == '-') {
      return false;
    } else {
      out.files.push_back(a);
    }
  }
  return true;
}

int Apply(const std::vector<std::string>& args) {
  PatchArgs a;
  if (!ParsePatchArgs(args, a) || a.files.size() != 3) {
    std::fputs("usage: veupd-tool apply OLD UPDATE NEW [--records]\n", stderr);
    return 2;
  }
  const std::string& old_path = a.files[0];
  const std::string& update_path = a.files[1];
  const std::string& new_path = a.files[2];
  // A wrong old file or damaged data is told before anything is written.
  const PatchVerdict verdict = VerifyPatch(old_path, update_path, a.tokens, std::nullopt);
  if (!verdict.ok()) {
    std::fprintf(stderr, "veupd-tool apply: %s\n", verdict.text.c_str());
    return 1;
  }
  PatchErrorList errors;
  const ErrorCode code = ApplyUpdate(old_path, update_path, new_path, a.tokens, errors);
  if (!code.ok()) {
    for (const auto& entry : errors.entries) {
      std::fprintf(stderr, "veupd-tool apply: %s\n", EngineErrorText(entry).c_str());
    }
    return 1;
  }
  CCrc32 calc;
  std::uint32_t crc = 0;
  if (calc.FileCrc(crc, new_path)) {
    std::printf("%s written, CRC %s\n", new_path.c_str(), CrcHex(crc).c_str());
  } else {
    std::printf("%s: the result is empty and was removed (expected CRC 0)\n", new_path.c_str());
  }
  return 0;
}

int Verify(const std::vector<std::string>& args) {
  PatchArgs a;
  if (!ParsePatchArgs(args, a) || a.files.size() < 2 || a.files.size() > 3) {
    std::fputs("usage: veupd-tool verify OLD UPDATE [CRC] [--records]\n", stderr);
    return 2;
  }
  std::optional<std::uint32_t> expected;
  if (a.files.size() == 3) expected = CFdbUpdateControl::HexToNumber(a.files[2]);
  const PatchVerdict verdict = VerifyPatch(a.files[0], a.files[1], a.tokens, expected);
  if (!verdict.ok()) {
    std::fprintf(stderr, "veupd-tool verify: %s\n", verdict.text.c_str());
    return 1;
  }
  std::printf("OK: %s\n", verdict.text.c_str());
  return 0;
}

const ToolRegistrar kApply({"apply",
                            "  apply OLD UPDATE NEW [--records]\n"
                            "                         apply an update data file as Fix-Update does (FDT-Update with\n"
                            "                         --records); refuses a wrong old version or damaged data",
                            Apply});
const ToolRegistrar kVerify({"verify",
                             "  verify OLD UPDATE [CRC] [--records]\n"
                             "                         tell whether OLD is the version UPDATE was made from, whether\n"
                             "                         UPDATE is whole, and whether the result has CRC; writes nothing",
                             Verify});

}  // namespace

}  // namespace veupd::tool
