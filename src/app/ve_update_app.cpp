// The start-up sequence of the updater, the program-update preparation and
// the hand-back of the level's outcome.
#include "app/ve_update_app.h"

#include <utility>

#include "app/command_table.h"
#include "app/console_notes.h"
#include "app/progress_dialog.h"
#include "engine/control_reader.h"
#include "formats/text_format.h"
#include "formats/ini_check.h"
#include "platform/platform.h"

namespace veupd {
namespace {

constexpr std::int32_t kMarkerWideFrom = 100;
constexpr const char* kSavSuffix = "_Sav";
constexpr const char* kResultKey = "DedozUduResult";

std::string RemoveQuotes(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c != '"') out += c;
  }
  return out;
}

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  for (std::size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size())) {
    text.replace(pos, from.size(), to);
  }
  return text;
}

bool EndsWithSeparator(std::string_view path) { return !path.empty() && os::IsSeparator(path.back()); }

constexpr const char* kLockName = "UpdCtrl.lck";
constexpr const char* kInUseText = "Another update is already running with the control file %s.";

// Held open for the whole run, it keeps a second updater off the control
// file's folder, whose checkpoint file the two would share. Removed again
// at the end; one left by a killed run holds no lock and is simply reused.
class LevelLock {
 public:
  ~LevelLock() { Release(); }
  void Release() {
    if (!file_.IsOpen()) return;
    (void)file_.Close();
    (void)os::RemoveFile(path_);
  }
  // False only when another run holds the lock; a folder where no lock can
  // be made runs unguarded, as before.
  bool Take(const std::string& control_file) {
    const std::size_t sep = os::FindLastSeparator(control_file);
    path_ = (sep == std::string::npos ? std::string() : control_file.substr(0, sep + 1)) + kLockName;
    return file_.Open(path_, os::OpenMode::kReadWriteCreate).kind != os::OsErr::kSharing;
  }

 private:
  os::File file_;
  std::string path_;
};

}  // namespace

std::string ParamFileFromCommandLine(std::string_view command_line) {
  std::size_t begin = 0;
  std::size_t end = command_line.size();
  while (begin < end && command_line[begin] == ' ') ++begin;
  while (end > begin && command_line[end - 1] == ' ') --end;
  const std::string_view text = command_line.substr(begin, end - begin);
  if (!text.empty() && text[0] == '"') {
    const std::size_t close = text.find('"', 1);
    return close == std::string_view::npos ? std::string() : std::string(text.substr(1, close - 1));
  }
  return std::string(text);
}

std::string PrepareLogDir(const std::string& log_file_dir, const std::string& control_file,
                          const UpdDirs& dirs) {
  if (log_file_dir.empty()) {
    // Beside the control file; a control file without a directory keeps the
    // log in the working folder (the root would be a surprising place).
    const std::size_t sep = os::FindLastSeparator(control_file);
    return sep == std::string::npos ? std::string() : control_file.substr(0, sep + 1);
  }
  std::string dir = SubstitutePlaceholders(log_file_dir, dirs, /*level=*/std::nullopt);
  if (!EndsWithSeparator(dir)) dir += os::kNativeSeparator;
  return dir;
}

std::string PrepareLogName(const std::string& pattern, std::int32_t level) {
  return pattern.empty() ? pattern : FormatText(pattern, {std::int64_t{level}});
}

std::string MarkerFileName(std::int32_t program_level) {
  const std::int64_t n = std::int64_t{program_level} + 1;
  return FormatText(n < kMarkerWideFrom ? "upd%03d.log" : "upd%d.log", {n});
}

CVeUpdateApp::CVeUpdateApp(std::unique_ptr<os::ProgressView> view) : view_(std::move(view)) {}

CVeUpdateApp::~CVeUpdateApp() { dictionary_.Close(); }

std::string CVeUpdateApp::Text(std::uint32_t number) { return dictionary_.GetText(number); }

void CVeUpdateApp::ShowBox(std::string_view text) { os::ShowMessage(text, kBoxCaption); }

StartupParams ReadStartupParams(CIniClass& ini, const std::string& param_file) {
  const auto read = [&](std::string_view key, std::string_view def) {
    std::string value;
    // A file that cannot be read yields the default, which is what we want.
    (void)ini.ReadValueCached(kSection, key, def, value, param_file, /*no_case=*/true);
    return value;
  };
  StartupParams p;
  p.param_file = param_file;
  p.msg_file = read("Msg", "");
  p.language = read("Language", "");
  p.control_file = read("File", "");
  p.parent_prg = read("ParentPrg", "");
  p.parent_params = read("ParentParams", "");
  for (int i = 0; i < kUpdDirCount; ++i) {
    p.upd_dirs[static_cast<std::size_t>(i)] = read("UpdDir" + std::to_string(i), "");
  }
  p.log_file_dir = read("LogFileDir", "");
  p.log_file_name = read("LogFileName", "");
  p.brand = read("Marke", "");
  p.level = TextToInt(read("Level", "1"));
  p.level_prg = TextToInt(read("LevelPrg", "0"));
  p.upd_dir_prg = read("UpdDirPrg", "");
  p.in_place_mode = TextToInt(read("InPlaceMode", "0")) == 1;
  const std::int32_t hwnd = TextToInt(read("HWND", "0"));
  p.hwnd = static_cast<std::uintptr_t>(static_cast<std::uint32_t>(hwnd));
  return p;
}

int CVeUpdateApp::InitInstance(std::string_view command_line) {
  if ((os::SystemLanguage() & kPrimaryLanguageMask) == kPersianLanguage) view_->SetRightToLeftLayout(true);
  program_dir_ = os::ProgramDirectory();
  if (command_line.empty()) {
    ConsoleWrite(UsageText());
    return kExitNotRun;
  }
  // Only the option alone, so that no parameter file name is taken for one.
  if (command_line == "--help" || command_line == "--version") {
    ShowInfo(command_line == "--help" ? UsageText() : VersionText());
    return kExitSuccess;
  }
  params_.param_file = ParamFileFromCommandLine(command_line);
  if (!ReadParameters()) return kExitNotRun;
  LevelLock lock;
  if (!lock.Take(params_.control_file)) {
    ShowBox(FormatText(kInUseText, {std::string_view(params_.control_file)}));
    return kExitNotRun;
  }

  if (params_.hwnd != 0) view_->BringToForeground(params_.hwnd);
  ReadServerAutomation();
  LevelSetup setup = MakeLevelSetup();

  if (!params_.upd_dir_prg.empty() && !PrepareProgramUpdate()) return kExitNotRun;

  auto runner = std::make_unique<LevelRunner>(std::move(setup), *this, Commands());
  {
    CVeUpdateDlg dialog(*view_, *this, *runner, DialogParams{params_.brand, params_.level, params_.hwnd});
    (void)dialog.DoModal();  // the outcome is the success flag
    success_ = dialog.Succeeded();
  }
  if (!runner->Started()) return kExitNotRun;
  // A thread that would not end was left running; it still uses its runner,
  // and the process is about to end anyway.
  LevelRunner& level = runner->ThreadEnded() ? *runner : *runner.release();
  // The caller may start the next level as soon as it learns the result.
  lock.Release();

  HandBack(level);
  return success_ ? kExitSuccess : kExitLevelFailed;
}

void CVeUpdateApp::ReadServerAutomation() {
  if (params_.parent_params.empty()) return;
  std::string automation;
  (void)ini_.ReadValue(kSection, "ServerAutomation", "0", automation, RemoveQuotes(params_.parent_params),
                       /*no_case=*/true);  // default on failure
  params_.server_automation = TextToInt(automation) == 1;
}

LevelSetup CVeUpdateApp::MakeLevelSetup() const {
  LevelSetup setup;
  setup.upd_dirs = params_.upd_dirs;
  setup.control_file = params_.control_file;
  setup.log_dir = PrepareLogDir(params_.log_file_dir, params_.control_file, params_.upd_dirs);
  setup.log_name = PrepareLogName(params_.log_file_name, params_.level);
  setup.in_place_mode = params_.in_place_mode;
  setup.program_dir = program_dir_;
  setup.level = params_.level;
  setup.server_automation = params_.server_automation;
  return setup;
}

void CVeUpdateApp::HandBack(const LevelRunner& level) {
  if (!params_.parent_params.empty()) {
    (void)ini_.WriteValue(kSection, kResultKey, success_ ? "1" : "0", RemoveQuotes(params_.parent_params),
                          /*no_case=*/true);  // nothing more to tell anyone if this fails
  }
  // A level stopped from outside reports failure and leaves the caller
  // alone: it must not start again on half-done work.
  if (!level.Unfinished() && !params_.parent_prg.empty() && os::HasSeparator(params_.parent_prg)) StartParentProgram();
  const std::string log_path = LevelLogPath(level.Setup());
  ConsoleNote(LevelSummary(params_.level, level.Result(), log_path, os::Exists(log_path)));
}

void CVeUpdateApp::ExplainParamFile() {
  const IniFileProblem problem = CheckIniFile(params_.param_file);
  if (problem != IniFileProblem::kNone) {
    ConsoleNote("parameter file " + params_.param_file + ": " + IniProblemText(problem));
  }
}

bool CVeUpdateApp::ReadParameters() {
  params_ = ReadStartupParams(ini_, params_.param_file);
  if (params_.msg_file.empty()) {
    ShowBox(FormatText("%s :\r\n[UPDATE]\r\nMsg = ? !", {std::string_view(params_.param_file)}));
    ExplainParamFile();
    return false;
  }
  if (params_.language.empty()) {
    ShowBox(FormatText("%s :\r\n[UPDATE]\r\nLanguage = ? !", {std::string_view(params_.param_file)}));
    ExplainParamFile();
    return false;
  }
  if (!dictionary_.Open(params_.msg_file.c_str(), params_.language.c_str(), "D0", nullptr, nullptr)) {
    ShowBox(params_.language == "D" ? "Fehler !\r\nMessage-Datei nicht verf\xfc" "gbar !"
                                    : "Error !\r\nMessage file not available !");
    return false;
  }
  if (params_.control_file.empty()) {
    ShowBox(FormatText(Text(kTextMissingKey), {std::string_view("File")}));
    ExplainParamFile();
    return false;
  }
  return true;
}

bool CVeUpdateApp::PrepareProgramUpdate() {
  const std::string& prg_dir = params_.upd_dir_prg;
  bool has_entries = false;
  {
    os::DirSearch search;
    if (search.Start(os::JoinPath(prg_dir, "*.*")).ok()) {
      os::DirEntry entry;
      while (!has_entries && search.Next(entry)) {
        has_entries = !entry.is_dir || (!entry.name.empty() && entry.name[0] != '.');
      }
    }
  }
  if (!has_entries) return true;

  {
    os::File marker;
    // An unwritable marker does not stop the update; the program level
    // check of the next start will simply not see it.
    (void)marker.Open(os::JoinPath(prg_dir, MarkerFileName(params_.level_prg)), os::OpenMode::kCreateTruncate);
  }

  const std::string& dir8 = params_.upd_dirs[8];
  const std::string x = dir8.empty() ? std::string() : dir8.substr(0, dir8.size() - 1);
  const bool quiet = params_.server_automation;
  const auto move_failed = [&] {
    if (quiet) return;
    std::string text = FormatText(Text(kTextCannotMove), {std::string_view(x)}) + "\r\n" +
                       Text(kTextCannotCreateSav);
    if (IsSecondBrand(params_.brand)) text = ReplaceAll(std::move(text), "VELA", "NOR2");
    ShowBox(text);
  };

  if (!x.empty() && os::Exists(x)) {
    if (os::Exists(dir8)) {
      const std::string sav = x + kSavSuffix;
      if (!os::MoveNoReplace(x, sav).ok()) {
        move_failed();
        return false;
      }
      const bool emptied = DeleteTree(sav);
      if (!emptied || !os::RemoveFolder(sav).ok()) {
        if (!quiet) ShowBox(FormatText(Text(kTextCannotMove), {std::string_view(x)}));
        return false;
      }
      return true;
    }
    if (!os::MoveNoReplace(x, dir8).ok()) {
      move_failed();
      return false;
    }
    return true;
  }
  if (!os::Exists(dir8) && !os::MakeDirectory(dir8).ok()) {
    if (!quiet) ShowBox(FormatText(Text(kTextCannotCreate), {std::string_view(x)}));
    return false;
  }
  return true;
}

bool CVeUpdateApp::DeleteTree(const std::string& dir) {
  std::vector<os::DirEntry> entries;
  {
    os::DirSearch search;
    if (search.Start(os::JoinPath(dir, "*.*")).ok()) {
      os::DirEntry entry;
      while (search.Next(entry)) entries.push_back(entry);
    }
  }
  for (const os::DirEntry& entry : entries) {
    const std::string path = os::JoinPath(dir, entry.name);
    bool ok = true;
    if (entry.is_dir) {
      if (!entry.name.empty() && entry.name[0] == '.') continue;
      // What stopped a deeper level has been shown there: one box only.
      if (!DeleteTree(path)) return false;
      ok = os::RemoveFolder(path).ok() || !os::Exists(path);
    } else {
      (void)os::SetReadOnly(path, false);  // the removal below tells whether it mattered
      ok = os::RemoveFile(path).ok();
    }
    if (!ok) {
      if (!params_.server_automation) ShowBox(path);
      return false;
    }
  }
  return true;
}

void CVeUpdateApp::StartParentProgram() {
  const std::string& prg = params_.parent_prg;
  std::string work_dir = prg.substr(0, os::FindLastSeparator(prg));
  if (prg.find('"') != std::string::npos) work_dir += '"';
  std::string args = params_.parent_params;
  if (args.find(' ') != std::string::npos && (args.empty() || args[0] != '"')) args = '"' + args + '"';
  // The OS sees the program and its folder without the quotes that group
  // them on the command line.
  const std::string command_line = "\"" + RemoveQuotes(prg) + "\" " + args;
  os::Process process;
  // A parent that cannot start is ignored.
  (void)process.Start(command_line, RemoveQuotes(work_dir), os::ShowCommand::kShowNormal);
}

}  // namespace veupd
