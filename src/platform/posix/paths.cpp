// POSIX paths: both separators count, '\' becomes '/', and a path that does
// not exist as written is looked up again ignoring ASCII case.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <vector>

#include "formats/ascii.h"
#include "platform/platform.h"

namespace veupd::os {

namespace {

bool EntryExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// The entry of dir whose name equals name ignoring case; the first in byte
// order of the names when several do, so that the choice is stable.
bool FindIgnoringCase(const std::string& dir, std::string_view name, std::string& found) {
  std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.empty() ? "." : dir.c_str()), ::closedir);
  if (!d) return false;
  bool any = false;
  while (const dirent* e = ::readdir(d.get())) {
    std::string_view entry(e->d_name);
    if (EqualsNoCase(entry, name) && (!any || entry < found)) {
      found.assign(entry);
      any = true;
    }
  }
  return any;
}

}  // namespace

const char kNativeSeparator = '/';

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string ToNative(std::string_view path) {
  std::string out(path);
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

std::string ResolvePath(std::string_view path) {
  std::string native = ToNative(path);
  if (native.empty() || EntryExists(native)) return native;

  // Split once; each piece ends where its component's text ends, so that
  // prefix(k) is the path up to and including component k as the walk
  // below rebuilds it (doubled separators collapsed).
  std::string out;
  std::size_t i = 0;
  if (native[0] == '/') {
    out = "/";
    i = 1;
  }
  struct Part {
    std::size_t begin;
    std::size_t end;
  };
  std::vector<Part> parts;
  for (std::size_t at = i; at < native.size();) {
    std::size_t end = native.find('/', at);
    if (end == std::string::npos) end = native.size();
    if (end > at) parts.push_back({at, end});
    at = end + 1;
  }
  const auto prefix = [&](std::size_t count) {
    std::string p = out;
    for (std::size_t k = 0; k < count; ++k) {
      if (k > 0) p += '/';
      p.append(native, parts[k].begin, parts[k].end - parts[k].begin);
    }
    return p;
  };

  // Most missing paths are a new name in an existing folder: find the
  // deepest ancestor that exists as written (every component of an existing
  // path exists too, so a walk would keep it unchanged) and search only the
  // tail, instead of listing every folder from the root.
  std::size_t known = parts.empty() ? 0 : parts.size() - 1;
  for (; known > 0; --known) {
    std::string ancestor = prefix(known);
    if (EntryExists(ancestor)) {
      out = std::move(ancestor);
      out += '/';
      break;
    }
  }

  // Walk the rest component by component; once a component is missing even
  // ignoring case, the rest is kept as written.
  bool missing = false;
  for (std::size_t k = known; k < parts.size(); ++k) {
    const std::string_view part(native.data() + parts[k].begin, parts[k].end - parts[k].begin);
    std::string candidate = out + std::string(part);
    std::string found;
    if (!missing && part != "." && part != ".." && !EntryExists(candidate)) {
      if (FindIgnoringCase(out, part, found)) {
        candidate = out + found;
      } else {
        missing = true;
      }
    }
    out = std::move(candidate);
    if (k + 1 < parts.size()) out += '/';
  }
  if (native.back() == '/' && (out.empty() || out.back() != '/')) out += '/';
  return out;
}

std::string ProgramDirectory() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return ".";
  std::string exe(buf, static_cast<std::size_t>(n));
  const std::size_t sep = exe.rfind('/');
  if (sep == std::string::npos) return ".";
  if (sep == 0) return "/";
  return exe.substr(0, sep);
}

}  // namespace veupd::os
