// CIniClass byte for byte (reads, writes, deletes, the cache, failing edits) and the case folding of its names.
#include "formats/ini_file.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "fault_support.h"
#include "base/ascii.h"
#include "platform/platform.h"

namespace veupd {
namespace {

TEST(IniFile, ReadValueAndCaseFolding) {
  test::TempDir dir;
  CIniClass ini;
  struct Case {
    const char *name, *content, *section, *key, *expected;
    bool result;
  };
  const Case cases[] = {
      {"blank before = belongs to the name", "[S]\r\nb = 2\r\n", "S", "b", "DEF", true},
      {"name with the trailing blank", "[S]\r\nb = 2\r\n", "S", "b ", "2", true},
      {"section name ignores case", "[s]\r\nK=1\r\n", "S", "k", "1", true},
      {"value trimmed", "[S]\r\nv=  x y  \r\n", "S", "v", "x y", true},
      {"empty value", "[S]\r\nv=\r\n", "S", "v", "", true},
      {"last line without line end", "[S]\r\na=1", "S", "a", "1", true},
      {"blanks before the key", "[S]\r\n \t a=1\r\n", "S", "a", "1", true},
      {"second section", "[S]\r\na=1\r\n[T]\r\na=2\r\n", "T", "a", "2", true},
      {"missing section", "[S]\r\na=1\r\n", "X", "a", "DEF", true},
      {"missing key", "[S]\r\na=1\r\n[T]\r\nb=2\r\n", "S", "b", "DEF", true},
      {"blanks before the first header", " \t[S]\r\na=1\r\n", "S", "a", "1", true},
      {"later indented header is no header", "[T]\r\n  [S]\r\na=1\r\n", "S", "a", "DEF", true},
      {"indented header ends a section", "[S]\r\nx=1\r\n  [T]\r\na=1\r\n", "S", "a", "DEF", true},
      {"bare LF file is one line", "[S]\nx=1\na=2\n", "S", "a", "DEF", true},
      {"header without ]", "[S\r\na=1\r\n", "S", "a", "DEF", true},
      {"] searched past the line end", "[S\r\n]\r\na=1\r\n", "S\r\n", "a", "1", true},
      {"semicolon is part of the name", "[S]\r\n;a=1\r\n", "S", ";a", "1", true},
      {"line without = is skipped", "[S]\r\nabc\r\na=1\r\n", "S", "a", "1", true},
      {"no = up to the end fails", "[S]\r\nabc\r\n", "S", "a", "DEF", false},
      {"value runs to the CR over LFs", "[S]\r\na=1\nb=2\r\n", "S", "a", "1\nb=2", true},
      {"first of two equal sections", "[S]\r\n[S]\r\na=1\r\n", "S", "a", "DEF", true},
      {"empty file", "", "S", "a", "DEF", true},
      {"header only", "[S]", "S", "a", "DEF", true},
      {"binary content", "\x01\x02\r\xff[S]\r\n\x7f=\x80", "S", "\x7f", "\x80", true},
  };
  const std::string path = dir / "test.ini";
  std::string value;
  for (const Case& c : cases) {
    test::WriteFile(path, c.content);
    value = "junk";
    EXPECT_EQ(ini.ReadValue(c.section, c.key, "DEF", value, path, /*no_case=*/true), c.result) << c.name;
    EXPECT_EQ(value, c.expected) << c.name;
  }
  test::WriteFile(path, "[s]\r\nK=1\r\n[S]\r\nk=2\r\n");
  EXPECT_TRUE(ini.ReadValue("S", "k", "DEF", value, path, /*no_case=*/false));
  EXPECT_EQ(value, "2");
  EXPECT_TRUE(ini.ReadValue("s", "k", "DEF", value, path, /*no_case=*/false));
  EXPECT_EQ(value, "DEF");
  // Case folding touches A-Z and a-z only, not the bytes one case bit away from them nor those above 127.
  const std::tuple<std::string_view, std::string_view, bool> names[] = {
      {"PTR0042.Idx", "ptr0042.IDX", true}, {"@", "`", false}, {"[]\\^", "{}|~", false},
      {"\xC4", "\xE4", false},             {"abc", "ab", false}};
  for (const auto& [a, b, equal] : names) EXPECT_EQ(EqualsNoCase(a, b), equal) << a << " " << b;
  EXPECT_EQ(UpperAscii("a@z[`{\xE4"), "A@Z[`{\xE4");
  EXPECT_EQ(LowerAscii("A@Z[`{\xC4"), "a@z[`{\xC4");
}

// A value writes the key; no value deletes it. No folder: nothing written. Any write empties the read cache.
TEST(IniFile, WriteValueDeleteKeyAndTheCache) {
  test::TempDir dir;
  CIniClass ini;
  struct Case {
    const char *name, *before, *section, *key;  // before: nullptr for no file
    const char* value;  // nullptr: DeleteKey
    const char* after;
  };
  const Case cases[] = {
      {"missing file", nullptr, "S", "k", "v", "\r\n[S]\r\nk=v\r\n"},
      {"empty file", "", "S", "k", "v", "\r\n[S]\r\nk=v\r\n"},
      {"one byte, no line end added", "x", "S", "k", "v", "x\r\n[S]\r\nk=v\r\n"},
      {"new section after CR LF", "[T]\r\nx=1\r\n", "S", "k", "v", "[T]\r\nx=1\r\n\r\n[S]\r\nk=v\r\n"},
      {"new section, line end added", "[T]\r\nx=1", "S", "k", "v", "[T]\r\nx=1\r\n\r\n[S]\r\nk=v\r\n"},
      {"new key, empty lines collapse", "[S]\r\na=1\r\n\r\n\r\n[T]\r\nx=2\r\n", "S", "k", "v",
       "[S]\r\na=1\r\nk=v\r\n\r\n[T]\r\nx=2\r\n"},
      {"new key, last section without line end", "[S]\r\na=1", "S", "k", "v", "[S]\r\na=1\r\nk=v\r\n\r\n"},
      {"new key, last section with line end", "[S]\r\na=1\r\n", "S", "k", "v", "[S]\r\na=1\r\nk=v\r\n\r\n"},
      {"new key under a bare header", "[S]", "S", "k", "v", "[S]\r\nk=v\r\n\r\n"},
      {"new key before indented header", "[S]\r\na=1\r\n  [T]\r\n", "S", "k", "v",
       "[S]\r\na=1\r\n  \r\nk=v\r\n\r\n[T]\r\n"},
      {"key replaced, caller's case, blanks kept", "[S]\r\n  A=1\r\nb=2\r\n", "S", "a", "9",
       "[S]\r\n  a=9\r\nb=2\r\n"},
      {"rest of the old line dropped", "[S]\r\na=1 ; old\r\nb=2", "S", "a", "2", "[S]\r\na=2\r\nb=2"},
      {"key on the last line", "[S]\r\na=1", "S", "a", "2", "[S]\r\na=2\r\n"},
      {"value written unchanged", "[S]\r\na=1\r\n", "S", "a", "  x  ", "[S]\r\na=  x  \r\n"},
      {"delete: key removed", "[S]\r\na=1\r\nb=2\r\n", "S", "a", nullptr, "[S]\r\nb=2\r\n"},
      {"delete: blanks join the next line", "[S]\r\n  a=1\r\nb=2\r\n", "S", "a", nullptr, "[S]\r\n  b=2\r\n"},
      {"delete: only the first match", "[S]\r\na=1\r\na=2\r\n", "S", "a", nullptr, "[S]\r\na=2\r\n"},
      {"delete: last line without line end", "[S]\r\nb=2\r\na=1", "S", "a", nullptr, "[S]\r\nb=2\r\n"},
      {"delete: missing key leaves the file", "[S]\r\nb=2\r\n", "S", "a", nullptr, "[S]\r\nb=2\r\n"},
      {"delete: key of another section stays", "[S]\r\nb=2\r\n[T]\r\na=1\r\n", "S", "a", nullptr,
       "[S]\r\nb=2\r\n[T]\r\na=1\r\n"},
      {"delete: missing file is created empty", nullptr, "S", "a", nullptr, ""},
  };
  for (const Case& c : cases) {
    const std::string path = dir / (std::string("w") + std::to_string(&c - cases) + ".ini");
    if (c.before != nullptr) test::WriteFile(path, c.before);
    EXPECT_TRUE(c.value != nullptr ? ini.WriteValue(c.section, c.key, c.value, path, /*no_case=*/true)
                                   : ini.DeleteKey(c.section, c.key, path, /*no_case=*/true))
        << c.name;
    EXPECT_TRUE(os::Exists(path)) << c.name;
    EXPECT_EQ(test::ReadFile(path), c.after) << c.name;
  }
  EXPECT_FALSE(ini.WriteValue("S", "k", "v", dir / "no/such/dir/x.ini", /*no_case=*/true));
  EXPECT_FALSE(ini.DeleteKey("S", "k", dir / "no/such/dir/x.ini", /*no_case=*/true));

  // A cached read keeps the first file read (path case ignored) until any write; a missing or empty one is not kept.
  const std::string path = dir / "param.ini";
  std::string value;
  auto cached = [&](const std::string& p) {
    return (ini.ReadValueCached("S", "a", "DEF", value, p, /*no_case=*/true) ? "" : "<false> ") + value;
  };
  EXPECT_EQ(cached(path), "<false> DEF");
  test::WriteFile(path, "");
  EXPECT_EQ(cached(path), "DEF");
  test::WriteFile(path, "[S]\r\na=1\r\n");
  EXPECT_EQ(cached(path), "1");
  test::WriteFile(path, "[S]\r\na=2\r\n");
  EXPECT_EQ(cached(dir / "PARAM.INI"), "1") << "a change by someone else is not noticed";
  ASSERT_TRUE(ini.WriteValue("X", "y", "z", dir / "other.ini", true));
  EXPECT_EQ(cached(path), "2");
  test::WriteFile(path, "[S]\r\na=3\r\n");
  ASSERT_TRUE(ini.DeleteKey("X", "y", dir / "other.ini", true));
  EXPECT_EQ(cached(path), "3");
}

// Whatever file primitive fails, an edit leaves the old content or the new one, never a cut or a torn tail.
TEST(IniFileFault, EveryFailingCallLeavesTheOldOrTheNewContent) {
  const std::string big(70000, 'v');  // a value beyond one write of the rewrite
  const std::string old = "[UPDATE]\r\nLevel=3\r\nBig=" + big + "\r\n\r\n[OTHER]\r\nx=1\r\n";
  // Section, key, value (none: DeleteKey), the content after the edit.
  const std::tuple<const char*, const char*, const char*, std::string> edits[] = {
      {"UPDATE", "Level", "4", "[UPDATE]\r\nLevel=4\r\nBig=" + big + "\r\n\r\n[OTHER]\r\nx=1\r\n"},
      {"UPDATE", "New", "1", "[UPDATE]\r\nLevel=3\r\nBig=" + big + "\r\nNew=1\r\n\r\n[OTHER]\r\nx=1\r\n"},
      {"NEW", "k", "v", old + "\r\n[NEW]\r\nk=v\r\n"},
      {"UPDATE", "Level", nullptr, "[UPDATE]\r\nBig=" + big + "\r\n\r\n[OTHER]\r\nx=1\r\n"},
  };
  for (const auto& [section, key, value, result] : edits) {
    SCOPED_TRACE(std::string(section) + "/" + key + (value != nullptr ? " written" : " deleted"));
    test::ForEveryFileFault([&](const test::FaultCase&, os::fault::FaultScope&) {
      test::TempDir dir;
      const std::string path = dir / "param.ini";
      test::WriteFile(path, old);
      CIniClass ini;
      const bool ok = value != nullptr ? ini.WriteValue(section, key, value, path, true)
                                       : ini.DeleteKey(section, key, path, true);
      const std::string now = test::ReadFile(path);
      EXPECT_EQ(test::Snapshot(dir.path()).size(), 1u) << "no other file";
      if (!ok && now == old) return;
      EXPECT_TRUE(test::Holds(now, result, ok ? "new content" : "damaged"));
    });
  }
}

}  // namespace
}  // namespace veupd
