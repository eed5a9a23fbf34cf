// veupd-tool as a level's author meets it: help, trying a patch without a
// level, control lines to paste, and the dry run of a whole level.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "integration/level_runner.h"
#include "patch/tool_runner.h"
#include "test_support.h"

namespace veupd::test {
namespace {

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

TEST(ToolHelp, EveryFormAnswersWithItsStatus) {
  TempDir dir;
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* out_prefix;  // "" when nothing goes to standard output
    const char* err_prefix;
  };
  const std::vector<Case> cases = {
      {{}, 2, "", "usage: veupd-tool COMMAND"},
      {{"--help"}, 0, "usage: veupd-tool COMMAND", ""},
      {{"help"}, 0, "usage: veupd-tool COMMAND", ""},
      {{"--version"}, 0, "veupd-tool ", ""},
      {{"help", "crc"}, 0, "  crc FILE...", ""},
      {{"crc", "--help"}, 0, "  crc FILE...", ""},
      {{"help", "nope"}, 2, "", "veupd-tool: unknown command 'nope'"},
      {{"nope"}, 2, "", "veupd-tool: unknown command 'nope'"},
  };
  for (const auto& c : cases) {
    const ToolRun run = Tool(dir, c.args);
    const std::string name = c.args.empty() ? "(none)" : c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : "");
    EXPECT_EQ(run.status, c.status) << name;
    EXPECT_TRUE(StartsWith(run.out, c.out_prefix)) << name << ": " << run.out;
    EXPECT_TRUE(StartsWith(run.err, c.err_prefix)) << name << ": " << run.err;
    if (*c.out_prefix == '\0') {
      EXPECT_EQ(run.out, "") << name;
    }
  }
}

// The printed line names the installation and the update folder by their
// placeholders, and the updater runs it with other folders behind them.
TEST(PrintLine, PathsBelowABaseBecomeItsPlaceholder) {
  if (IsWindowsBuild()) GTEST_SKIP() << "the level runner starts the updater through POSIX shell quoting";
  TempDir author;
  WriteFile(author / "inst/PROG/manual.txt", "hello old manual\n");
  WriteFile(author / "new/manual.txt", "hello new manual text\n");
  std::filesystem::create_directories(author.path() / "upd/PROG");
  const ToolRun run = Tool(author, {"diff", author / "inst/PROG/manual.txt", author / "new/manual.txt", "-o",
                                    author / "upd/PROG/manual.upd", "--print-line", "--target", author / "upd/PROG",
                                    "--base", "%0=" + (author / "inst"), "--base", "%1=" + (author / "upd/")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::string crc = Tool(author, {"crc", author / "new/manual.txt"}).out.substr(0, 8);
  EXPECT_EQ(run.out, "#4%0\\PROG\\manual.txt\t" + crc + "\t%1\\PROG\\manual.upd\t%1\\PROG\n");

  // Elsewhere, as on a customer's machine.
  LevelRunner level;
  std::filesystem::copy(author.path() / "inst", level.Path("inst"), std::filesystem::copy_options::recursive);
  std::filesystem::copy(author.path() / "upd", level.Path("upd"), std::filesystem::copy_options::recursive);
  level.Set("UpdDir0", level.Path("inst"));
  level.Set("UpdDir1", level.Path("upd"));
  const LevelResult r = level.RunLevel(run.out);
  EXPECT_EQ(r.result, "1") << r.log;
  EXPECT_EQ(ReadFile(level.Path("upd/PROG/manual.txt")), "hello new manual text\n");

  // A path outside every base stays as it is, with a warning.
  const ToolRun outside = Tool(author, {"diff", author / "inst/PROG/manual.txt", author / "new/manual.txt", "-o",
                                        author / "x.upd", "--print-line", "--base", "%0=" + (author / "inst")});
  EXPECT_EQ(outside.status, 0);
  EXPECT_NE(outside.err.find("is below no --base folder"), std::string::npos) << outside.err;
  EXPECT_EQ(Tool(author, {"diff", "a", "b", "-o", "c", "--base", "%K=/x"}).status, 2);
}

// verify tells the three ways a patch line fails apart; apply refuses the
// first two before writing anything.
TEST(VerifyTool, TellsWrongOldVersionFromDamagedDataFromWrongCrc) {
  TempDir dir;
  WriteFile(dir / "old.txt", "hello old manual, version one\n");
  WriteFile(dir / "new.txt", "hello new manual text, version two\n");
  WriteFile(dir / "other.txt", "someone else's manual\n");
  ASSERT_EQ(Tool(dir, {"diff", dir / "old.txt", dir / "new.txt", "-o", dir / "m.upd"}).status, 0);
  const std::string crc = Tool(dir, {"crc", dir / "new.txt"}).out.substr(0, 8);
  const std::string upd = ReadFile(dir / "m.upd");
  WriteFile(dir / "cut.upd", upd.substr(0, upd.size() - 9));
  std::string changed = upd;
  changed[10] = static_cast<char>(changed[10] ^ 0x20);
  WriteFile(dir / "changed.upd", changed);
  struct Case {
    const char* name;
    std::string old_file, update, crc;
    int status;
    const char* says;
  };
  const std::vector<Case> cases = {
      {"right", "old.txt", "m.upd", crc, 0, "OK: the old file is the version the update was made from"},
      {"wrong old version", "other.txt", "m.upd", crc, 1, "wrong old version"},
      {"old file missing", "gone.txt", "m.upd", crc, 1, "is missing; the update was made from a file with CRC"},
      {"cut short", "old.txt", "cut.upd", crc, 1, "damaged update data"},
      {"byte changed", "old.txt", "changed.upd", crc, 1, "damaged update data"},
      {"wrong expected CRC", "old.txt", "m.upd", "DEADBEEF", 1, "wrong expected CRC (old file and update data are right)"},
  };
  for (const auto& c : cases) {
    const ToolRun run = Tool(dir, {"verify", dir / c.old_file, dir / c.update, c.crc});
    EXPECT_EQ(run.status, c.status) << c.name;
    EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << c.name << ": " << run.out << run.err;
  }
  // apply writes the new file for the right old one only.
  EXPECT_EQ(Tool(dir, {"apply", dir / "other.txt", dir / "m.upd", dir / "out1.txt"}).status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "out1.txt"));
  const ToolRun applied = Tool(dir, {"apply", dir / "old.txt", dir / "m.upd", dir / "out2.txt"});
  EXPECT_EQ(applied.status, 0) << applied.err;
  EXPECT_EQ(ReadFile(dir / "out2.txt"), ReadFile(dir / "new.txt"));
  EXPECT_EQ(applied.out, (dir / "out2.txt") + " written, CRC " + crc + "\n");
}

// Every file below dir with its content, to show that check wrote nothing.
std::map<std::string, std::string> Snapshot(const TempDir& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path())) {
    if (e.is_regular_file() && e.path().filename().string().rfind("tool_", 0) != 0) {
      files[e.path().string()] = ReadFile(e.path().string());
    }
  }
  return files;
}

// A level authored with the tool: check finds nothing wrong, leaves every
// file as it was, and the updater then runs the level without errors.
TEST(CheckTool, AGoodLevelPassesAndIsLeftUntouched) {
  if (IsWindowsBuild()) GTEST_SKIP() << "the level runner starts the updater through POSIX shell quoting";
  LevelRunner level;
  WriteFile(level.Path("inst/PROG/manual.txt"), "hello old manual\n");
  WriteFile(level.Path("new/manual.txt"), "hello new manual text\n");
  WriteFile(level.Path("upd/DATA/A.DAT"), "a");
  WriteFile(level.Path("inst/PROG/app.ini"), "[V]\r\nLevel=1\r\n");
  std::filesystem::create_directories(level.Path("upd/PROG"));
  TempDir scratch;
  const ToolRun diff = Tool(scratch, {"diff", level.Path("inst/PROG/manual.txt"), level.Path("new/manual.txt"), "-o",
                                      level.Path("upd/PROG/manual.upd"), "--print-line", "--base",
                                      "%0=" + level.Path("inst"), "--base", "%1=" + level.Path("upd")});
  ASSERT_EQ(diff.status, 0) << diff.err;
  std::filesystem::remove(level.Path("new/manual.txt"));
  level.Set("UpdDir0", level.Path("inst"));
  level.Set("UpdDir1", level.Path("upd"));
  WriteFile(level.ControlFile(), "#1%1\\DATA\\*.DAT\t%0\\DATA\r\n" + diff.out.substr(0, diff.out.size() - 1) +
                                     "\r\n#3%0\\PROG\\app.ini\tA\tV\tLevel\t%L\r\n#8\r\n");
  WriteFile(level.ParamFile(), ParamText({{"Msg", level.Path("msg/MSG.STR")}, {"Language", "E"},
                                          {"File", level.ControlFile()}, {"UpdDir0", level.Path("inst")},
                                          {"UpdDir1", level.Path("upd")}}));
  const auto before = Snapshot(level.Dir());
  const ToolRun check = Tool(scratch, {"check", level.ParamFile()});
  EXPECT_EQ(check.status, 0) << check.out;
  EXPECT_NE(check.out.find("check: 0 error(s), 0 warning(s)"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("line 2: #B%0\\PROG\\manual.txt|"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("ok: the old file is the version the update was made from"), std::string::npos);
  EXPECT_EQ(Snapshot(level.Dir()), before);
  const LevelResult r = level.RunWithCurrentFiles();
  EXPECT_EQ(r.exit_status, 0) << r.log;
}

// What surprises authors: each shows as a warning or an error on its line.
TEST(CheckTool, SurprisingLinesAreNamed) {
  TempDir dir;
  WriteFile(dir / "DATA/lf.ini", "[A]\nk=1\n");
  WriteFile(dir / "DATA/old.txt", "old text\n");
  WriteFile(dir / "DATA/other.txt", "other text\n");
  WriteFile(dir / "new.txt", "new text\n");
  ASSERT_EQ(Tool(dir, {"diff", dir / "DATA/old.txt", dir / "new.txt", "-o", dir / "DATA/m.upd"}).status, 0);
  struct Case {
    const char* name;
    std::string control;
    const char* says;
    int status;
  };
  const std::string upd = "\t" + Tool(dir, {"crc", dir / "new.txt"}).out.substr(0, 8) + "\t%0\\DATA\\m.upd\t%0\\OUT";
  const std::vector<Case> cases = {
      {"BOM", "\xEF\xBB\xBF#8\t\n", "UTF-8 byte order mark", 1},
      {"unknown opcode", "#E%0\\DATA\\a\tb\tc\td\n", "unknown opcode 'E': the line runs as FDT-Update", 1},
      {"no prefix", "1%0\\DATA\\a\tb\n", "starts with no prefix", 1},
      {"blank line", "#8\t\n\n#8\t\n", "this line ends the level: the 1 line(s) behind it are never read", 0},
      {"long line", "#8\t" + std::string(300, 'x') + "\n", "is longer than 254 characters", 1},
      {"?8", "?8\t\n", "never fires; write #8", 0},
      {"copy of 0 files", "#1%0\\DATA\\*.XYZ\t%0\\OUT\n", "copies 0 files", 0},
      {"LF INI file", "#3%0\\DATA\\lf.ini\tA\tA\tk\t2\n", "lines end in LF alone", 0},
      {"missing source", "#1%0\\DATA\\gone.dat\t%0\\OUT\n", "does not exist", 1},
      {"missing slot", "#C%0\\DATA\\old.txt\n", "PARAM2 is missing", 1},
      {"wrong old version", "#4%0\\DATA\\other.txt" + upd + "\n", "wrong old version", 1},
      {"wrong expected CRC", "#4%0\\DATA\\old.txt\t12345678\t%0\\DATA\\m.upd\t%0\\OUT\n", "wrong expected CRC", 1},
      {"right patch", "#4%0\\DATA\\old.txt" + upd + "\n", "check: 0 error(s), 0 warning(s)", 0},
      {"source made earlier", "#C%0\\DATA\\old.txt\tx.txt\n#1%0\\DATA\\x.txt\t%0\\OUT\n", "is made by line 1", 0},
  };
  for (const auto& c : cases) {
    WriteFile(dir / "ctrl.txt", c.control);
    const ToolRun run = Tool(dir, {"check", "--control", dir / "ctrl.txt", "--root", dir.str()});
    EXPECT_EQ(run.status, c.status) << c.name << "\n" << run.out;
    EXPECT_NE(run.out.find(c.says), std::string::npos) << c.name << "\n" << run.out;
  }
  EXPECT_EQ(ReadFile(dir / "DATA/old.txt"), "old text\n");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "OUT"));
}

TEST(CheckTool, ParameterFilesTheUpdaterCannotRead) {
  TempDir dir;
  WriteFile(dir / "lf.ini", "[UPDATE]\nMsg=x\nLanguage=E\nFile=c.txt\n");
  WriteFile(dir / "nofile.ini", "[UPDATE]\r\nMsg=x\r\nLanguage=E\r\n");
  struct Case {
    const char* name;
    std::string file;
    const char* says;
  };
  const std::vector<Case> cases = {
      {"missing", dir / "gone.ini", "not found or not readable"},
      {"LF line ends", dir / "lf.ini", "lines end in LF alone"},
      {"no File key", dir / "nofile.ini", "key File is missing or empty"},
  };
  for (const auto& c : cases) {
    const ToolRun run = Tool(dir, {"check", c.file});
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_NE(run.out.find(c.says), std::string::npos) << c.name << "\n" << run.out;
  }
  EXPECT_EQ(Tool(dir, {"check"}).status, 2);
  EXPECT_EQ(Tool(dir, {"check", "--control", "x"}).status, 2);  // needs --root
}

}  // namespace
}  // namespace veupd::test
