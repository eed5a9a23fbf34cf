// veupd-tool from the output folder as a level's author meets it: help, crc and diff, trying a patch without a level,
// control lines to paste and the dry run of a whole level, with the real updater running the results.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "fault_support.h"
#include "integration/level_runner.h"
#include "test_support.h"

namespace veupd::test {
namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int status = -1;
  std::string out, err;
};

ToolRun Tool(const TempDir& scratch, const std::vector<std::string>& args) {
  const std::string out_file = scratch / "tool_out.txt", err_file = scratch / "tool_err.txt";
  const int status = RunQuoted(OutProgram("veupd-tool"), args, err_file, out_file);
  ToolRun run{status, ReadFile(out_file), ReadFile(err_file)};
  // Standard output and error are text streams on Windows.
  std::erase(run.out, '\r');
  std::erase(run.err, '\r');
  return run;
}

std::string Crc(const TempDir& dir, const std::string& file) { return Tool(dir, {"crc", file}).out.substr(0, 8); }

TEST(ToolHelp, EveryFormAnswersWithItsStatus) {
  TempDir dir;
  WriteFile(dir / "digits", "123456789");
  WriteFile(dir / "abc", "abc");
  const std::string usage = "usage: veupd-tool COMMAND", unknown = "veupd-tool: unknown command 'nope'";
  // Prefixes of the outputs; an empty out stands for no output at all.
  for (const auto& [args, status, out, err] : {
      std::tuple<std::vector<std::string>, int, std::string, std::string>{{}, 2, "", usage}, {{"--help"}, 0, usage, ""},
      {{"help"}, 0, usage, ""},     {{"--version"}, 0, "veupd-tool ", ""},
      {{"help", "crc"}, 0, "  crc FILE...", ""},  {{"crc", "--help"}, 0, "  crc FILE...", ""},
      {{"help", "nope"}, 2, "", unknown},         {{"nope"}, 2, "", unknown},
      // The check values of the updater's CRC-32 variant.
      {{"crc", dir / "digits"}, 0, "2DFD2D88\n", ""},
      {{"crc", dir / "digits", dir / "abc"}, 0, "2DFD2D88  " + (dir / "digits") + "\nCA6598D0  " + (dir / "abc"), ""},
      {{"crc", dir / "missing"}, 1, "", ""},
      {{"diff", "a"}, 2, "", ""},  {{"diff", "a", "b"}, 2, "", ""},  // no -o
      {{"diff", "a", "b", "-o", "c", "--structure", "s"}, 2, "", ""},  // needs --records
      {{"diff", "a", "b", "-o", "c", "--base", "%K=/x"}, 2, "", ""},
      {{"check"}, 2, "", ""},  {{"check", "--control", "x"}, 2, "", ""}}) {  // needs --root
    const ToolRun run = Tool(dir, args);
    const std::string out_start = run.out.substr(0, std::max<std::size_t>(out.size(), 1));
    EXPECT_EQ(std::tuple(run.status, out_start, run.err.substr(0, err.size())), std::tuple(status, out, err))
        << ::testing::PrintToString(args);
  }
}

// The printed control line, run by the updater, turns OLD into NEW.
TEST(PrintLine, RunsThroughTheUpdater) {
  // Length-prefixed records of a table data file.
  const auto record = [](const std::string& s) { return std::string{char(s.size()), char(s.size() >> 8)} + s; };
  std::mt19937 rng(7);
  std::string old_text, new_text;
  for (int i = 0; i < 300; ++i) {
    std::string content(rng() % 90, '\0');
    for (auto& ch : content) ch = static_cast<char>(rng());
    old_text += record(content);
    new_text += record(i % 37 == 5 ? content + "changed" : content);
    if (i % 50 == 3) new_text += record("inserted record");
  }
  for (const auto& [records, in_place, old_present, opcode] :
       {std::tuple{true, true, true, 'A'}, {false, true, false, 'B'}, {true, false, false, '0'}}) {
    SCOPED_TRACE(opcode);
    LevelRunner level;
    // Native separators: on Windows only '\' parts the file name (which the new file keeps) from its folder.
    const std::string old_path = level.Path((fs::path("data") / "TABLE.DAT").string()), target = level.Path("target");
    const std::string new_path = level.Path((fs::path("new") / "TABLE.DAT").string());
    for (const std::string& folder : {level.Path("data"), target}) fs::create_directories(folder);
    if (old_present) WriteFile(old_path, old_text);
    WriteFile(new_path, new_text);
    std::vector<std::string> args{"diff", old_path, new_path, "-o", level.Path("TABLE.UPD"), "--print-line"};
    if (records) args.push_back("--records");
    if (!in_place) args.insert(args.end(), {"--target", target});
    const ToolRun run = Tool(level.Dir(), args);
    ASSERT_EQ(run.status, 0);
    ASSERT_TRUE(run.out.starts_with(std::string("#") + opcode) && run.out.ends_with('\n')) << run.out;
    const LevelResult r = level.RunLevel(run.out.substr(0, run.out.size() - 1) + "\r\n");
    EXPECT_EQ(r.result, "1") << r.log;
    EXPECT_EQ(ReadFile(in_place ? old_path : target + "/TABLE.DAT"), new_text) << r.log;
  }
}

// A level authored with the tool: the printed lines name the installation and the update folder by their placeholders,
// check finds nothing wrong and leaves every file as it was, and the updater runs the level.
TEST(CheckTool, AGoodLevelPassesAndIsLeftUntouched) {
  if (IsWindowsBuild()) GTEST_SKIP() << "the level runner starts the updater through POSIX shell quoting";
  LevelRunner level;
  WriteFile(level.Path("inst/PROG/manual.txt"), "hello old manual\n");
  WriteFile(level.Path("new/manual.txt"), "hello new manual text\n");
  WriteFile(level.Path("upd/DATA/A.DAT"), "a");
  WriteFile(level.Path("inst/PROG/app.ini"), "[V]\r\nLevel=1\r\n");
  fs::create_directories(level.Path("upd/PROG"));
  TempDir scratch;
  const std::string crc = Crc(scratch, level.Path("new/manual.txt"));
  const auto diff = [&](const std::string& update, std::vector<std::string> more) {
    std::vector<std::string> args{"diff", level.Path("inst/PROG/manual.txt"), level.Path("new/manual.txt"), "-o",
                                  update, "--print-line", "--base", "%0=" + level.Path("inst")};
    args.insert(args.end(), more.begin(), more.end());
    return Tool(scratch, args);
  };
  const ToolRun copy = diff(level.Path("upd/PROG/copy.upd"), {"--target", level.Path("upd/PROG"), "--base",
                                                              "%1=" + level.Path("upd/")});
  EXPECT_EQ(copy.out, "#4%0\\PROG\\manual.txt\t" + crc + "\t%1\\PROG\\copy.upd\t%1\\PROG\n");
  const ToolRun in_place = diff(level.Path("upd/PROG/manual.upd"), {"--base", "%1=" + level.Path("upd")});
  EXPECT_EQ(in_place.out, "#B%0\\PROG\\manual.txt\t" + crc + "\t%1\\PROG\\manual.upd\n");
  EXPECT_EQ(copy.err + in_place.err, "");
  // A path outside every base stays as it is, with a warning.
  const ToolRun outside = diff(scratch / "x.upd", {});
  EXPECT_EQ(outside.status, 0);
  EXPECT_NE(outside.err.find("is below no --base folder"), std::string::npos) << outside.err;

  fs::remove(level.Path("new/manual.txt"));
  level.Set("UpdDir0", level.Path("inst"));
  level.Set("UpdDir1", level.Path("upd"));
  WriteFile(level.ControlFile(), "#1%1\\DATA\\*.DAT\t%0\\DATA\r\n" + copy.out.substr(0, copy.out.size() - 1) + "\r\n" +
                                     in_place.out.substr(0, in_place.out.size() - 1) +
                                     "\r\n#3%0\\PROG\\app.ini\tA\tV\tLevel\t%L\r\n#8\r\n");
  WriteFile(level.ParamFile(), ParamText({{"Msg", level.Path("msg/MSG.STR")}, {"Language", "E"},
                                          {"File", level.ControlFile()}, {"UpdDir0", level.Path("inst")},
                                          {"UpdDir1", level.Path("upd")}}));
  const auto before = Snapshot(level.Dir().path());
  const ToolRun check = Tool(scratch, {"check", level.ParamFile()});
  EXPECT_EQ(check.status, 0) << check.out;
  for (const char* says : {"check: 0 error(s), 0 warning(s)", "line 3: #B%0\\PROG\\manual.txt|",
                           "ok: the old file is the version the update was made from"}) {
    EXPECT_NE(check.out.find(says), std::string::npos) << check.out;
  }
  EXPECT_EQ(Snapshot(level.Dir().path()), before);
  const LevelResult r = level.RunWithCurrentFiles();
  EXPECT_EQ(r.exit_status, 0) << r.log;
  EXPECT_EQ(ReadFile(level.Path("upd/PROG/manual.txt")), "hello new manual text\n");
  EXPECT_EQ(ReadFile(level.Path("inst/PROG/manual.txt")), "hello new manual text\n");
}

// verify tells the three ways a patch line fails apart; apply refuses the first two before writing anything. What
// surprises authors shows in check as a warning or an error on its line; unreadable parameter files are named.
TEST(CheckTool, VerifyAndCheckTellWhatIsWrong) {
  TempDir dir;
  for (const auto& [name, text] : {std::pair{"DATA/lf.ini", "[A]\nk=1\n"}, {"DATA/old.txt", "old text\n"},
                                   {"DATA/other.txt", "other text\n"}, {"new.txt", "new text\n"},
                                   {"lf.ini", "[UPDATE]\nMsg=x\nLanguage=E\nFile=c.txt\n"},
                                   {"nofile.ini", "[UPDATE]\r\nMsg=x\r\nLanguage=E\r\n"}}) WriteFile(dir / name, text);
  ASSERT_EQ(Tool(dir, {"diff", dir / "DATA/old.txt", dir / "new.txt", "-o", dir / "DATA/m.upd"}).status, 0);
  const std::string crc = Crc(dir, dir / "new.txt"), upd = "\t" + crc + "\t%0\\DATA\\m.upd\t%0\\OUT";
  const std::string update = ReadFile(dir / "DATA/m.upd");
  WriteFile(dir / "cut.upd", update.substr(0, update.size() - 9));
  std::string changed = update;
  changed[10] = static_cast<char>(changed[10] ^ 0x20);
  WriteFile(dir / "changed.upd", changed);
  const std::string right = "OK: the old file is the version the update was made from";
  for (const auto& [old_file, update_file, expected, status, says] :
       {std::tuple{"DATA/old.txt", "DATA/m.upd", crc, 0, right},
        {"DATA/other.txt", "DATA/m.upd", crc, 1, "wrong old version"},
        {"gone.txt", "DATA/m.upd", crc, 1, "is missing; the update was made from a file with CRC"},
        {"DATA/old.txt", "cut.upd", crc, 1, "damaged update data"},
        {"DATA/old.txt", "changed.upd", crc, 1, "damaged update data"},
        {"DATA/old.txt", "DATA/m.upd", "DEADBEEF", 1, "wrong expected CRC (old file and update data are right)"}}) {
    const ToolRun run = Tool(dir, {"verify", dir / old_file, dir / update_file, expected});
    EXPECT_EQ(run.status, status) << says;
    EXPECT_NE((run.out + run.err).find(says), std::string::npos) << run.out << run.err;
  }
  // apply writes the new file for the right old one only.
  EXPECT_EQ(Tool(dir, {"apply", dir / "DATA/other.txt", dir / "DATA/m.upd", dir / "out1.txt"}).status, 1);
  EXPECT_FALSE(fs::exists(dir.path() / "out1.txt"));
  const ToolRun applied = Tool(dir, {"apply", dir / "DATA/old.txt", dir / "DATA/m.upd", dir / "out2.txt"});
  EXPECT_EQ(applied.status, 0) << applied.err;
  EXPECT_EQ(ReadFile(dir / "out2.txt"), "new text\n");
  EXPECT_EQ(applied.out, (dir / "out2.txt") + " written, CRC " + crc + "\n");

  // A control file, or "@" and a parameter file.
  for (const auto& [control, says, status] : {
      std::tuple<std::string, const char*, int>{"\xEF\xBB\xBF#8\t\n", "UTF-8 byte order mark", 1},
      {"#E%0\\DATA\\a\tb\tc\td\n", "unknown opcode 'E': the line runs as FDT-Update", 1},
      {"1%0\\DATA\\a\tb\n", "starts with no prefix", 1},
      {"#8\t\n\n#8\t\n", "this line ends the level: the 1 line(s) behind it are never read", 0},
      {"#8\t" + std::string(300, 'x') + "\n", "is longer than 254 characters", 1},
      {"?8\t\n", "never fires; write #8", 0},
      {"#1%0\\DATA\\*.XYZ\t%0\\OUT\n", "copies 0 files", 0},
      {"#3%0\\DATA\\lf.ini\tA\tA\tk\t2\n", "lines end in LF alone", 0},
      {"#1%0\\DATA\\gone.dat\t%0\\OUT\n", "does not exist", 1},
      {"#C%0\\DATA\\old.txt\n", "PARAM2 is missing", 1},
      {"#4%0\\DATA\\other.txt" + upd + "\n", "wrong old version", 1},
      {"#4%0\\DATA\\old.txt\t12345678\t%0\\DATA\\m.upd\t%0\\OUT\n", "wrong expected CRC", 1},
      {"#4%0\\DATA\\old.txt" + upd + "\n", "check: 0 error(s), 0 warning(s)", 0},
      {"#C%0\\DATA\\old.txt\tx.txt\n#1%0\\DATA\\x.txt\t%0\\OUT\n", "is made by line 1", 0},
      {"@gone.ini", "not found or not readable", 1},
      {"@lf.ini", "lines end in LF alone", 1},
      {"@nofile.ini", "key File is missing or empty", 1}}) {
    SCOPED_TRACE(says);
    WriteFile(dir / "ctrl.txt", control);
    const ToolRun run = control[0] == '@' ? Tool(dir, {"check", dir / control.substr(1)})
                                          : Tool(dir, {"check", "--control", dir / "ctrl.txt", "--root", dir.str()});
    EXPECT_EQ(run.status, status) << run.out;
    EXPECT_NE(run.out.find(says), std::string::npos) << run.out;
  }
  EXPECT_EQ(ReadFile(dir / "DATA/old.txt"), "old text\n");
  EXPECT_FALSE(fs::exists(dir.path() / "OUT"));
}

}  // namespace
}  // namespace veupd::test
