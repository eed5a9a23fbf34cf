// POSIX paths: both separators count, '\' becomes '/', and a path that does
// not exist as written is looked up again ignoring ASCII case.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <vector>

#include "base/ascii.h"
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

namespace {

// The path's components, doubled separators collapsed.
std::vector<std::string_view> Components(std::string_view path) {
  std::vector<std::string_view> parts;
  for (std::size_t at = 0; at < path.size();) {
    const std::size_t end = std::min(path.find('/', at), path.size());
    if (end > at) parts.push_back(path.substr(at, end - at));
    at = end + 1;
  }
  return parts;
}

// Most missing paths are a new name in an existing folder: the search starts
// at the deepest ancestor that exists as written (every component of an
// existing path exists too, so a walk would keep it unchanged) instead of
// listing every folder from the root. Returns how many components it holds;
// out becomes it with a trailing separator.
std::size_t DeepestExistingAncestor(const std::vector<std::string_view>& parts, std::string& out) {
  const std::string root = out;
  for (std::size_t known = parts.empty() ? 0 : parts.size() - 1; known > 0; --known) {
    std::string ancestor = root;
    for (std::size_t k = 0; k < known; ++k) (ancestor += k > 0 ? "/" : "") += parts[k];
    if (EntryExists(ancestor)) {
      out = std::move(ancestor) + '/';
      return known;
    }
  }
  return 0;
}

}  // namespace

std::string ResolvePath(std::string_view path) {
  std::string native = ToNative(path);
  if (native.empty() || EntryExists(native)) return native;
  const std::vector<std::string_view> parts = Components(native);
  std::string out = native[0] == '/' ? "/" : "";
  const std::size_t known = DeepestExistingAncestor(parts, out);

  // Walk the rest component by component; once a component is missing even
  // ignoring case, the rest is kept as written.
  bool missing = false;
  for (std::size_t k = known; k < parts.size(); ++k) {
    const std::string_view part = parts[k];
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
