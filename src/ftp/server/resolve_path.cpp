#include "ftp/server/resolve_path.h"

#include <sys/stat.h>

#include <algorithm>

namespace hx::ftpd {
namespace {

// Collapses every occurrence of `from` into `to` until none is left (so "///" becomes "/").
void CollapseAll(std::string& text, std::string_view from, std::string_view to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at > 0 ? at - 1 : 0))
    text.replace(at, from.size(), to);
}

std::string RootAsDirectory(const std::string& root) {
  std::string result = root;
  if (result.empty() || result.back() != '/') result += '/';
  return result;
}

}  // namespace

bool IsInsideRoot(const std::string& path, const std::string& root) {
  if (!root.empty() && path.size() == root.size() - 1 && root.compare(0, path.size(), path) == 0) return true;
  return path.compare(0, root.size(), root) == 0;
}

bool ResolvePath(std::string& path, PathMode mode, const std::string& root, const std::string& current,
                 const PathProbe& probe) {
  if (path.find('\0') != std::string::npos) {
    path = kAccessDenied;
    return false;
  }
  if (path.empty())
    path = current;
  else if (path.front() == '\\' || path.front() == '/')
    path = root + path;
  else
    path = current + path;

  std::replace(path.begin(), path.end(), '\\', '/');
  CollapseAll(path, "//", "/");
  CollapseAll(path, "/./", "/");
  // A final "." names the directory it stands in, like "/./": "CWD ." stays where it is.
  if (path.ends_with("/.")) path.pop_back();

  // Each ".." takes away the component before it, whatever the characters around it.
  for (size_t e = path.find(".."); e != std::string::npos; e = path.find("..")) {
    std::string head = e > 0 ? path.substr(0, e - 1) : std::string();
    size_t lastSlash = head.rfind('/');
    if (lastSlash == std::string::npos) {
      if (mode == PathMode::Directory) {
        path = RootAsDirectory(root);
        return true;
      }
      path = kAccessDenied;
      return false;
    }
    path = head.substr(0, lastSlash) + path.substr(e + 2);
  }

  if (!IsInsideRoot(path, root)) {
    if (mode == PathMode::Directory) {
      path = RootAsDirectory(root);
      return true;
    }
    path = kAccessDenied;
    return false;
  }

  switch (mode) {
    case PathMode::Directory: {
      PathKind kind = probe(path);
      if (kind == PathKind::Missing) {
        path = kNoSuchDirectory;
        return false;
      }
      if (kind != PathKind::Directory) {
        path = ShownPath(path, root) + kNotADirectory;
        return false;
      }
      if (path.back() != '/') path += '/';
      return true;
    }
    case PathMode::Existing:
      if (probe(path) == PathKind::Missing) {
        path = kNoSuchFile;
        return false;
      }
      return true;
    case PathMode::List:
      if (probe(path) == PathKind::Directory) {
        if (path.back() != '/') path += '/';
        path += "*.*";
      }
      return true;
    case PathMode::Plain:
      return true;
  }
  return true;
}

std::string ShownPath(const std::string& path, const std::string& root) {
  size_t skip = root.empty() ? 0 : root.size() - 1;
  return path.size() > skip ? path.substr(skip) : std::string("/");
}

PathKind ProbePath(const RootedFileSystem& files, const std::string& path) {
  struct stat st {};
  if (!files.Stat(path, st)) return PathKind::Missing;
  return S_ISDIR(st.st_mode) ? PathKind::Directory : PathKind::File;
}

}  // namespace hx::ftpd
