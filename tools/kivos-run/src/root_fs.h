// The program's files: everything lives below one host folder, and no path,
// "..", or symbolic link resolves to anything outside it.
#pragma once

#include <cstdint>
#include <string>

namespace kivos {

struct root_fs {
  int root_fd = -1;
  std::string root_real; // host path of the root, resolved
  std::string cwd = "/"; // the program's working folder, as seen inside the root

  ~root_fs();
  // Opens the root folder; returns an error text, empty on success.
  std::string open_root(const std::string &path);

  // Each returns a host file descriptor or a negative errno.
  int open(const std::string &path, int host_flags, unsigned mode = 0644) const;
  int mkdir(const std::string &path) const;
  int unlink(const std::string &path) const;
  int rmdir(const std::string &path) const;
  int chdir(const std::string &path);
  // Replaces the file at `path` by `len` bytes, through a temporary file
  // renamed into place, so that the old contents survive any failure.
  int write_whole(const std::string &path, const void *data, uint32_t len) const;

private:
  std::string absolute(const std::string &path) const;
  // Opens the folder holding the last component of path; `base` receives
  // that component. Returns a descriptor or a negative errno.
  int open_parent(const std::string &path, std::string &base) const;
};

} // namespace kivos
