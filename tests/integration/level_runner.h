// Runs the real updater from the output folder on a temporary folder with a hand-built message table.
#pragma once

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "tables/fdt_test_tables.h"
#include "test_support.h"
#include "win32_boxes.h"

namespace veupd::test {

namespace fs = std::filesystem;

inline bool IsWindowsBuild() {
  std::error_code ec;
  return fs::exists(fs::path(VEUPD_OUT_DIR) / "VeUpd.exe", ec);
}
inline std::string VeupdProgram() {
  return (fs::path(VEUPD_OUT_DIR) / (IsWindowsBuild() ? "VeUpd.exe" : "veupd")).string();
}

using Keys = std::vector<std::pair<std::string, std::string>>;

inline std::string ParamText(const Keys& keys) {
  std::string text = "[UPDATE]\r\n";
  for (const auto& [key, value] : keys) text += key + "=" + value + "\r\n";
  return text;
}

struct ProgramRun {
  int exit_status = -1;
  std::string err;
#ifdef _WIN32
  std::vector<SeenBox> boxes;  // the message boxes it showed, in order
#endif
};

struct LevelResult : ProgramRun {
  std::string log;                        // the whole level log ("" when none)
  std::optional<std::string> result;      // DedozUduResult, when written
  std::optional<std::string> checkpoint;  // UpdCtrl.log bytes, when present
};

// How a Windows run answers a Yes/No box (other boxes get OK).
enum class Answer { kYes, kNo };

// The level helper copied into dir as "<role>.exe"; the name picks its role.
inline std::string LevelHelper(const fs::path& dir, const std::string& role) {
  const fs::path target = dir / (role + ".exe");
  fs::copy_file(fs::path(VEUPD_OUT_DIR) / "level_helper.exe", target, fs::copy_options::overwrite_existing);
  return target.string();
}

// Runs a program through the shell, arguments quoted, standard error (and output if named) into files.
inline int RunQuoted(const std::string& program, const std::vector<std::string>& args, const std::string& err_file,
                     const std::string& out_file = "") {
  std::string command = "\"" + program + "\"";
  for (const auto& a : args) command += " \"" + a + "\"";
  if (!out_file.empty()) command += " >\"" + out_file + "\"";
  command += " 2>\"" + err_file + "\"";
  // cmd.exe drops the first and last quote of a line that starts with one.
  if (IsWindowsBuild()) command = "\"" + command + "\"";
  int status = std::system(command.c_str());
  // Once under Wine a start with the program in place gave 35 below, which is cmd.exe's 9009 "cannot start".
  if (IsWindowsBuild() && status == 9009) status = std::system(command.c_str());
  // A POSIX wait status holds the code << 8; an end by a signal lands outside 0 to 2 either way.
  return status >= 256 ? (status >> 8) & 0xFF : status;
}

// Runs the updater with these arguments; collects standard error and exit status.
inline ProgramRun RunProgram(const std::vector<std::string>& args, const fs::path& scratch,
                             Answer answer = Answer::kYes) {
  const std::string err_file = (scratch / "stderr.txt").string();
  std::error_code ec;
  // The system's own spelling of the program path (a drive path under Wine).
  fs::path program = fs::canonical(VeupdProgram(), ec);
  if (ec) program = VeupdProgram();
  program.make_preferred();
  ProgramRun run;
#ifdef _WIN32
  // The boxes are answered meanwhile, their texts added as the POSIX build writes them to standard error.
  std::atomic<bool> ended{false};
  std::thread user([&] {
    while (!ended) {
      if (HWND box = FindDialog(false); box != nullptr) {
        run.boxes.push_back(ReadBox(box));
        PressButton(box, GetDlgItem(box, IDYES) == nullptr ? IDOK : answer == Answer::kYes ? IDYES : IDNO);
        WaitFor([&] { return IsWindow(box) == FALSE; }, 2000);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
#else
  (void)answer;  // POSIX without a terminal always answers Yes
#endif
  run.exit_status = RunQuoted(program.string(), args, err_file);
  run.err = ReadFile(err_file);
#ifdef _WIN32
  ended = true;
  user.join();
  for (const SeenBox& box : run.boxes) run.err += std::regex_replace(box.text, std::regex("\r\n"), "\n") + "\n";
#endif
  fs::remove(err_file, ec);
  return run;
}

// The value of a key in an INI text with CR LF lines.
inline std::optional<std::string> IniValue(const std::string& text, const std::string& key) {
  std::smatch m;
  if (!std::regex_search(text, m, std::regex("(^|\r\n)" + key + "=([^\r]*)"))) return std::nullopt;
  return m[2].str();
}

// A temporary installation: parameter file "upd.ini", control file "ctrl.txt", parent "parent.ini".
class LevelRunner {
 public:
  LevelRunner() {
    // The message table (language "E"), built byte by byte, texts in number order.
    StructureLayout layout = NumberTextLayout(0x2);  // keys compared last byte first
    layout.data_name = "MSG@.DAT";
    layout.index_name = "MSG@.IDX";
    std::string data, index;
    for (const auto& [number, text] : std::vector<std::pair<std::uint32_t, std::string>>{
             {70, "The old program folder is kept."}, {118, "Update"}, {3671, "An error occurred. Stop the update?"},
             {3977, "Files are being updated"}, {4783, "Parameter %s is missing !"},
             {11670, "Cannot move %s (VELA)"}, {11672, "Cannot create %s"}}) {
      index += Le32(number) + Le32(static_cast<std::uint32_t>(data.size()));
      data += Record(Le32(number) + Var8(text));
    }
    const fs::path msg = dir_.path() / "msg";
    WriteFile(msg / "MSGE.DAT", data);
    WriteFile(msg / "MSGE.IDX", index);
    WriteFile(msg / "MSG.STR", StructureBytes(layout));
    keys_["Msg"] = (msg / "MSG.STR").string();
    keys_["Language"] = "E";
    keys_["File"] = ControlFile();
    keys_["ParentParams"] = dir_ / "parent.ini";
  }

  [[nodiscard]] const TempDir& Dir() const { return dir_; }
  [[nodiscard]] std::string Path(std::string_view name) const { return dir_ / name; }
  [[nodiscard]] bool Exists(std::string_view name) const { return fs::exists(dir_.path() / name); }
  [[nodiscard]] std::string ControlFile() const { return dir_ / "ctrl.txt"; }
  [[nodiscard]] std::string ParamFile() const { return dir_ / "upd.ini"; }
  [[nodiscard]] std::string LogFile() const { return dir_ / "DedozUdu.log"; }
  [[nodiscard]] std::string CheckpointFile() const { return dir_ / "UpdCtrl.log"; }

  // The last line of standard error after a level (none from the GUI program).
  [[nodiscard]] std::string Summary(int errors, int level = 1) const {
    if (IsWindowsBuild()) return "";
    const std::string count =
        errors == 0 ? "without errors" : "with " + std::to_string(errors) + (errors == 1 ? " error" : " errors");
    return "veupd: level " + std::to_string(level) + " finished " + count + "; log: " + LogFile() + "\n";
  }

  void Set(const std::string& key, const std::string& value) { keys_[key] = value; }
  void Remove(const std::string& key) { keys_.erase(key); }

  // Writes the parameter and control files (bytes as given) and runs a level.
  LevelResult RunLevel(std::string_view control_text) {
    WriteFile(ControlFile(), control_text);
    return RunWithCurrentFiles();
  }

  // Runs on the files as they are (the control file is left alone).
  LevelResult RunWithCurrentFiles(Answer answer = Answer::kYes) {
    WriteFile(ParamFile(), ParamText(Keys(keys_.begin(), keys_.end())));
    LevelResult r;
    static_cast<ProgramRun&>(r) = RunProgram({ParamFile()}, dir_.path(), answer);
    r.log = ReadFile(LogFile());
    if (Exists("parent.ini")) r.result = IniValue(ReadFile(Path("parent.ini")), "DedozUduResult");
    if (Exists("UpdCtrl.log")) r.checkpoint = ReadFile(CheckpointFile());
    return r;
  }

 private:
  TempDir dir_;
  std::map<std::string, std::string> keys_;
};

// The entries between one level's banners (or all after the opening one); nullopt for a log not of that form.
inline std::optional<std::string> LevelBody(const std::string& log, int level, bool closed = true) {
  const std::string time = "\\d{2}\\.\\d{2}\\.\\d{4}   \\d{2}:\\d{2}:\\d{2}\r\n";
  const std::string banner = " Update Level " + std::to_string(level) + " -----\\*{3}\r\n";
  std::smatch start, end;
  if (!std::regex_search(log, start, std::regex("^\\*{3}----- Starting" + banner + time))) return std::nullopt;
  const std::string rest = start.suffix();
  if (!closed) return rest;
  if (!std::regex_search(rest, end, std::regex(time + "\\*{3}----- Terminating" + banner + "$"))) return std::nullopt;
  return std::string(end.prefix());
}

// An error entry as the level log shows it (subcode 0), the message padded to 37.
inline std::string ErrorEntry(std::string message, int line, int code, const std::vector<std::string>& params = {}) {
  if (message.size() < 37) message.resize(37, ' ');
  std::string e = "Error : " + message + " (Line " + std::to_string(line) + ", code " + std::to_string(code) +
                  ", subcode 0)";
  for (std::size_t i = 0; i < params.size(); ++i) e += "\r\n\tParameter " + std::to_string(i + 1) + " : " + params[i];
  return e + "\r\n";
}

}  // namespace veupd::test
