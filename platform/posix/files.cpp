// files.cpp: the file services over POSIX calls, with crash-safe replacement and appends flushed to disk.
#include "fault.h"
#include "files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

const char path_separator = '/';

namespace {

// Writes all of `data`, resuming after short writes and signals.
bool write_all(int fd, const char *data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool copy_name(const char *name, char *buf, uint32_t size) {
  size_t n = std::strlen(name);
  if (!buf || n + 1 > size) return false;
  std::memcpy(buf, name, n + 1);
  return true;
}

// The folder that holds `path`, for the fsync that makes a rename durable.
std::string parent_of(const char *path) {
  const char *slash = std::strrchr(path, '/');
  if (!slash) return ".";
  if (slash == path) return "/";
  return std::string(path, static_cast<size_t>(slash - path));
}

}  // namespace

bool current_directory(char *buf, uint32_t size) {
  if (!buf || size == 0) return false;
  return ::getcwd(buf, size) != nullptr;
}

bool windows_directory(char *buf, uint32_t size) {
  if (buf && size > 0) buf[0] = 0;
  return false;
}

bool file_find_after(const char *dir, const char *pattern, const char *after, char *name,
                     uint32_t size) {
  if (name && size > 0) name[0] = 0;
  if (fault_hit(PlatformOp::file_find_first)) return false;
  if (!pattern || !name || size == 0) return false;
  const char *folder = (dir && *dir) ? dir : ".";
  DIR *d = ::opendir(folder);
  if (!d) return false;
  // Directory order is arbitrary; the smallest name makes the choice stable.
  std::string best;
  bool found = false;
  while (dirent *e = ::readdir(d)) {
    if (!name_matches(pattern, e->d_name)) continue;
    if (std::strlen(e->d_name) + 1 > size) continue;  // could not be returned
    if (after && std::strcmp(e->d_name, after) <= 0) continue;
    if (found && std::strcmp(e->d_name, best.c_str()) >= 0) continue;
    struct stat st;
    if (::fstatat(::dirfd(d), e->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
    best = e->d_name;
    found = true;
  }
  ::closedir(d);
  return found && copy_name(best.c_str(), name, size);
}

bool file_exists(const char *path) {
  struct stat st;
  return path && ::stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

bool file_delete(const char *path) {
  if (fault_hit(PlatformOp::file_delete)) return false;
  return path && ::unlink(path) == 0;
}

bool file_rename(const char *from, const char *to) {
  if (fault_hit(PlatformOp::file_rename)) return false;
  return from && to && ::rename(from, to) == 0;
}

bool file_append_line(const char *path, const char *line) {
  if (fault_hit(PlatformOp::file_append_line)) return false;
  if (!path || !line) return false;
  int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  std::string text(line);
  text += "\r\n";
  struct stat st;
  bool sized = ::fstat(fd, &st) == 0;
  bool ok = sized && S_ISREG(st.st_mode) && write_all(fd, text.data(), text.size()) &&
            ::fsync(fd) == 0;
  // A line cut short by a full disk is taken back, so the file never ends
  // in half a line.
  if (!ok && sized && S_ISREG(st.st_mode)) (void)::ftruncate(fd, st.st_size);
  if (::close(fd) != 0) ok = false;
  return ok;
}

bool file_read_all(const char *path, char **data, uint32_t *size, bool *missing) {
  if (data) *data = nullptr;
  if (size) *size = 0;
  if (missing) *missing = false;
  if (fault_hit(PlatformOp::file_read_all)) return false;
  if (!path || !data || !size) return false;
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (missing) *missing = errno == ENOENT || errno == ENOTDIR;
    return false;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size >= 0x7fffffff) {
    ::close(fd);
    return false;
  }
  // Files are replaced by renaming, never rewritten in place, so the file
  // opened keeps the size it had.
  size_t want = static_cast<size_t>(st.st_size);
  size_t used = 0;
  char *buf = static_cast<char *>(std::malloc(want + 1));
  bool ok = buf != nullptr;
  while (ok && used < want) {
    ssize_t n = ::read(fd, buf + used, want - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;  // at 0 the file was cut short meanwhile: keep what is there
    used += static_cast<size_t>(n);
  }
  ::close(fd);
  if (!ok) {
    std::free(buf);
    return false;
  }
  buf[used] = 0;
  *data = buf;
  *size = static_cast<uint32_t>(used);
  return true;
}

bool file_replace(const char *path, const char *data, uint32_t size) {
  if (fault_hit(PlatformOp::file_replace)) return false;
  if (!path || (!data && size > 0)) return false;
  std::string temp = std::string(path) + ".tmp";
  // The new file keeps the permissions of the one it replaces.
  struct stat old;
  mode_t mode = ::stat(path, &old) == 0 ? (old.st_mode & 07777) : 0666;
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  bool ok = write_all(fd, data, size) && ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(temp.c_str(), path) != 0) ok = false;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // The rename lives in the folder: flush it too, or a power cut may bring
  // back the old name.
  int dfd = ::open(parent_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    (void)::fsync(dfd);
    ::close(dfd);
  }
  return true;
}
