// The programs' files: everything lives below one host folder, and no path,
// "..", or symbolic link resolves to anything outside it. Relative paths
// start at `cwd`, the calling process's folder as seen inside the root.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>
#include <unistd.h>

namespace kivos {

struct root_fs {
  int root_fd = -1;
  std::string root_real; // host path of the root, resolved

  ~root_fs();
  // Opens the root folder; returns an error text, empty on success.
  std::string open_root(const std::string &path);

  // Each returns a host file descriptor, or 0, or a negative errno.
  int open(const std::string &cwd, const std::string &path, int host_flags,
           unsigned mode = 0644) const;
  int mkdir(const std::string &cwd, const std::string &path) const;
  int mkfifo(const std::string &cwd, const std::string &path) const;
  int unlink(const std::string &cwd, const std::string &path) const;
  int rmdir(const std::string &cwd, const std::string &path) const;
  // Sets cwd to the folder at path.
  int chdir(std::string &cwd, const std::string &path) const;
  // Replaces the file at `path` by `len` bytes, through a temporary file
  // renamed into place, so that the old contents survive any failure.
  int write_whole(const std::string &cwd, const std::string &path, const void *data,
                  uint32_t len) const;
  // An unnamed file in the folder of `path`, to be written and then put in
  // place whole with place_whole(); closing it unplaced leaves nothing.
  int begin_whole(const std::string &cwd, const std::string &path) const;
  int place_whole(const std::string &cwd, const std::string &path, int fd) const;

private:
  // Opens the folder holding the last component of path; `base` receives
  // that component. Returns a descriptor or a negative errno.
  int open_parent(const std::string &cwd, const std::string &path, std::string &base) const;
  // op(folder, last component) on path's folder: 0, or a negative errno.
  template <typename F> int in_parent(const std::string &cwd, const std::string &path, F op) const {
    std::string base;
    int dir = open_parent(cwd, path, base);
    if (dir < 0) return dir;
    int r = op(dir, base.c_str()) == 0 ? 0 : -errno;
    ::close(dir);
    return r;
  }
};

} // namespace kivos
