// POSIX paths: both separators count, '\' becomes '/', and a path that does
// not exist as written is looked up again ignoring ASCII case.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <vector>

#include "platform/platform.h"

namespace veupd::os {

namespace {

bool EntryExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The entry of dir whose name equals name ignoring case; the first in byte
// order of the names when several do, so that the choice is stable.
bool FindIgnoringCase(const std::string& dir, std::string_view name, std::string& found) {
  std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.empty() ? "." : dir.c_str()), ::closedir);
  if (!d) return false;
  bool any = false;
  while (const dirent* e = ::readdir(d.get())) {
    std::string_view entry(e->d_name);
    if (EqualIgnoringCase(entry, name) && (!any || entry < found)) {
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

// A path split once into its components; each piece ends where its
// component's text ends, so that Prefix(k) is the path up to and including
// component k as the walk rebuilds it (doubled separators collapsed).
struct SplitPath {
  struct Part {
    std::size_t begin;
    std::size_t end;
  };
  explicit SplitPath(const std::string& path) : text(path) {
    std::size_t at = 0;
    if (!text.empty() && text[0] == '/') {
      root = "/";
      at = 1;
    }
    while (at < text.size()) {
      std::size_t end = text.find('/', at);
      if (end == std::string::npos) end = text.size();
      if (end > at) parts.push_back({at, end});
      at = end + 1;
    }
  }
  [[nodiscard]] std::string_view Name(std::size_t k) const {
    return std::string_view(text).substr(parts[k].begin, parts[k].end - parts[k].begin);
  }
  [[nodiscard]] std::string Prefix(std::size_t count) const {
    std::string p = root;
    for (std::size_t k = 0; k < count; ++k) {
      if (k > 0) p += '/';
      p += Name(k);
    }
    return p;
  }

  const std::string& text;
  std::string root;
  std::vector<Part> parts;
};

// Most missing paths are a new name in an existing folder: the deepest
// ancestor that exists as written (every component of an existing path
// exists too, so a walk would keep it unchanged) is where the search starts,
// instead of listing every folder from the root. Returns the number of
// components it holds; out becomes it with a trailing separator.
std::size_t DeepestExistingAncestor(const SplitPath& path, std::string& out) {
  out = path.root;
  for (std::size_t known = path.parts.empty() ? 0 : path.parts.size() - 1; known > 0; --known) {
    std::string ancestor = path.Prefix(known);
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
  const SplitPath split(native);
  std::string out;
  const std::size_t known = DeepestExistingAncestor(split, out);

  // Walk the rest component by component; once a component is missing even
  // ignoring case, the rest is kept as written.
  bool missing = false;
  for (std::size_t k = known; k < split.parts.size(); ++k) {
    const std::string_view part = split.Name(k);
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
    if (k + 1 < split.parts.size()) out += '/';
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
