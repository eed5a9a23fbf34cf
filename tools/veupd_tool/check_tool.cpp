// veupd-tool check: a dry run of a level. Reads the parameter file and the
// control file with the updater's own reader and says, line by line, what
// each command would find; nothing is written anywhere but to a scratch file
// in the temporary folder while a patch is tried.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "app/ve_update_app.h"
#include "engine/control_reader.h"
#include "formats/text_format.h"
#include "engine/update_thread.h"
#include "base/ascii.h"
#include "formats/ini_check.h"
#include "formats/ini_file.h"
#include "patch/update_data.h"
#include "patch_check.h"
#include "platform/platform.h"
#include "tables/fdb_update_control.h"
#include "tables/fdt.h"
#include "tool_registry.h"

namespace veupd::tool {

namespace {

constexpr std::size_t kMaxLineChars = kControlPieceChars - 1;  // the line end needs the last one
constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

// Indexed by Opcode.
constexpr const char* kCommandNames[] = {
    "FDT-Update",         "copy files",          "clean directory", "edit ini file",     "Fix-Update",
    "program or DLL call", "create pointer",     "empty directory", "break after error", "conditional",
    "FDT-Update-InPlace", "Fix-Update in place", "rename",          "update FDB",
};
static_assert(std::size(kCommandNames) == static_cast<std::size_t>(kLastOpcode) + 1);

const char* CommandName(std::int32_t opcode) { return kCommandNames[static_cast<std::size_t>(CommandOf(opcode))]; }

bool HasWildcard(const std::string& path) { return path.find_first_of("*?") != std::string::npos; }

class Checker {
 public:
  explicit Checker(const UpdDirs& dirs, std::int32_t level) : level_(level) { ctx_.upd_dir = dirs; }

  // Runs over the pieces of the control file; returns the exit status.
  int Run(const std::string& control_file);

  void Error(const std::string& text) {
    std::printf("  error: %s\n", text.c_str());
    ++errors_;
  }
  void Warn(const std::string& text) {
    std::printf("  warning: %s\n", text.c_str());
    ++warnings_;
  }
  static void Ok(const std::string& text) { std::printf("  ok: %s\n", text.c_str()); }
  [[nodiscard]] int Errors() const { return errors_; }
  [[nodiscard]] int Warnings() const { return warnings_; }

 private:
  // What one control line says: its text, command, flags and parameters.
  void ShowLine(const std::string& raw) const;
  void WarnAboutPrefix(const std::string& raw, bool first);
  void WarnAboutPlaceholders(const std::string& raw);
  // Lines behind the short line that ends the level are never read.
  void WarnAboutUnreadLines(const std::vector<std::string>& pieces, std::uint32_t count);
  void CheckCommand(std::int32_t opcode, bool nested);
  void CheckCopy();
  void CheckClean();
  void CheckIni();
  void CheckPatch(Opcode opcode);
  void CheckCall();
  void CheckPointer();
  void CheckConditional();
  void CheckRename();
  void CheckFdb();

  [[nodiscard]] const std::string& P(int n) const { return ctx_.param[static_cast<std::size_t>(n - 1)]; }
  // False (and an error) when one of PARAM1..PARAMn is empty.
  bool Require(int n) {
    for (int i = 1; i <= n; ++i) {
      if (P(i).empty()) {
        Error("PARAM" + std::to_string(i) + " is missing: the updater reports error 4 \"Needed parameter is missing\"");
        return false;
      }
    }
    return true;
  }
  // There now, or made by an earlier line.
  [[nodiscard]] bool Present(const std::string& path) const {
    return os::Exists(path) || made_.count(Key(path)) != 0;
  }
  void Made(const std::string& path) { made_[Key(path)] = line_; }
  [[nodiscard]] static std::string Key(const std::string& path) {
    std::string key = LowerAscii(path);
    std::replace(key.begin(), key.end(), '\\', '/');
    return key;
  }
  void NeedFile(const std::string& path, const std::string& what) {
    if (os::Exists(path)) return;
    if (auto it = made_.find(Key(path)); it != made_.end()) {
      Ok(what + " " + path + " is made by line " + std::to_string(it->second));
      return;
    }
    Error(what + " " + path + " does not exist");
  }
  // The folder exists and takes new files, or can be created.
  void NeedWritableDir(const std::string& dir, std::uint64_t bytes);
  void NeedWritableFile(const std::string& path) {
    bool read_only = false;
    if (os::Exists(path) && os::GetReadOnly(path, read_only).ok() && read_only) {
      Error(path + " is read-only: the updater cannot replace or delete it");
    }
  }
  void WarnLfIni(const std::string& path) {
    if (CheckIniFile(path) == IniFileProblem::kLfLineEnds) {
      Warn(path + ": " + IniProblemText(IniFileProblem::kLfLineEnds) + "; the updater will not find its keys");
    }
  }

  CommandContext ctx_;
  std::int32_t level_;
  std::uint32_t line_ = 0;  // 1-based number of the line being checked
  std::map<std::string, std::uint32_t> made_;
  int errors_ = 0;
  int warnings_ = 0;
};

void Checker::NeedWritableDir(const std::string& dir, std::uint64_t bytes) {
  std::string existing = dir;
  while (!existing.empty() && !os::Exists(existing)) {
    const std::size_t sep = os::FindLastSeparator(existing);
    existing = sep == std::string::npos ? std::string() : existing.substr(0, sep);
  }
  if (existing.empty()) {
    Error("no part of the folder " + dir + " exists");
    return;
  }
  if (!os::IsDirectory(existing)) {
    Error(existing + " is a file where the folder " + dir + " should be");
    return;
  }
  bool read_only = false;
  if (os::GetReadOnly(existing, read_only).ok() && read_only) Error("the folder " + existing + " is not writable");
  if (existing != dir) Ok("the folder " + dir + " will be created");
  std::error_code ec;
  const std::filesystem::space_info space = std::filesystem::space(os::ResolvePath(existing), ec);
  if (!ec && bytes > space.available) {
    Error("needs " + std::to_string(bytes) + " bytes in " + existing + ", only " + std::to_string(space.available) +
          " are free");
  }
}

void Checker::CheckCopy() {
  if (!Require(2)) return;
  const std::string& source = P(1);
  const std::string& target = P(2);
  if (!os::HasSeparator(source)) {
    Error("the source " + source + " has no folder part: error 8 \"Invalid path\"");
    return;
  }
  if (os::IsSeparator(target.back())) {
    Error("the target folder " + target + " ends in a separator: the updater fails with error 11");
  }
  std::uint64_t bytes = 0;
  if (HasWildcard(source)) {
    std::size_t files = 0;
    std::size_t dirs = 0;
    os::DirSearch search;
    if (search.Start(source).ok()) {
      os::DirEntry entry;
      while (search.Next(entry)) {
        if (entry.is_dir) {
          if (!entry.name.empty() && entry.name[0] != '.') ++dirs;
          continue;
        }
        ++files;
        bytes += entry.size;
        const std::string to = os::JoinPath(target, entry.name);
        NeedWritableFile(to);
        Made(to);
      }
    }
    if (files == 0 && dirs == 0) {
      Warn("the pattern matches no file: the line copies 0 files and still succeeds");
    } else {
      Ok(std::to_string(files) + " file(s) match" +
         (dirs ? ", and " + std::to_string(dirs) + " folder(s) that are copied with their matching files" : ""));
    }
  } else {
    NeedFile(source, "the source");
    const std::string to = os::JoinPath(target, source.substr(os::FindLastSeparator(source) + 1));
    NeedWritableFile(to);
    os::DirSearch search;
    os::DirEntry entry;
    if (search.Start(source).ok() && search.Next(entry)) bytes = entry.size;
    Made(to);
  }
  NeedWritableDir(target, bytes);
}

void Checker::CheckClean() {
  if (!Require(2)) return;
  if (!os::IsDirectory(P(1))) {
    Ok("the folder " + P(1) + " does not exist: nothing to delete");
    return;
  }
  std::size_t files = 0;
  os::DirSearch search;
  if (search.Start(os::JoinPath(P(1), P(2))).ok()) {
    os::DirEntry entry;
    while (search.Next(entry)) {
      if (entry.is_dir) continue;
      ++files;
      if (entry.read_only) Error(os::JoinPath(P(1), entry.name) + " is read-only: error 21 stops the line there");
    }
  }
  Ok(std::to_string(files) + " file(s) in the folder itself match " + P(2));
}

void Checker::CheckIni() {
  if (!Require(4)) return;
  const std::string& action = P(2);
  if (action != "D" && action != "T" && P(5).empty()) {
    Error("PARAM5 (the value) is missing for action " + action + ": error 4");
    return;
  }
  if (action != "A" && action != "U" && action != "T" && action != "D") {
    Error("unknown action " + action + ": error 6; the actions are A, U, T and D (upper case)");
    return;
  }
  const bool exists = Present(P(1));
  if (!exists && (action == "U" || action == "T")) {
    Warn("the INI file " + P(1) + " does not exist: action " + action + " writes nothing and still succeeds");
  }
  if (exists && os::Exists(P(1))) {
    WarnLfIni(P(1));
    NeedWritableFile(P(1));
  }
  if (!exists && action == "A" && os::HasSeparator(P(1))) {
    NeedWritableDir(P(1).substr(0, os::FindLastSeparator(P(1))), 0);
  }
  if (action == "A") Made(P(1));
}

void Checker::CheckPatch(Opcode opcode) {
  const bool in_place = opcode == Opcode::kFdtUpdateInPlace || opcode == Opcode::kFixUpdateInPlace;
  const TokenSet tokens =
      opcode == Opcode::kFixUpdate || opcode == Opcode::kFixUpdateInPlace ? TokenSet::kFix : TokenSet::kFdt;
  if (!Require(in_place ? 3 : 4)) return;
  const std::string& old_path = P(1);
  if (!in_place && !os::HasSeparator(old_path)) {
    Error("PARAM1 " + old_path + " has no folder part: error 8 \"Invalid path\"");
    return;
  }
  const std::uint32_t expected = CFdbUpdateControl::HexToNumber(P(2));
  NeedFile(P(3), "the update data");
  if (!os::Exists(P(3))) return;
  const bool skip_crc = expected == 0 && P(3) == "XXXXXX";
  std::uint64_t bytes = 0;
  if (!os::Exists(old_path) && made_.count(Key(old_path)) != 0) {
    Ok("the old file is made by line " + std::to_string(made_[Key(old_path)]) + "; the patch is tried when it exists");
  } else {
    const PatchVerdict verdict = VerifyPatch(old_path, P(3), tokens, skip_crc ? std::nullopt : std::optional(expected));
    bytes = verdict.result_size;
    if (verdict.ok()) {
      Ok(verdict.text);
    } else {
      Error(verdict.text);
    }
  }
  std::string new_path;
  if (in_place) {
    const std::size_t dot = old_path.rfind('.');
    new_path = (dot == std::string::npos ? old_path + "." : old_path.substr(0, dot + 1)) + "DU$";
    NeedWritableFile(old_path);
    const std::size_t sep = os::FindLastSeparator(old_path);
    if (sep != std::string::npos) NeedWritableDir(old_path.substr(0, sep), bytes);
  } else {
    (void)NewFilePath(P(4), old_path, new_path);
    NeedWritableFile(new_path);
    NeedWritableDir(P(4), bytes);
    Made(new_path);
  }
  const std::string& structure = opcode == Opcode::kFdtUpdate          ? P(5)
                                 : opcode == Opcode::kFdtUpdateInPlace ? P(4)
                                                                       : std::string();
  if (!structure.empty()) NeedFile(structure, "the structure file");
}

void Checker::CheckCall() {
  if (!Require(2)) return;
  const std::string ext = LowerAscii(P(1).size() >= 4 ? P(1).substr(P(1).size() - 4) : std::string());
  if (ext == ".exe") {
    if (!os::HasSeparator(P(1))) {
      Error("the program " + P(1) + " has no folder part: error 8");
      return;
    }
    NeedFile(P(1), "the program");
    Ok(P(3).empty() ? "started without waiting" : "started, waited for, exit code checked");
  } else if (ext == ".dll") {
    if (!Require(3)) return;
    NeedFile(P(1), "the DLL");
    Ok("calls " + P(3) + "(\"" + P(2) + "\")");
  } else {
    Error(P(1) + " ends neither in .exe nor in .dll: error 22");
  }
}

void Checker::CheckPointer() {
  if (!Require(2)) return;
  NeedFile(P(1), "the structure file");
  if (!os::Exists(P(1))) return;
  FDT table;
  std::string data_name;
  std::string index_name;
  if (!table.NewStru(P(1), data_name, index_name)) {
    Error(P(1) + " is no readable structure file: error 17");
    return;
  }
  table.FreeStru();
  if (data_name.find('@') != std::string::npos && P(3).empty()) {
    Error("the data file name " + data_name + " holds '@' and PARAM3 is missing: error 4");
    return;
  }
  const auto fill = [&](std::string name) {
    const std::size_t first = name.find('@');
    if (first != std::string::npos && data_name.find('@') != std::string::npos) {
      name.replace(first, name.rfind('@') - first + 1, P(3));
    }
    return name;
  };
  const std::string data = os::JoinPath(P(2), fill(data_name));
  if (Present(data)) {
    Ok("index " + os::JoinPath(P(2), fill(index_name)) + " is rebuilt from " + data);
  } else {
    Ok("the data file " + data + " does not exist: the index is removed");
  }
}

void Checker::CheckConditional() {
  if (!Require(1)) return;
  const char selector = P(1)[0];
  int dir = -1;
  if (selector >= '0' && selector <= '9') dir = selector - '0';
  if (selector >= 'A' && selector <= 'J') dir = 10 + (selector - 'A');
  if (dir < 0 || ctx_.upd_dir[static_cast<std::size_t>(dir)].empty()) {
    Ok(std::string("not executed: ") + (dir < 0 ? "the selector names no update directory"
                                                : "UpdDir" + std::to_string(dir) + " is empty"));
    return;
  }
  const char digit = P(1).size() > 1 ? P(1)[1] : '\0';
  const std::int32_t nested = digit >= '0' && digit <= '9' ? digit - '0' : 0;
  if (CommandOf(nested) == Opcode::kConditional) {
    Error("opcode digit 9 is no command here: error 6");
    return;
  }
  ctx_.param[0] = P(1).size() > 2 ? P(1).substr(2) : std::string();
  std::printf("  runs %s with PARAM1 %s\n", CommandName(nested), ctx_.param[0].c_str());
  CheckCommand(nested, /*nested=*/true);
}

void Checker::CheckRename() {
  if (!Require(2)) return;
  if (os::HasSeparator(P(2))) {
    Error("the new name " + P(2) + " holds a folder part: error 8");
    return;
  }
  if (!os::HasSeparator(P(1))) {
    Error(P(1) + " has no folder part: error 8");
    return;
  }
  NeedFile(P(1), "the file");
  const std::string to = P(1).substr(0, os::FindLastSeparator(P(1)) + 1) + P(2);
  if (os::Exists(to) && Key(to) != Key(P(1))) Error(to + " exists already: the rename fails with error 29");
  Made(to);
}

void Checker::CheckFdb() {
  if (!Require(1)) return;
  if (P(2).empty() || P(3).empty()) {
    NeedFile(P(1), "the control list");
    if (os::Exists(P(1))) Ok("runs the changes listed in " + P(1));
    return;
  }
  NeedFile(P(1), "the database");
  if (P(2) == "DELETE") {
    Ok("deletes the key " + P(3));
  } else if (P(2) == "LIST_DELETE") {
    NeedFile(P(3), "the delete list");
  } else {
    std::size_t files = 0;
    os::DirSearch search;
    if (search.Start(P(3)).ok()) {
      os::DirEntry entry;
      while (search.Next(entry)) files += entry.is_dir ? 0 : 1;
    }
    if (files == 0) Warn("the mask " + P(3) + " matches no file");
    Ok(std::to_string(files) + " file(s) to merge; the database's CRC afterwards is checked against " + P(2) +
       " when the level runs");
  }
  NeedWritableFile(P(1));
}

void Checker::CheckCommand(std::int32_t opcode, bool nested) {
  switch (const Opcode command = CommandOf(opcode)) {
    case Opcode::kCopyFiles: CheckCopy(); break;
    case Opcode::kCleanDirectory:
    case Opcode::kEmptyDirectory: CheckClean(); break;
    case Opcode::kEditIniFile: CheckIni(); break;
    case Opcode::kFixUpdate:
    case Opcode::kFdtUpdateInPlace:
    case Opcode::kFixUpdateInPlace: CheckPatch(command); break;
    case Opcode::kProgramCall: CheckCall(); break;
    case Opcode::kCreatePointer: CheckPointer(); break;
    case Opcode::kBreakAfterError:
      if (ctx_.skip_after_error) {
        Warn("a break-after-error line with prefix ? or - is itself skipped after an error, so it never fires; "
             "write #8");
      } else {
        Ok(P(1) == "1" ? "after an error: asks whether to stop (not under ServerAutomation)"
                       : "after an error: ends the level");
      }
      break;
    case Opcode::kConditional:
      if (!nested) CheckConditional();
      break;
    case Opcode::kRename: CheckRename(); break;
    case Opcode::kUpdateFdb: CheckFdb(); break;
    case Opcode::kFdtUpdate: CheckPatch(command); break;
  }
}

void Checker::ShowLine(const std::string& raw) const {
  std::string shown = raw;
  while (!shown.empty() && shown.back() == '\n') shown.pop_back();
  std::replace(shown.begin(), shown.end(), '\t', '|');
  std::printf("line %u: %s\n", static_cast<unsigned>(line_), shown.c_str());
  std::printf("  %s%s\n", CommandName(ctx_.opcode),
              ctx_.skip_after_error ? (ctx_.short_report ? " (skipped after an error, short log)"
                                                         : " (skipped after an error)")
                                    : (ctx_.short_report ? " (short log)" : ""));
  for (int p = 0; p < kParamCount; ++p) {
    if (!ctx_.param[static_cast<std::size_t>(p)].empty()) {
      std::printf("    PARAM%d %s\n", p + 1, ctx_.param[static_cast<std::size_t>(p)].c_str());
    }
  }
}

void Checker::WarnAboutPrefix(const std::string& raw, bool first) {
  const char prefix = raw[0];
  const bool has_prefix = prefix == '#' || prefix == '?' || prefix == '=' || prefix == '-';
  if (first && raw.compare(0, 3, kUtf8Bom) == 0) {
    Warn("the file starts with a UTF-8 byte order mark: this line has no prefix and runs as FDT-Update; save the "
         "file without BOM");
  } else if (!has_prefix) {
    Warn("the line starts with no prefix (#, ?, = or -): all of it is split into parameters and runs as "
         "FDT-Update");
  } else if (ctx_.opcode != 0 && CommandOf(ctx_.opcode) == Opcode::kFdtUpdate) {
    Warn(std::string("unknown opcode '") + raw[1] + "': the line runs as FDT-Update");
  }
}

void Checker::WarnAboutPlaceholders(const std::string& raw) {
  for (std::size_t pct = raw.find('%'); pct != std::string::npos; pct = raw.find('%', pct + 2)) {
    const char c = pct + 1 < raw.size() ? raw[pct + 1] : '\0';
    if (c == 'L') continue;
    int dir = 0;
    if (c >= '1' && c <= '9') dir = c - '0';
    if (c >= 'A' && c <= 'J') dir = 10 + (c - 'A');
    if (ctx_.upd_dir[static_cast<std::size_t>(dir)].empty()) {
      Warn(std::string("placeholder %") + (c == '\n' || c == '\0' ? ' ' : c) + " stands for UpdDir" +
           std::to_string(dir) + ", which is empty");
    }
  }
}

void Checker::WarnAboutUnreadLines(const std::vector<std::string>& pieces, std::uint32_t count) {
  if (count >= pieces.size()) return;
  std::size_t behind = 0;
  for (std::size_t i = count + 1; i < pieces.size(); ++i) behind += pieces[i].size() >= kMinControlLineChars;
  if (behind == 0) return;
  std::printf("line %u: (%s)\n", static_cast<unsigned>(count + 1),
              pieces[count] == "\n" ? "empty" : "shorter than 3 characters");
  Warn("this line ends the level: the " + std::to_string(behind) + " line(s) behind it are never read");
}

int Checker::Run(const std::string& control_file) {
  std::vector<std::string> pieces;
  CommandContext count_ctx;
  if (!ReadControlPieces(control_file, pieces) || !ControlReader(control_file).CountLines(count_ctx)) {
    std::printf("control file %s cannot be opened: the updater reports error 2 and runs nothing\n",
                control_file.c_str());
    return 1;
  }
  const std::uint32_t count = count_ctx.line_count;
  std::printf("control file %s: %u command line(s) (numbered from 1 here; the level log counts from 0)\n",
              control_file.c_str(), static_cast<unsigned>(count));
  std::uint32_t physical = 1;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::string& raw = pieces[i];
    line_ = i + 1;
    ParseControlLine(raw, ctx_, level_);
    ShowLine(raw);
    WarnAboutPrefix(raw, i == 0);
    WarnAboutPlaceholders(raw);
    const bool cut = raw.empty() || raw.back() != '\n';
    if (cut && raw.size() >= kControlPieceChars && i + 1 < pieces.size()) {
      Warn("physical line " + std::to_string(physical) + " is longer than " + std::to_string(kMaxLineChars) +
           " characters: it is cut here and the rest runs as line " + std::to_string(line_ + 1));
    }
    if (!cut) ++physical;
    CheckCommand(ctx_.opcode, /*nested=*/false);
  }
  WarnAboutUnreadLines(pieces, count);
  return 0;
}

struct CheckArgs {
  std::string param_file;
  std::string control_file;
  std::string root;
  std::optional<std::int32_t> level;
};

constexpr const char* kCheckUsage =
    "usage: veupd-tool check PARAMS.ini\n"
    "       veupd-tool check --control FILE --root DIR [--level N]\n";

// False when the words make no check.
bool ParseCheckArgs(const std::vector<std::string>& args, CheckArgs& a) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const bool has_value = i + 1 < args.size();
    if (args[i] == "--control" && has_value) {
      a.control_file = args[++i];
    } else if (args[i] == "--root" && has_value) {
      a.root = args[++i];
    } else if (args[i] == "--level" && has_value) {
      a.level = TextToInt(args[++i]);
    } else if (!args[i].empty() && args[i][0] != '-' && a.param_file.empty()) {
      a.param_file = args[i];
    } else {
      return false;
    }
  }
  return a.param_file.empty() != a.control_file.empty() && (a.control_file.empty() || !a.root.empty());
}

// What the control file is checked with.
struct CheckPlan {
  UpdDirs dirs;
  std::int32_t level = 1;
  std::string control_file;
  int warnings = 0;
};

// The update directories, the log folder and the parent parameter file.
int WarnAboutLevelPlaces(const StartupParams& params, std::int32_t level) {
  int warnings = 0;
  LevelSetup setup;
  setup.log_dir = PrepareLogDir(params.log_file_dir, params.control_file, params.upd_dirs);
  setup.log_name = PrepareLogName(params.log_file_name, params.level);
  const std::string log_path = LevelLogPath(setup);
  for (int i = 0; i < kUpdDirCount; ++i) {
    const std::string& dir = params.upd_dirs[static_cast<std::size_t>(i)];
    if (!dir.empty()) std::printf("  UpdDir%d = %s%s\n", i, dir.c_str(), os::IsDirectory(dir) ? "" : " (no folder)");
  }
  std::printf("  level %d, log %s\n", static_cast<int>(level), log_path.c_str());
  const std::size_t sep = os::FindLastSeparator(log_path);
  if (sep != std::string::npos && !os::IsDirectory(log_path.substr(0, sep))) {
    std::printf("  warning: the log folder %s does not exist: the level runs without a log\n",
                log_path.substr(0, sep).c_str());
    ++warnings;
  }
  if (!params.parent_params.empty()) {
    std::string parent = params.parent_params;
    std::erase(parent, '"');
    if (os::Exists(parent) && CheckIniFile(parent) == IniFileProblem::kLfLineEnds) {
      std::printf("  warning: %s: %s\n", parent.c_str(), IniProblemText(IniFileProblem::kLfLineEnds).c_str());
      ++warnings;
    }
  }
  return warnings;
}

// Reads the parameter file into the plan; false (after the summary line)
// when the updater would not get to the level.
bool CheckParamFile(const CheckArgs& a, CheckPlan& plan) {
  std::printf("parameter file %s\n", a.param_file.c_str());
  const IniFileProblem problem = CheckIniFile(a.param_file);
  if (problem != IniFileProblem::kNone) {
    std::printf("  error: %s: the updater finds no keys in it and runs no level\n", IniProblemText(problem).c_str());
    std::printf("check: 1 error, 0 warnings; the level would not run\n");
    return false;
  }
  CIniClass ini;
  const StartupParams params = ReadStartupParams(ini, a.param_file);
  int errors = 0;
  const auto missing = [&](const char* key) {
    std::printf("  error: key %s is missing or empty: the updater ends before the level\n", key);
    ++errors;
  };
  if (params.msg_file.empty()) missing("Msg");
  if (params.language.empty()) missing("Language");
  if (params.control_file.empty()) missing("File");
  if (!params.msg_file.empty() && !os::Exists(params.msg_file)) {
    std::printf("  error: the message table %s does not exist: the updater ends before the level\n",
                params.msg_file.c_str());
    ++errors;
  }
  if (errors > 0) {
    std::printf("check: %d error(s), 0 warnings; the level would not run\n", errors);
    return false;
  }
  plan.dirs = params.upd_dirs;
  plan.level = a.level.value_or(params.level);
  plan.control_file = params.control_file;
  plan.warnings += WarnAboutLevelPlaces(params, plan.level);
  return true;
}

int Check(const std::vector<std::string>& args) {
  CheckArgs a;
  if (!ParseCheckArgs(args, a)) {
    std::fputs(kCheckUsage, stderr);
    return 2;
  }
  CheckPlan plan;
  if (!a.param_file.empty()) {
    if (!CheckParamFile(a, plan)) return 1;
  } else {
    plan.dirs.fill(a.root);
    plan.level = a.level.value_or(1);
    plan.control_file = a.control_file;
  }
  Checker checker(plan.dirs, plan.level);
  const int status = checker.Run(plan.control_file);
  const int errors = checker.Errors() + status;
  const int warnings = plan.warnings + checker.Warnings();
  std::printf("check: %d error(s), %d warning(s)%s\n", errors, warnings,
              errors == 0 ? "" : "; the level would report errors");
  return errors == 0 ? 0 : 1;
}

const ToolRegistrar kCheck({"check",
                            "  check PARAMS.ini | check --control FILE --root DIR [--level N]\n"
                            "                         dry run of a level: reads the files as the updater does and\n"
                            "                         says per control line (1-based) what it would find; touches\n"
                            "                         nothing. Exit status 1 when a line would fail",
                            Check});

}  // namespace

}  // namespace veupd::tool
