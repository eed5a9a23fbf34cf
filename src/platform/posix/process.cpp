// POSIX processes and modules: a command line split by the Windows rules,
// started without a shell in a new process group; modules through dlopen.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/posix_internal.h"

extern char** environ;

namespace veupd::os {

using posix::FromErrno;
using posix::LastError;

namespace {

constexpr std::uint32_t kPollMs = 100;
constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;
constexpr std::uint32_t kSignalExitBase = 128;

#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
#define VEUPD_SPAWN_HAS_CHDIR_AND_CLOSEFROM 1
#endif

std::string CurrentDirectory() {
  std::string buf(4096, '\0');
  if (::getcwd(buf.data(), buf.size()) == nullptr) return ".";
  buf.resize(std::char_traits<char>::length(buf.c_str()));
  return buf;
}

#ifndef VEUPD_SPAWN_HAS_CHDIR_AND_CLOSEFROM
// fork/exec for C libraries whose posix_spawn cannot change directory; a
// close-on-exec pipe carries an exec failure back to the parent.
int ForkExec(const std::string& program, bool search, char* const argv[], const std::string& work_dir,
             pid_t& pid) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return errno;
  pid = ::fork();
  if (pid < 0) {
    const int err = errno;
    ::close(fds[0]);
    ::close(fds[1]);
    return err;
  }
  if (pid == 0) {
    ::setpgid(0, 0);
    const int null_fd = ::open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd) ::dup2(null_fd, fd);
    const int max_fd = static_cast<int>(::sysconf(_SC_OPEN_MAX));
    for (int fd = 3; fd < max_fd; ++fd) {
      if (fd != fds[1]) ::close(fd);
    }
    int err = 0;
    if (!work_dir.empty() && ::chdir(work_dir.c_str()) != 0) err = errno;
    if (err == 0) {
      if (search) ::execvp(program.c_str(), argv); else ::execv(program.c_str(), argv);
      err = errno;
    }
    (void)!::write(fds[1], &err, sizeof(err));
    ::_exit(127);
  }
  ::close(fds[1]);
  int err = 0;
  const ssize_t n = ::read(fds[0], &err, sizeof(err));
  ::close(fds[0]);
  if (n == sizeof(err)) {
    ::waitpid(pid, nullptr, 0);
    return err;
  }
  return 0;
}
#endif

}  // namespace

// ---------------------------------------------------------------- processes

struct Process::Impl {
  pid_t pid = -1;
  bool ended = false;
  std::uint32_t exit_code = 0;
};

Process::Process() = default;
Process::~Process() = default;
Process::Process(Process&&) noexcept = default;
Process& Process::operator=(Process&&) noexcept = default;

OsResult Process::Start(const std::string& command_line, const std::string& work_dir, ShowCommand /*show*/) {
  return Start(command_line, work_dir);  // no windows to show
}

OsResult Process::Start(const std::string& command_line, const std::string& work_dir) {
  impl_.reset();
  std::vector<std::string> args = SplitCommandLine(command_line);
  if (args.empty() || args[0].empty()) return FromErrno(ENOENT);

  // A program named with a directory part is found from our own working
  // folder, as on Windows, not from the child's.
  std::string program = args[0];
  bool search = !HasSeparator(program);
  if (search) {
    // As CreateProcess: the program's own folder, then the working
    // folder, then PATH.
    if (std::string beside = ResolvePath(JoinPath(ProgramDirectory(), program)); Exists(beside) && !IsDirectory(beside)) {
      program = beside;
      search = false;
    } else if (Exists(program) && !IsDirectory(program)) {
      program = ResolvePath(program);
      search = false;
    }
  } else {
    program = ResolvePath(program);
  }
  if (!search && program[0] != '/') program = CurrentDirectory() + "/" + program;
  std::string dir;
  if (!work_dir.empty()) {
    dir = ResolvePath(work_dir);
    if (!IsDirectory(dir)) return FromErrno(ENOENT);
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = -1;
#ifdef VEUPD_SPAWN_HAS_CHDIR_AND_CLOSEFROM
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawnattr_init(&attr);
  // Standard streams come from /dev/null: nothing the child writes may
  // mix with the updater's own output.
  ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  ::posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  if (!dir.empty()) ::posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  ::posix_spawnattr_setpgroup(&attr, 0);
  const int err = search ? ::posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), environ)
                         : ::posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::posix_spawnattr_destroy(&attr);
#else
  const int err = ForkExec(program, search, argv.data(), dir, pid);
#endif
  if (err != 0) return FromErrno(err);
  impl_ = std::make_unique<Impl>();
  impl_->pid = pid;
  return OsResult::Ok();
}

bool Process::Wait(std::uint32_t timeout_ms) { return WaitHandlingMessages(timeout_ms) == WaitResult::kEnded; }

std::uint32_t Process::ExitCode() const { return impl_ ? impl_->exit_code : 0; }

Process::WaitResult Process::WaitHandlingMessages(std::uint32_t timeout_ms) {
  // No message queue here; only a failed wait must be told from a timeout.
  if (!impl_) return WaitResult::kFailed;
  if (impl_->ended) return WaitResult::kEnded;
  std::uint32_t waited = 0;
  for (;;) {
    int status = 0;
    const pid_t r = ::waitpid(impl_->pid, &status, WNOHANG);
    if (r == impl_->pid) {
      impl_->ended = true;
      impl_->exit_code = WIFEXITED(status) ? static_cast<std::uint32_t>(WEXITSTATUS(status))
                                           : kSignalExitBase + static_cast<std::uint32_t>(WTERMSIG(status));
      return WaitResult::kEnded;
    }
    if (r < 0 && errno != EINTR) return WaitResult::kFailed;
    if (timeout_ms != kWaitForever && waited >= timeout_ms) return WaitResult::kTimeout;
    const std::uint32_t step = timeout_ms == kWaitForever ? kPollMs : std::min(kPollMs, timeout_ms - waited);
    SleepMs(step);
    waited += step;
  }
}

// ---------------------------------------------------------------- modules

OsResult Module::Load(const std::string& path) {
  Unload();
  // A bare name is looked for beside the program first, then in the
  // working folder, as LoadLibrary does; never in the system paths.
  std::string native;
  if (HasSeparator(path)) {
    native = ResolvePath(path);
  } else {
    native = ResolvePath(JoinPath(ProgramDirectory(), path));
    if (!Exists(native)) native = "./" + ResolvePath(path);
  }
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) return LastError();
  handle_ = ::dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) return FromErrno(ENOEXEC);
  return OsResult::Ok();
}

bool Module::IsLoaded() const { return handle_ != nullptr; }

void* Module::Symbol(const char* name) const { return handle_ ? ::dlsym(handle_, name) : nullptr; }

int Module::CallTextFunction(void* function, const char* text) {
  using Fn = int (*)(const char*);
  Fn fn = nullptr;
  static_assert(sizeof(fn) == sizeof(function));
  std::memcpy(&fn, &function, sizeof(fn));
  return fn(text);
}

void Module::Unload() {
  if (handle_ != nullptr) {
    ::dlclose(handle_);
    handle_ = nullptr;
  }
}

}  // namespace veupd::os
