// INI writes and deletes under failing file primitives: whatever fails, the
// file holds its old content or the new one, never a cut or a torn tail.
#include <gtest/gtest.h>

#include <string>

#include "fault_support.h"
#include "formats/ini_file.h"

namespace veupd {
namespace {

const std::string kBig(70000, 'v');  // a value beyond one write of the rewrite
const std::string kOld = "[UPDATE]\r\nLevel=3\r\nBig=" + kBig + "\r\n\r\n[OTHER]\r\nx=1\r\n";

struct Edit {
  const char* name;
  bool (*run)(CIniClass& ini, const std::string& path);
  std::string result;
};

const Edit kEdits[] = {
    {"replace a key", [](CIniClass& ini, const std::string& p) { return ini.WriteValue("UPDATE", "Level", "4", p, true); },
     "[UPDATE]\r\nLevel=4\r\nBig=" + kBig + "\r\n\r\n[OTHER]\r\nx=1\r\n"},
    {"add a key", [](CIniClass& ini, const std::string& p) { return ini.WriteValue("UPDATE", "New", "1", p, true); },
     "[UPDATE]\r\nLevel=3\r\nBig=" + kBig + "\r\nNew=1\r\n\r\n[OTHER]\r\nx=1\r\n"},
    {"add a section", [](CIniClass& ini, const std::string& p) { return ini.WriteValue("NEW", "k", "v", p, true); },
     kOld + "\r\n[NEW]\r\nk=v\r\n"},
    {"delete a key", [](CIniClass& ini, const std::string& p) { return ini.DeleteKey("UPDATE", "Level", p, true); },
     "[UPDATE]\r\nBig=" + kBig + "\r\n\r\n[OTHER]\r\nx=1\r\n"},
};

TEST(IniFileFault, EveryFailingCallLeavesTheOldOrTheNewContent) {
  for (const Edit& edit : kEdits) {
    SCOPED_TRACE(edit.name);
    test::ForEveryFileFault([&](const test::FaultCase&, os::fault::FaultScope&) {
      test::TempDir dir;
      const std::string path = dir / "param.ini";
      test::WriteFile(path, kOld);
      CIniClass ini;
      const bool ok = edit.run(ini, path);
      const std::string now = test::ReadFile(path);
      EXPECT_EQ(test::Snapshot(dir.path()).size(), 1u) << "no other file";
      if (!ok && now == kOld) return;
      EXPECT_TRUE(test::Holds(now, edit.result, ok ? "new content" : "damaged"));
    });
  }
}

}  // namespace
}  // namespace veupd
