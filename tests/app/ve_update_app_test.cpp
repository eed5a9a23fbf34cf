// Start-up parameter preparation: the command line, the log location and
// the marker file name.
#include "app/ve_update_app.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/platform.h"

namespace veupd {
namespace {

TEST(ParamFileFromCommandLine, TakesQuotedOrWholeTrimmedText) {
  struct Case {
    const char* name;
    const char* line;
    const char* path;
  };
  const std::vector<Case> cases = {
      {"plain", "C:\\UPD\\P.INI", "C:\\UPD\\P.INI"},
      {"blanks trimmed", "   C:\\P.INI  ", "C:\\P.INI"},
      {"quoted, more text after", "\"C:\\My Dir\\P.INI\" more", "C:\\My Dir\\P.INI"},
      {"blank inside unquoted text kept", "C:\\My Dir\\P.INI", "C:\\My Dir\\P.INI"},
      {"unterminated quote", "\"C:\\P.INI", ""},
      {"only blanks", "   ", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ParamFileFromCommandLine(c.line), c.path) << c.name;
}

TEST(PrepareLogDir, UsesTheControlFileFolderOrTheSubstitutedValue) {
  UpdDirs dirs;
  dirs[0] = "C:\\CAT";
  dirs[2] = "C:\\U2";
  const std::string sep(1, os::kNativeSeparator);
  EXPECT_EQ(PrepareLogDir("", "C:\\UPD\\CTRL.TXT", dirs), "C:\\UPD\\");
  EXPECT_EQ(PrepareLogDir("", "CTRL.TXT", dirs), "");
  EXPECT_EQ(PrepareLogDir("%2\\LOG", "C:\\UPD\\CTRL.TXT", dirs), "C:\\U2\\LOG" + sep);
  EXPECT_EQ(PrepareLogDir("%2\\LOG\\", "x", dirs), "C:\\U2\\LOG\\");
  // '%L' is not the level here.
  EXPECT_EQ(PrepareLogDir("%L", "x", dirs), "C:\\CAT" + sep);
}

TEST(PrepareLogName, FormatsThePatternWithTheLevel) {
  EXPECT_EQ(PrepareLogName("upd%03d.log", 12), "upd012.log");
  EXPECT_EQ(PrepareLogName("upd%03d.log", 7), "upd007.log");
  EXPECT_EQ(PrepareLogName("plain.log", 7), "plain.log");
  EXPECT_EQ(PrepareLogName("", 7), "");
  // Any conversion is safe: a text one prints the level, extra ones get 0.
  EXPECT_EQ(PrepareLogName("a%sb%d.log", 7), "a7b0.log");
}

TEST(MarkerFileName, WidensFrom100On) {
  EXPECT_EQ(MarkerFileName(5), "upd006.log");
  EXPECT_EQ(MarkerFileName(98), "upd099.log");
  EXPECT_EQ(MarkerFileName(99), "upd100.log");
  EXPECT_EQ(MarkerFileName(1233), "upd1234.log");
}

}  // namespace
}  // namespace veupd
