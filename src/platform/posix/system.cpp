// POSIX time, thread priority and the plain user interface: message boxes
// and questions go to standard error and the terminal.
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/platform.h"

namespace veupd::os {

namespace {

// The text of a message box as it appears on standard error: CR LF pairs
// become line ends and one line end closes it.
std::string BoxText(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  out += '\n';
  return out;
}

}  // namespace

LocalTime Now() {
  const std::time_t t = std::time(nullptr);
  struct tm tm {};
  ::localtime_r(&t, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

void SleepMs(std::uint32_t ms) {
  struct timespec rest {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (::nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
}

void LowerCurrentThreadPriority() {
  // On Linux the nice value is per thread when set by thread id.
  const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, tid);
  if (errno == 0) (void)::setpriority(PRIO_PROCESS, tid, nice + 1);  // best effort, as on Windows
}

std::string CommandLineText(int argc, char** argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text += ' ';
    text += argv[i];
  }
  return text;
}

void WriteStderr(std::string_view text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nowhere else to report to
    done += static_cast<std::size_t>(n);
  }
}

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void ShowMessage(std::string_view text, std::string_view /*caption*/) { WriteStderr(BoxText(text)); }

bool AskYesNo(std::string_view text, std::string_view /*caption*/) {
  WriteStderr(BoxText(text));
  if (::isatty(STDIN_FILENO) != 1 || !StderrIsTerminal()) return true;
  for (;;) {
    WriteStderr("[y/n] ");
    std::string answer;
    char c;
    ssize_t n;
    while ((n = ::read(STDIN_FILENO, &c, 1)) == 1 && c != '\n') answer += c;
    if (n <= 0 && answer.empty()) return true;  // the terminal went away
    if (answer == "y" || answer == "Y") return true;
    if (answer == "n" || answer == "N") return false;
  }
}

bool AskOkCancel(std::string_view text, std::string_view caption) { return AskYesNo(text, caption); }

void EndProcessNow(int exit_code) { ::_exit(exit_code); }

void DebugOutput(std::string_view text) {
  std::string line(text);
  if (line.empty() || line.back() != '\n') line += '\n';
  WriteStderr(line);
}

std::uint16_t SystemLanguage() { return 0; }

}  // namespace veupd::os
