// Program and function call (opcode 5). A program that cannot start and one
// that exits non-zero both give error 23; the third log parameter (the exit
// code) tells them apart.
#include "commands/call_program.h"

#include <cstdint>

#include "commands/command_util.h"
#include "base/ascii.h"
#include "platform/platform.h"

namespace veupd {
namespace {

constexpr std::uint32_t kWaitSliceMs = 100;
constexpr std::uint32_t kResultMask = 0xFFFFu;  // only the low 16 bits of a DLL result count
constexpr std::string_view kStep = "Programm/function call (%s)";

ErrorCode RunProgram(CommandHost& host, const std::string& program, const std::string& args,
                     bool wait) {
  const std::size_t sep = cmd::LastSeparator(program);
  if (sep == std::string::npos) return host.Fail(Err::kInvalidPath, program);
  std::string work_dir = program.substr(0, sep);
  if (work_dir.find('"') != std::string::npos) work_dir.push_back('"');
  const std::string command_line = ProgramCommandLine(args);

  // The platform takes the program as the command line's first element.
  os::Process process;
  if (!process.Start("\"" + program + "\"" + command_line, work_dir, os::ShowCommand::kShow).ok()) {
    return host.Fail(Err::kCreateProcessFailed, program, command_line);
  }
  if (!wait) return ErrorCode::Ok();  // runs on independently

  // The thread's own messages are handled between the slices. A wait that
  // fails leaves the exit code unread, which does not fail the command.
  os::Process::WaitResult waited = os::Process::WaitResult::kTimeout;
  while (waited == os::Process::WaitResult::kTimeout) waited = process.WaitHandlingMessages(kWaitSliceMs);
  ErrorCode rc;
  if (waited == os::Process::WaitResult::kEnded) {
    if (const auto exit_code = static_cast<std::int32_t>(process.ExitCode()); exit_code != 0) {
      rc = ErrorCode(Err::kCreateProcessFailed);
      host.ReportError(rc, program, command_line, std::to_string(exit_code));
    }
  }
  host.BringDialogToForeground();
  return rc;
}

ErrorCode CallFunction(CommandHost& host, const std::string& dll, const std::string& args,
                       const std::string& function) {
  os::Module module;
  // Every load failure counts as "module not found" (the POSIX loader cannot
  // tell them apart; on Windows the same keeps one meaning for both).
  if (!module.Load(dll).ok()) return host.Fail(Err::kCannotLoadDll, dll);
  void* address = module.Symbol(function.c_str());
  if (address == nullptr) {
    module.Unload();
    return host.Fail(Err::kFunctionNotFound, dll, function);
  }
  const auto result = static_cast<std::uint16_t>(
      static_cast<std::uint32_t>(os::Module::CallTextFunction(address, args.c_str())) & kResultMask);
  module.Unload();
  if (result != 0) {
    return host.Fail(ErrorCode(Err::kFunctionFailed, result), dll, function, args, std::to_string(result));
  }
  return ErrorCode::Ok();
}

}  // namespace

std::string ProgramCommandLine(std::string_view args) {
  std::string line = " ";
  if (args.find(' ') != std::string_view::npos && args.front() != '"') {
    line.push_back('"');
    line.append(args);
    line.push_back('"');
  } else {
    line.append(args);
  }
  return line;
}

ErrorCode RunProgramCall(CommandHost& host) {
  const CommandContext& ctx = host.Context();
  const std::string& target = ctx.Param(Slot::kParam1);
  const std::string& args = ctx.Param(Slot::kParam2);
  const std::string& extra = ctx.Param(Slot::kParam3);
  const std::string step = FormatText(kStep, {target});

  if (ErrorCode rc = cmd::RequireParams(host, {Slot::kParam1}); !rc.ok()) {
    return cmd::FailStep(host, "Programm/function call", rc);
  }
  if (ErrorCode rc = cmd::RequireParams(host, {Slot::kParam2}); !rc.ok()) {
    return cmd::FailStep(host, step, rc);
  }
  host.RefreshProgress();

  const std::size_t dot = target.rfind('.');
  if (dot == std::string::npos) return cmd::FailStep(host, step, host.Fail(Err::kInvalidPath, target));
  const std::string_view extension = std::string_view(target).substr(dot + 1);

  ErrorCode rc;
  if (EqualsNoCase(extension, "exe")) {
    rc = RunProgram(host, target, args, /*wait=*/!extra.empty());
  } else if (EqualsNoCase(extension, "dll")) {
    if (rc = cmd::RequireParams(host, {Slot::kParam3}); !rc.ok()) return cmd::FailStep(host, step, rc);
    rc = CallFunction(host, target, args, extra);
  } else {
    rc = ErrorCode(Err::kInvalidExtension);
    host.ReportError(rc, target);
  }
  return cmd::FinishStep(host, step, rc);
}

}  // namespace veupd
