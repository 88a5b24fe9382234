// instance.cpp: the single-instance file lock on Linux.
#include "instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// The lock is held through an open descriptor kept for the life of the
// process; closing it would release the lock.
struct InstanceState {
  int fd = -1;
  pid_t owner = 0;  // a forked child inherits the record but is not the holder
};

InstanceState instance_state;

}  // namespace

bool instance_lock(const char *path, bool *held_elsewhere) {
  if (held_elsewhere) *held_elsewhere = false;
  if (!path) return false;
  // Asked again for the file already held (the same file, not merely the
  // same name: it may have been deleted and made anew): still ours.
  struct stat held, now;
  if (instance_state.fd >= 0 && instance_state.owner == ::getpid() &&
      ::fstat(instance_state.fd, &held) == 0 && ::stat(path, &now) == 0 &&
      held.st_dev == now.st_dev && held.st_ino == now.st_ino)
    return true;
  int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  // In a folder turned read-only the lock file of an earlier run can still
  // be locked through a read-only descriptor; the client then reports the
  // writes it cannot make instead of leaving as if another copy ran.
  if (fd < 0) fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (held_elsewhere) *held_elsewhere = errno == EWOULDBLOCK;
    ::close(fd);
    return false;
  }
  instance_state.fd = fd;
  instance_state.owner = ::getpid();
  return true;
}
