// Program and function call (opcode 5) with the helper program and library
// built beside the tests (record_args.exe, test_dll.dll).
#include "commands/call_program.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "commands/fake_host.h"
#include "test_support.h"

namespace veupd {
namespace {

namespace fs = std::filesystem;
using test::FakeHost;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const fs::path kOut = VEUPD_OUT_DIR;

std::string N(const fs::path& p) { return p.string(); }

// The lines record_args wrote: "cwd=..." first, then "arg=..." per argument.
std::vector<std::string> Recorded(const fs::path& folder) {
  std::vector<std::string> lines;
  std::string text = ReadFile(folder / "record_args.txt");
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t end = text.find('\n', pos);
    lines.push_back(text.substr(pos, end - pos));
    pos = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

class ProgramCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work = dir.path() / "tool dir";
    fs::create_directories(work);
    program = work / "record_args.exe";
    fs::copy_file(kOut / "record_args.exe", program);
    library = work / "test_dll.dll";
    fs::copy_file(kOut / "test_dll.dll", library);
  }
  ErrorCode Run(std::initializer_list<std::string> params) {
    host.SetParams(params);
    return RunProgramCall(host);
  }
  TempDir dir;
  fs::path work, program, library;
  FakeHost host;
};

TEST_F(ProgramCallTest, WaitedProgramGetsArgumentsAndFolder) {
  struct Case {
    const char* name;
    std::string args;
    std::vector<std::string> seen;
  } cases[] = {{"one word", "x", {"arg=x"}},
               {"blank makes one argument", "a b", {"arg=a b"}},
               {"quoted text passed as written", "\"p q\" r", {"arg=p q", "arg=r"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host = FakeHost();
    fs::remove(work / "record_args.txt");
    EXPECT_TRUE(Run({N(program), c.args, "wait"}).ok());
    const auto lines = Recorded(work);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(fs::equivalent(lines[0].substr(4), work));
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), c.seen);
    ASSERT_EQ(host.steps.size(), 1u);
    EXPECT_TRUE(host.steps[0].success);
    EXPECT_EQ(host.steps[0].text, "Programm/function call (" + N(program) + ")");
  }
}

TEST_F(ProgramCallTest, ExtensionComparesIgnoringCase) {
  const fs::path upper = work / "RECORD.EXE";
  fs::copy_file(program, upper);
  EXPECT_TRUE(Run({N(upper), "y", "1"}).ok());
  EXPECT_EQ(Recorded(work).at(1), "arg=y");
}

TEST_F(ProgramCallTest, WaitedProgramBringsTheDialogBackOnlyAfterTheWait) {
  EXPECT_TRUE(Run({N(program), "x"}).ok());
  EXPECT_EQ(host.foreground_calls, 0);
  EXPECT_EQ(Run({N(program), "exit=4", "1"}).raw(), 23u);
  EXPECT_EQ(host.foreground_calls, 1);
}

// The same calls many times: a call that leaves the stack four bytes off
// (a Windows-API style function called the C way on 32-bit Windows) ends
// in a crash or wrong results long before the last round.
TEST_F(ProgramCallTest, DllFunctionsOfBothCallingConventions) {
  constexpr int kRounds = 10;
  struct Case {
    const char* function;
    std::uint32_t code;
  } cases[] = {{"ReturnZero", 0}, {"StdcallZero", 0}, {"ReturnFive", 26 + (5u << 16)}, {"StdcallSeven", 26 + (7u << 16)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.function);
    for (int round = 0; round < kRounds; ++round) {
      host = FakeHost();
      const std::uint32_t got = Run({N(library), "text", c.function}).raw();
      if (got != c.code) {
        ADD_FAILURE() << "round " << round << ": code " << got;
        break;
      }
    }
  }
}

#ifdef _WIN32
// Under Windows (and Wine): the started program gets show command 5, and
// while the command waits for it the thread keeps handling its window
// messages: a message sent to one of its windows is answered before the
// program ends.
TEST_F(ProgramCallTest, StartedProgramIsShownAndTheWaitHandlesMessages) {
  constexpr UINT kPing = WM_APP + 7;
  constexpr UINT kAnswerWithinMs = 5000;
  HWND window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  bool answered = false;
  std::thread sender([&] {
    DWORD_PTR result = 0;
    // The program is running and being waited for once it wrote its record.
    for (int i = 0; i < 500 && !fs::exists(work / "show_command.txt"); ++i) Sleep(10);
    answered = SendMessageTimeoutA(window, kPing, 0, 0, SMTO_NORMAL, kAnswerWithinMs, &result) != 0;
    test::WriteFile(work / "stop", "");
  });
  const ErrorCode rc = Run({N(program), "wait", "1"});
  sender.join();
  DestroyWindow(window);
  EXPECT_TRUE(rc.ok());
  EXPECT_TRUE(answered) << "the wait did not handle the thread's messages";
  EXPECT_EQ(ReadFile(work / "show_command.txt"), "5");
}
#endif

// ---- failures: one error entry, one failed step line

TEST_F(ProgramCallTest, RefusedCalls) {
  WriteFile(work / "not_a_library.dll", "just text");
  struct Case {
    const char* name;
    std::string p1, p2, p3;
    std::uint16_t code;
    std::vector<std::string> params;
    std::string step;
  } cases[] = {
      {"no target", "", "x", "", 4, {"PARAM1", "", "", ""}, "Programm/function call"},
      {"no arguments", N(program), "", "", 4, {"PARAM2", "", "", ""}, ""},
      {"no dot", N(work / "tool"), "x", "", 8, {N(work / "tool"), "", "", ""}, ""},
      {"program without folder", "record_args.exe", "x", "", 8, {"record_args.exe", "", "", ""}, ""},
      {"other extension", N(work / "run.bat"), "x", "", 22, {N(work / "run.bat"), "", "", ""}, ""},
      {"program missing", N(work / "none.exe"), "a b", "1", 23, {N(work / "none.exe"), " \"a b\"", "", ""}, ""},
      {"dll without function", N(library), "x", "", 4, {"PARAM3", "", "", ""}, ""},
      {"dll missing", N(work / "none.dll"), "x", "F", 24, {N(work / "none.dll"), "", "", ""}, ""},
      {"not a library", N(work / "not_a_library.dll"), "x", "F", 24,
       {N(work / "not_a_library.dll"), "", "", ""}, ""},
      {"export missing", N(library), "x", "NoSuchFunction", 25, {N(library), "NoSuchFunction", "", ""}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host = FakeHost();
    EXPECT_EQ(Run({c.p1, c.p2, c.p3}).raw(), c.code);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(test::Params(host.errors[0]), c.params);
    ASSERT_EQ(host.steps.size(), 1u);
    EXPECT_FALSE(host.steps[0].success);
    EXPECT_EQ(host.steps[0].code, c.code);
    EXPECT_EQ(host.steps[0].text,
              c.step.empty() ? "Programm/function call (" + c.p1 + ")" : c.step);
  }
}

}  // namespace
}  // namespace veupd
