// CVeUpdateApp: the application object. Reads the parameter file, opens the
// message dictionary, prepares the log location and the program update,
// runs the progress dialog that carries the level, and writes the outcome
// back. Main thread; one object per process.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/level_runner.h"
#include "formats/ini_file.h"
#include "platform/progress_view.h"
#include "tables/message_dictionary.h"

namespace veupd {

// Exit status: the level ran without errors, with errors, or not at all.
constexpr int kExitSuccess = 0;
constexpr int kExitLevelFailed = 1;
constexpr int kExitNotRun = 2;

constexpr std::uint16_t kPersianLanguage = 0x29;
constexpr std::uint16_t kPrimaryLanguageMask = 0x3FF;
constexpr const char* kBoxCaption = "VeUpd";
constexpr const char* kSection = "UPDATE";

// Dictionary texts of the start-up.
constexpr std::uint32_t kTextCannotCreateSav = 70;
constexpr std::uint32_t kTextMissingKey = 4783;
constexpr std::uint32_t kTextCannotMove = 11670;
constexpr std::uint32_t kTextCannotCreate = 11672;

// The parameter file path in a command line: trimmed; a leading double
// quote takes the text up to the next one (empty without a second one).
[[nodiscard]] std::string ParamFileFromCommandLine(std::string_view command_line);
// LogFileDir prepared: the control file's directory when empty, otherwise
// its placeholders replaced; a separator is appended unless there is one.
[[nodiscard]] std::string PrepareLogDir(const std::string& log_file_dir,
                                        const std::string& control_file, const UpdDirs& dirs);
// LogFileName formatted with the level ("upd%03d.log" at 7 -> "upd007.log").
[[nodiscard]] std::string PrepareLogName(const std::string& pattern, std::int32_t level);
// "upd%03d.log" below 100, "upd%d.log" from 100 on, for program level + 1.
[[nodiscard]] std::string MarkerFileName(std::int32_t program_level);

// Everything the start-up reads from the parameter files.
struct StartupParams {
  std::string param_file;
  std::string msg_file, language, control_file;
  std::string parent_prg, parent_params;
  UpdDirs upd_dirs;
  std::string log_file_dir, log_file_name;
  std::string brand;
  std::int32_t level = 1;
  std::int32_t level_prg = 0;
  std::string upd_dir_prg;
  bool in_place_mode = false;
  std::uintptr_t hwnd = 0;
  bool server_automation = false;
};

// Every key of the parameter file as the updater reads it (section
// "UPDATE", names ignoring case, defaults for what is missing). Also used by
// veupd-tool check.
[[nodiscard]] StartupParams ReadStartupParams(CIniClass& ini, const std::string& param_file);

class CVeUpdateApp final : public TextSource {
 public:
  explicit CVeUpdateApp(std::unique_ptr<os::ProgressView> view);
  ~CVeUpdateApp() override;
  CVeUpdateApp(const CVeUpdateApp&) = delete;
  CVeUpdateApp& operator=(const CVeUpdateApp&) = delete;

  // The whole start-up operation; returns the exit status.
  int InitInstance(std::string_view command_line);

  std::string Text(std::uint32_t number) override;

 private:
  [[nodiscard]] bool ReadParameters();
  // A line on stderr when the parameter file is missing, empty or LF-ended.
  void ExplainParamFile();
  // ServerAutomation from the parent parameter file.
  void ReadServerAutomation();
  [[nodiscard]] LevelSetup MakeLevelSetup() const;
  // False when the program is to end.
  [[nodiscard]] bool PrepareProgramUpdate();
  [[nodiscard]] bool DeleteTree(const std::string& dir);
  void ShowBox(std::string_view text);
  void StartParentProgram();
  // The outcome to the caller: result key, parent program, console summary.
  void HandBack(const LevelRunner& level);

  std::unique_ptr<os::ProgressView> view_;
  TDM_FdtTessel dictionary_{nullptr, nullptr, "D0"};
  CIniClass ini_;
  StartupParams params_;
  std::string program_dir_;
  bool success_ = false;
};

}  // namespace veupd
