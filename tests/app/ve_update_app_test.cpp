// Start-up parameter preparation: the command line and the log location.
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

}  // namespace
}  // namespace veupd
