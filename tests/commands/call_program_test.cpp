// Program and function call (opcode 5) with the helper program and library
// built beside the tests (record_args.exe, test_dll.dll).
#include "commands/call_program.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

#include "commands/fake_host.h"
#include "test_support.h"

namespace veupd {
namespace {

namespace fs = std::filesystem;
using test::FakeHost;
using test::Strings;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const fs::path kOut = VEUPD_OUT_DIR;

std::string N(const fs::path& p) { return p.string(); }

class ProgramCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(work);
    fs::copy_file(kOut / "record_args.exe", program);
    fs::copy_file(kOut / "test_dll.dll", library);
  }
  TempDir dir;
  fs::path work = dir.path() / "tool dir", program = work / "record_args.exe", library = work / "test_dll.dll";
  FakeHost host;
};

TEST_F(ProgramCallTest, WaitedProgramGetsArgumentsAndFolder) {
  fs::copy_file(program, work / "RECORD.EXE");
  struct Case {
    std::string exe, args, seen;  // record_args writes "cwd=..." and then "arg=..." lines
  } cases[] = {{"record_args.exe", "x", "arg=x\n"},
               {"record_args.exe", "a b", "arg=a b\n"},  // a blank makes one argument
               {"record_args.exe", "\"p q\" r", "arg=p q\narg=r\n"},  // quotes passed as written
               {"RECORD.EXE", "y", "arg=y\n"}};  // the extension compares ignoring case
  for (const Case& c : cases) {
    SCOPED_TRACE(c.exe + " " + c.args);
    host = FakeHost();
    fs::remove(work / "record_args.txt");
    EXPECT_TRUE(host.Run(RunProgramCall, {N(work / c.exe), c.args, "wait"}).ok());
    const std::string text = ReadFile(work / "record_args.txt");
    const std::size_t eol = text.find('\n');
    ASSERT_NE(eol, std::string::npos);
    EXPECT_TRUE(fs::equivalent(text.substr(4, eol - 4), work));
    EXPECT_EQ(text.substr(eol + 1), c.seen);
    test::ExpectOutcome(host, 0, {}, "Programm/function call (" + N(work / c.exe) + ")");
  }
}

TEST_F(ProgramCallTest, WaitedProgramBringsTheDialogBackOnlyAfterTheWait) {
  EXPECT_TRUE(host.Run(RunProgramCall, {N(program), "x"}).ok());
  EXPECT_EQ(host.foreground_calls, 0);
  EXPECT_EQ(host.Run(RunProgramCall, {N(program), "exit=4", "1"}).raw(), 23u);
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
      const std::uint32_t got = host.Run(RunProgramCall, {N(library), "text", c.function}).raw();
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
  const ErrorCode rc = host.Run(RunProgramCall, {N(program), "wait", "1"});
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
  const std::string none = N(work / "none.exe"), bad = N(work / "not_a_library.dll");
  struct Case {
    std::string p1, p2, p3;
    std::uint16_t code;
    Strings params;
  } cases[] = {
      {"", "x", "", 4, {"PARAM1"}},
      {N(program), "", "", 4, {"PARAM2"}},
      {N(work / "tool"), "x", "", 8, {N(work / "tool")}},  // no dot
      {"record_args.exe", "x", "", 8, {"record_args.exe"}},  // no folder
      {N(work / "run.bat"), "x", "", 22, {N(work / "run.bat")}},
      {none, "a b", "1", 23, {none, " \"a b\""}},
      {N(library), "x", "", 4, {"PARAM3"}},  // no function
      {N(work / "none.dll"), "x", "F", 24, {N(work / "none.dll")}},
      {bad, "x", "F", 24, {bad}},
      {N(library), "x", "NoSuchFunction", 25, {N(library), "NoSuchFunction"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.p1 + " " + c.p3);
    host = FakeHost();
    EXPECT_EQ(host.Run(RunProgramCall, {c.p1, c.p2, c.p3}).raw(), c.code);
    test::ExpectOutcome(host, c.code, c.params,
                        c.p1.empty() ? "Programm/function call" : "Programm/function call (" + c.p1 + ")");
  }
}

}  // namespace
}  // namespace veupd
