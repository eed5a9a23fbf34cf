// veupd-tool crc and diff: the CRC-32 values that control lines carry, and
// update data files that turn an old file into a new one.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "formats/crc32.h"
#include "veupd_tool/update_diff.h"
#include "platform/platform.h"
#include "tool_registry.h"

namespace veupd::tool {

namespace {

// A control line is read with a 256-byte buffer: 255 characters, the line
// end included.
constexpr std::size_t kMaxControlLine = 254;

int Crc(const std::vector<std::string>& args) {
  if (args.empty()) {
    std::fputs("usage: veupd-tool crc FILE...\n", stderr);
    return 2;
  }
  int status = 0;
  for (const std::string& path : args) {
    CCrc32 calc;
    std::uint32_t crc = 0;
    if (!calc.FileCrc(crc, path)) {
      std::fprintf(stderr, "veupd-tool crc: cannot read %s\n", path.c_str());
      status = 1;
      continue;
    }
    // One file: the bare value, ready for PARAM2.
    if (args.size() == 1) {
      std::printf("%08X\n", static_cast<unsigned>(crc));
    } else {
      std::printf("%08X  %s\n", static_cast<unsigned>(crc), path.c_str());
    }
  }
  return status;
}

std::string Absolute(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path abs = std::filesystem::absolute(path, ec);
  return ec ? path : abs.string();
}

// A folder that a placeholder stands for on the target machine.
struct Base {
  std::string placeholder;  // "%1"
  std::string dir;          // absolute, without a trailing separator
};

struct DiffArgs {
  std::string old_path;
  std::string new_path;
  std::string update_path;
  std::string target;     // directory of the new file; empty: update in place
  std::string structure;  // table structure file for the pointer step
  std::vector<Base> bases;
  bool records = false;
  bool print_line = false;
  bool verbose = false;
};

constexpr const char* kDiffUsage =
    "usage: veupd-tool diff OLD NEW -o UPDATE [--records] [--print-line [--target DIR] [--structure FILE]\n"
    "                       [--base %N=DIR]...] [-v]\n";

// "%N=DIR" with N one of 0-9, A-J.
bool ParseBase(const std::string& text, Base& out) {
  if (text.size() < 4 || text[0] != '%' || text[2] != '=') return false;
  const char n = text[1];
  if (!((n >= '0' && n <= '9') || (n >= 'A' && n <= 'J'))) return false;
  out.placeholder = text.substr(0, 2);
  out.dir = Absolute(text.substr(3));
  while (out.dir.size() > 1 && os::IsSeparator(out.dir.back())) out.dir.pop_back();
  return true;
}

bool ParseDiffArgs(const std::vector<std::string>& args, DiffArgs& out) {
  std::vector<std::string> files;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    if (a == "-o" && has_value) {
      out.update_path = args[++i];
    } else if (a == "--target" && has_value) {
      out.target = args[++i];
    } else if (a == "--structure" && has_value) {
      out.structure = args[++i];
    } else if (a == "--base" && has_value) {
      Base base;
      if (!ParseBase(args[++i], base)) {
        std::fprintf(stderr, "veupd-tool diff: --base wants %%N=DIR (N: 0-9, A-J), not %s\n", args[i].c_str());
        return false;
      }
      out.bases.push_back(base);
    } else if (a == "--records") {
      out.records = true;
    } else if (a == "--print-line") {
      out.print_line = true;
    } else if (a == "-v") {
      out.verbose = true;
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "veupd-tool diff: unknown or incomplete option %s\n", a.c_str());
      return false;
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != 2 || out.update_path.empty()) return false;
  if (!out.structure.empty() && !out.records) {
    std::fputs("veupd-tool diff: --structure needs --records\n", stderr);
    return false;
  }
  out.old_path = files[0];
  out.new_path = files[1];
  return true;
}

// The path as the control line writes it: below the deepest --base folder
// as its placeholder and a '\'-separated rest (read on every system), else
// absolute; local collects the paths that no base covers.
std::string LinePath(const DiffArgs& a, const std::string& path, std::vector<std::string>& local) {
  const std::string abs = Absolute(path);
  const Base* best = nullptr;
  for (const Base& base : a.bases) {
    const bool below = abs.size() > base.dir.size() && abs.compare(0, base.dir.size(), base.dir) == 0 &&
                       os::IsSeparator(abs[base.dir.size()]);
    if ((below || abs == base.dir) && (best == nullptr || base.dir.size() > best->dir.size())) best = &base;
  }
  if (best == nullptr) {
    if (!a.bases.empty()) local.push_back(abs);
    return abs;
  }
  std::string rest = abs.substr(best->dir.size());
  for (char& c : rest) {
    if (os::IsSeparator(c)) c = '\\';
  }
  return best->placeholder + rest;
}

// The control line that applies the update: Fix-Update ('4') or FDT-Update
// ('0') into --target, otherwise their in-place forms ('B', 'A').
std::string ControlLine(const DiffArgs& a, std::uint32_t crc, std::vector<std::string>& local) {
  char crc_text[9];
  std::snprintf(crc_text, sizeof crc_text, "%08X", static_cast<unsigned>(crc));
  const bool in_place = a.target.empty();
  const char opcode = a.records ? (in_place ? 'A' : '0') : (in_place ? 'B' : '4');
  std::string line = std::string("#") + opcode + LinePath(a, a.old_path, local) + '\t' + crc_text + '\t' +
                     LinePath(a, a.update_path, local);
  if (!in_place) line += '\t' + LinePath(a, a.target, local);
  if (!a.structure.empty()) line += '\t' + LinePath(a, a.structure, local);
  return line;
}

int Diff(const std::vector<std::string>& args) {
  DiffArgs a;
  if (!ParseDiffArgs(args, a)) {
    std::fputs(kDiffUsage, stderr);
    return 2;
  }
  DiffOptions options;
  options.records = a.records;
  const DiffResult result = MakeUpdateFile(a.old_path, a.new_path, a.update_path, options);
  if (!result.ok) {
    std::fprintf(stderr, "veupd-tool diff: %s\n", result.message.c_str());
    return 1;
  }
  if (a.verbose) {
    std::fprintf(stderr, "%llu records, %llu payload bytes, %llu bytes\n",
                 static_cast<unsigned long long>(result.stats.records),
                 static_cast<unsigned long long>(result.stats.payload_bytes),
                 static_cast<unsigned long long>(result.stats.UpdateSize()));
  }
  if (a.print_line) {
    CCrc32 calc;
    std::uint32_t crc = 0;
    if (!calc.FileCrc(crc, a.new_path)) {
      std::fprintf(stderr, "veupd-tool diff: cannot read %s\n", a.new_path.c_str());
      return 1;
    }
    std::vector<std::string> local;
    const std::string line = ControlLine(a, crc, local);
    for (const std::string& path : local) {
      std::fprintf(stderr, "veupd-tool diff: warning: %s is below no --base folder; the line holds it as it is "
                           "on this machine\n", path.c_str());
    }
    if (line.size() > kMaxControlLine) {
      std::fprintf(stderr, "veupd-tool diff: warning: the control line has %zu characters; the updater reads "
                           "at most %zu per line\n", line.size(), kMaxControlLine);
    }
    std::printf("%s\n", line.c_str());
  }
  return 0;
}

const ToolRegistrar kCrc({"crc", "  crc FILE...            CRC-32 of each file as the updater computes it (%08X)", Crc});
const ToolRegistrar kDiff({"diff",
                           "  diff OLD NEW -o UPDATE [--records] [--print-line [--target DIR] [--structure FILE]\n"
                           "       [--base %N=DIR]...] [-v]\n"
                           "                         update data file turning OLD into NEW; byte level, or\n"
                           "                         whole records with --records (table data files); a missing\n"
                           "                         OLD gives 'A' records only. --print-line prints the control\n"
                           "                         line: in place, or into --target DIR; --base %1=DIR writes\n"
                           "                         paths below DIR as %1\\..., ready for a shipped control file",
                           Diff});

}  // namespace

}  // namespace veupd::tool
