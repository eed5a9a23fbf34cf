// Control file reader and placeholder expansion. Input: the update
// directories (one a line, UpdDir0 first), the part marker, the control file.
#include <algorithm>
#include <optional>

#include "engine/control_reader.h"
#include "fuzz_support.h"

namespace {

// Every line read reopens the file; a few lines show every path.
constexpr std::uint32_t kMaxLinesRead = 12;

void CheckSlots(const veupd::CommandContext& ctx) {
  bool ended = false;
  for (const std::string& p : ctx.param) {
    VEUPD_FUZZ_CHECK(p.find('\t') == std::string::npos);
    if (ended) VEUPD_FUZZ_CHECK(p.empty());  // no slot after the first empty one
    ended = ended || p.empty();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veupd;
  const auto parts = fuzz::SplitParts(data, size, 2);
  CommandContext ctx;
  const auto dirs = fuzz::Lines(parts[0], kUpdDirCount);
  std::copy(dirs.begin(), dirs.end(), ctx.upd_dir.begin());

  const std::string path = fuzz::Scratch().File("CTRL.TXT");
  fuzz::WriteFile(path, parts[1]);
  ControlReader reader(path);
  if (reader.CountLines(ctx)) {
    const std::uint32_t count = ctx.line_count;
    for (std::uint32_t i = 0; i < std::min(count, kMaxLinesRead); ++i) {
      ctx.line_index = i;
      VEUPD_FUZZ_CHECK(reader.ReadCommand(ctx, 7) == ReadResult::kOk);
      CheckSlots(ctx);
    }
    ctx.line_index = count;
    VEUPD_FUZZ_CHECK(reader.ReadCommand(ctx, 7) == ReadResult::kNoMore);
  }

  // The whole text as one line, also without a level (the log directory).
  ParseControlLine(std::string(parts[1]), ctx, -1);
  CheckSlots(ctx);
  (void)SubstitutePlaceholders(std::string(parts[1]), ctx.upd_dir, std::nullopt);
  return 0;
}
