// The one interface between the updater and the operating system: files,
// directories, processes, modules, time and the simple user interface.
// posix/ and win32/ implement it; the build picks one. Every function may be
// called from any thread; each object is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace veupd::os {

// ---------------------------------------------------------------- results

enum class OsErr : std::uint8_t {
  kOk = 0,
  kNotFound,      // file or directory missing
  kAccessDenied,  // permissions, read-only, is a directory
  kExists,        // target name taken
  kSharing,       // lock or share-mode conflict
  kOther,
};

// Kind of failure plus the native code (errno / GetLastError) for the log.
struct OsResult {
  OsErr kind = OsErr::kOk;
  int native = 0;

  [[nodiscard]] bool ok() const { return kind == OsErr::kOk; }
  static OsResult Ok() { return {}; }
  static OsResult Fail(OsErr kind, int native = 0) { return {kind, native}; }
  // Short readable text, e.g. "not found (2)".
  [[nodiscard]] std::string Text() const;
};

// ---------------------------------------------------------------- paths

// '\' always counts; on POSIX '/' too.
[[nodiscard]] bool IsSeparator(char c);
// Position of the last / first separator, or npos.
[[nodiscard]] std::size_t FindLastSeparator(std::string_view path);
[[nodiscard]] std::size_t FindFirstSeparator(std::string_view path);
[[nodiscard]] bool HasSeparator(std::string_view path);
// Separator written when the program joins a directory and a name.
extern const char kNativeSeparator;
// dir + separator + name; no separator added when dir is empty or already
// ends in one.
[[nodiscard]] std::string JoinPath(std::string_view dir, std::string_view name);
// dir, the native separator, name, whatever dir ends with: directories from
// a control line are used exactly as given (the log then shows native paths).
[[nodiscard]] std::string JoinAsGiven(std::string_view dir, std::string_view name);
// The path as the OS takes it: on POSIX every '\' becomes '/'.
[[nodiscard]] std::string ToNative(std::string_view path);
// On POSIX: the native path, and when it does not exist as written, the
// existing entry found component by component ignoring ASCII case (first match
// in name order); a missing tail is kept as written. On Windows: ToNative.
[[nodiscard]] std::string ResolvePath(std::string_view path);
// Directory of the running executable, without a trailing separator.
[[nodiscard]] std::string ProgramDirectory();
// Case-insensitive '*' / '?' match of one name, as the directory search does
// ("*.*" also matches names without a dot, and "name.*" matches "name").
[[nodiscard]] bool WildcardMatch(std::string_view pattern, std::string_view name);

// ---------------------------------------------------------------- files

// Open modes the updater uses. Write access always keeps other writers out.
enum class OpenMode : std::uint8_t {
  kRead,             // read, others may do anything
  kReadDenyWrite,    // read, others may read only
  kReadWriteCreate,  // read-write, created when missing, never truncated, exclusive
  kReadWriteShareRead,  // as kReadWriteCreate but others may read (log files)
  kReadWriteExisting,   // read-write, must exist, exclusive
  kCreateTruncate,   // write (and read), created or truncated, exclusive
  kCreateNew,        // write (and read), fails when the name exists, exclusive
};

enum class SeekFrom : std::uint8_t { kBegin, kCurrent, kEnd };

// Move-only owner of an open file. The destructor closes and ignores errors;
// a writer calls Close() to learn whether everything reached the file.
class File {
 public:
  File();
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  [[nodiscard]] OsResult Open(const std::string& path, OpenMode mode);
  [[nodiscard]] bool IsOpen() const;
  // Reads up to size bytes; got < size only at the end of the file.
  [[nodiscard]] OsResult Read(void* data, std::size_t size, std::size_t& got);
  // Writes all bytes or fails.
  [[nodiscard]] OsResult Write(const void* data, std::size_t size);
  [[nodiscard]] OsResult Seek(std::int64_t offset, SeekFrom from, std::uint64_t* new_pos = nullptr);
  [[nodiscard]] OsResult Tell(std::uint64_t& pos);
  [[nodiscard]] OsResult Length(std::uint64_t& length);
  [[nodiscard]] OsResult SetLength(std::uint64_t length);
  // Pushes the written data to the disk (fsync / FlushFileBuffers).
  [[nodiscard]] OsResult Flush();
  // Starts writing a written range to the disk and returns without waiting
  // for it: a hint, so that a later flush or replace finds less to write.
  // Safe beside Write on another thread; does nothing where the system has
  // no such call (Windows' cache writes behind by itself).
  void StartWriteBack(std::uint64_t offset, std::uint64_t length);
  [[nodiscard]] OsResult Close();

  struct Impl;

 private:
  friend class MappedView;
  std::unique_ptr<Impl> impl_;
};

// A read-only view of the start of an open file, where the system maps files
// (POSIX); elsewhere Map fails and the caller reads instead. A page lost under
// the view (another program cuts the file short, a disk fails) would end the
// process on POSIX; here it reads as zeros and Damaged() turns true, so a
// caller checks Damaged() after its last read of the view.
class MappedView {
 public:
  MappedView() = default;
  ~MappedView();
  MappedView(const MappedView&) = delete;
  MappedView& operator=(const MappedView&) = delete;

  [[nodiscard]] OsResult Map(const File& file, std::uint64_t length);
  [[nodiscard]] const std::uint8_t* Data() const { return static_cast<const std::uint8_t*>(base_); }
  [[nodiscard]] std::size_t Size() const { return size_; }
  [[nodiscard]] bool Damaged() const;
  void Unmap();

 private:
  void* base_ = nullptr;
  std::size_t size_ = 0;
  int slot_ = -1;  // the lost-page guard's record of this view
};

// Reads a file in text mode: a CR LF pair reads as one '\n'. ReadLine behaves
// like fgets with a buffer of max_chars + 1: it stops after '\n' or after
// max_chars characters (counted after the translation), whichever is first.
class TextReader {
 public:
  [[nodiscard]] OsResult Open(const std::string& path, OpenMode mode = OpenMode::kRead);
  // False at the end of the file (nothing read) or on a read error.
  [[nodiscard]] bool ReadLine(std::string& line, std::size_t max_chars);
  // Byte position in the file of the next unread character.
  [[nodiscard]] std::uint64_t Position() const { return file_pos_ - (end_ - pos_); }
  [[nodiscard]] OsResult SeekTo(std::uint64_t pos);
  [[nodiscard]] OsResult Length(std::uint64_t& length) { return file_.Length(length); }
  void Close();

 private:
  [[nodiscard]] bool Fill();
  File file_;
  std::vector<char> buf_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  std::uint64_t file_pos_ = 0;  // file offset just past buf_[end_-1]
  bool eof_ = false;
};

// ---------------------------------------------------------------- directories

struct DirEntry {
  std::string name;
  bool is_dir = false;
  bool read_only = false;
  std::uint64_t size = 0;
};

// Lists the entries of the last path element's pattern ('*', '?'), ordered by
// name ignoring case. A pattern that ends in a separator finds nothing.
class DirSearch {
 public:
  DirSearch();
  ~DirSearch();
  DirSearch(DirSearch&&) noexcept;
  DirSearch& operator=(DirSearch&&) noexcept;
  DirSearch(const DirSearch&) = delete;
  DirSearch& operator=(const DirSearch&) = delete;

  // kNotFound when nothing matches or the directory is missing.
  [[nodiscard]] OsResult Start(const std::string& pattern);
  // False when no entry is left.
  [[nodiscard]] bool Next(DirEntry& entry);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// The entries of one folder, listed once for many lookups of names in it
// ignoring case, so that work on many files of a folder searches the folder
// once. Changes made through Add and Remove keep it current; changes made
// by others after the listing are not seen.
class FolderNames {
 public:
  // Lists the folder; a missing folder lists as empty.
  void Load(const std::string& dir);
  // The entry whose name equals name ignoring ASCII case (the first in name
  // order when several do), or null.
  [[nodiscard]] const DirEntry* Find(std::string_view name) const;
  void Add(DirEntry entry);
  // Forgets the entry that Find(name) gives.
  void Remove(std::string_view name);

 private:
  std::vector<DirEntry> entries_;  // in search order
};

[[nodiscard]] bool Exists(const std::string& path);
[[nodiscard]] bool IsDirectory(const std::string& path);
[[nodiscard]] OsResult GetInfo(const std::string& path, DirEntry& info);
// Copies content, permission bits and modification time. With overwrite
// false an existing target fails with kExists.
[[nodiscard]] OsResult CopyFileOver(const std::string& from, const std::string& to, bool overwrite);
// For a target name its caller has just found missing in a listing of its
// folder (FolderNames): copy or rename to that name as written, without
// searching the folder for it again in another case. Fail with kExists when
// the name exists as written.
[[nodiscard]] OsResult CopyFileToNewName(const std::string& from, const std::string& to);
[[nodiscard]] OsResult MoveToNewName(const std::string& from, const std::string& to);
// Renames; fails with kExists when the target exists (also differing only in
// case on POSIX, unless it is the same entry).
[[nodiscard]] OsResult MoveNoReplace(const std::string& from, const std::string& to);
// Renames over an existing target in one step (used where a replace is meant).
[[nodiscard]] OsResult MoveReplace(const std::string& from, const std::string& to);
// True when a failed MoveReplace was refused by the existing target itself
// (read-only, held open): the failure a delete of the target would have had.
[[nodiscard]] bool TargetRefusedReplace(const OsResult& moved, const std::string& target);
// Fails with kAccessDenied on a read-only file, whoever runs the program.
[[nodiscard]] OsResult RemoveFile(const std::string& path);
[[nodiscard]] OsResult MakeDirectory(const std::string& path);
[[nodiscard]] OsResult RemoveFolder(const std::string& path);
[[nodiscard]] OsResult GetReadOnly(const std::string& path, bool& read_only);
[[nodiscard]] OsResult SetReadOnly(const std::string& path, bool read_only);

// ---------------------------------------------------------------- processes

// Splits a command line by the Windows rules (blanks separate, double quotes
// group, backslashes before a quote escape it).
[[nodiscard]] std::vector<std::string> SplitCommandLine(std::string_view command_line);

// How a started program shows its first window: the Windows show command
// (SW_SHOWNORMAL, SW_SHOW); POSIX has no windows and ignores it.
enum class ShowCommand : std::uint8_t { kSystemDefault = 0, kShowNormal = 1, kShow = 5 };

// A started program, in a new process group, inheriting no descriptors.
class Process {
 public:
  Process();
  ~Process();  // does not kill or wait
  Process(Process&&) noexcept;
  Process& operator=(Process&&) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // work_dir empty: the updater's own working folder.
  [[nodiscard]] OsResult Start(const std::string& command_line, const std::string& work_dir);
  // Waits up to timeout_ms; true when the process has ended.
  [[nodiscard]] bool Wait(std::uint32_t timeout_ms);
  // Valid once Wait returned true; an end by signal counts as non-zero.
  [[nodiscard]] std::uint32_t ExitCode() const;

  // As Start, with the show command handed to the program.
  [[nodiscard]] OsResult Start(const std::string& command_line, const std::string& work_dir, ShowCommand show);
  enum class WaitResult : std::uint8_t { kEnded, kTimeout, kFailed };
  // Waits up to timeout_ms for the end while the calling thread's window
  // messages are handled (Windows). kFailed: the process cannot be waited
  // for (never started, or the wait itself failed).
  [[nodiscard]] WaitResult WaitHandlingMessages(std::uint32_t timeout_ms);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// ---------------------------------------------------------------- modules

// A loaded shared library (dlopen / LoadLibraryA); unloaded by the destructor.
class Module {
 public:
  Module();
  ~Module();
  Module(Module&&) noexcept;
  Module& operator=(Module&&) noexcept;
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  [[nodiscard]] OsResult Load(const std::string& path);
  [[nodiscard]] bool IsLoaded() const;
  // Null when the export is missing.
  [[nodiscard]] void* Symbol(const char* name) const;
  void Unload();

  // Calls an export of the form int fn(const char*). On 32-bit Windows it may
  // be __cdecl or __stdcall (a Windows-API style function removes its own
  // argument): the caller's stack is restored either way.
  [[nodiscard]] static int CallTextFunction(void* function, const char* text);

 private:
  void* handle_ = nullptr;
};

// ---------------------------------------------------------------- time, threads

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
[[nodiscard]] LocalTime Now();
void SleepMs(std::uint32_t ms);
// One step below normal priority for the calling thread.
void LowerCurrentThreadPriority();

// ---------------------------------------------------------------- user interface

// The program's raw command line text after the program name (Windows), or
// the arguments joined with single blanks (POSIX).
[[nodiscard]] std::string CommandLineText(int argc, char** argv);
// A message box (Windows) / the text on standard error (POSIX). CR LF in the
// text become line ends on POSIX.
void ShowMessage(std::string_view text, std::string_view caption);
// Yes/No question with the question icon. On POSIX asks on the terminal when
// stdin and stderr are terminals, otherwise writes the text and answers Yes.
[[nodiscard]] bool AskYesNo(std::string_view text, std::string_view caption);
// OK/Cancel question with the stop icon; true unless Cancel is chosen. On
// POSIX it behaves as AskYesNo (Yes counts as OK).
[[nodiscard]] bool AskOkCancel(std::string_view text, std::string_view caption);
// Ends the process at once, without running any more of the program (other
// threads included); for an end that must not touch the level's files.
[[noreturn]] void EndProcessNow(int exit_code);
// Debugger output (Windows) / standard error (POSIX).
void DebugOutput(std::string_view text);
// The system's default UI language id (Windows LANGID); 0 on POSIX.
[[nodiscard]] std::uint16_t SystemLanguage();
[[nodiscard]] bool StderrIsTerminal();
void WriteStderr(std::string_view text);

}  // namespace veupd::os
