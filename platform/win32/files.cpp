// files.cpp: the file services over the Win32 ANSI file API, with crash-safe replacement and appends flushed to disk.
#include "fault.h"
#include "files.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

const char path_separator = '\\';

namespace {

bool write_all(HANDLE h, const char *data, uint32_t size) {
  while (size > 0) {
    DWORD n = 0;
    if (!WriteFile(h, data, size, &n, nullptr) || n == 0) return false;
    data += n;
    size -= n;
  }
  return true;
}

// Opens for reading while letting a writer rename over the file. Windows 95
// knows no FILE_SHARE_DELETE and refuses it, so it is asked for without.
HANDLE open_for_reading(const char *path) {
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER)
    h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
  return h;
}

// MoveFileExA, retried a few times while another process (a virus scanner,
// an editor) briefly holds the target open. Windows 95 has no MoveFileExA:
// there the old file is deleted first, the best it offers.
bool move_replacing(const char *from, const char *to, DWORD flags) {
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | flags)) return true;
    DWORD err = GetLastError();
    if (err == ERROR_CALL_NOT_IMPLEMENTED) {
      DeleteFileA(to);
      return MoveFileA(from, to) != 0;
    }
    if (err != ERROR_ACCESS_DENIED && err != ERROR_SHARING_VIOLATION) return false;
    Sleep(10);
  }
  return false;
}

}  // namespace

bool current_directory(char *buf, uint32_t size) {
  if (!buf || size == 0) return false;
  DWORD n = GetCurrentDirectoryA(size, buf);
  return n > 0 && n < size;
}

bool windows_directory(char *buf, uint32_t size) {
  if (!buf || size == 0) return false;
  UINT n = GetWindowsDirectoryA(buf, size);
  return n > 0 && n < size;
}

bool file_find_after(const char *dir, const char *pattern, const char *after, char *name,
                     uint32_t size) {
  if (name && size > 0) name[0] = 0;
  if (fault_hit(PlatformOp::file_find_first)) return false;
  if (!pattern || !name || size == 0) return false;
  std::string pattern_path = (dir && *dir) ? std::string(dir) + "\\" + pattern : std::string(pattern);
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA(pattern_path.c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return false;
  // FindFirstFileA also matches the short 8.3 names and returns names in
  // the file system's order; the long names are filtered again and the
  // smallest taken, so both platforms choose alike.
  std::string best;
  bool found = false;
  do {
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (!name_matches(pattern, fd.cFileName)) continue;
    if (std::strlen(fd.cFileName) + 1 > size) continue;
    if (after && std::strcmp(fd.cFileName, after) <= 0) continue;
    if (found && std::strcmp(fd.cFileName, best.c_str()) >= 0) continue;
    best = fd.cFileName;
    found = true;
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  if (!found) return false;
  std::memcpy(name, best.c_str(), best.size() + 1);
  return true;
}

bool file_exists(const char *path) {
  if (!path) return false;
  DWORD a = GetFileAttributesA(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool file_delete(const char *path) {
  if (fault_hit(PlatformOp::file_delete)) return false;
  return path && DeleteFileA(path);
}

bool file_rename(const char *from, const char *to) {
  if (fault_hit(PlatformOp::file_rename)) return false;
  return from && to && move_replacing(from, to, 0);
}

bool file_append_line(const char *path, const char *line) {
  if (fault_hit(PlatformOp::file_append_line)) return false;
  if (!path || !line) return false;
  HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  std::string text(line);
  text += "\r\n";
  // SetFilePointer rather than ...Ex, which Windows 95 lacks.
  LONG end_high = 0;
  DWORD end_low = SetFilePointer(h, 0, &end_high, FILE_END);
  bool ok = !(end_low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) &&
            write_all(h, text.data(), static_cast<uint32_t>(text.size())) && FlushFileBuffers(h);
  // A line cut short by a full disk is taken back, so the file never ends
  // in half a line.
  if (!ok && SetFilePointer(h, static_cast<LONG>(end_low), &end_high, FILE_BEGIN) == end_low)
    SetEndOfFile(h);
  if (!CloseHandle(h)) ok = false;
  return ok;
}

bool file_read_all(const char *path, char **data, uint32_t *size, bool *missing) {
  if (data) *data = nullptr;
  if (size) *size = 0;
  if (missing) *missing = false;
  if (fault_hit(PlatformOp::file_read_all)) return false;
  if (!path || !data || !size) return false;
  HANDLE h = open_for_reading(path);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD err = GetLastError();
    if (missing) *missing = err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
    return false;
  }
  DWORD high = 0;
  DWORD low = GetFileSize(h, &high);
  if ((low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || high != 0 || low >= 0x7fffffff) {
    CloseHandle(h);
    return false;
  }
  // Files are replaced by renaming, never rewritten in place, so the file
  // opened keeps the size it had.
  uint32_t used = 0;
  char *buf = static_cast<char *>(std::malloc(low + 1));
  bool ok = buf != nullptr;
  while (ok && used < low) {
    DWORD n = 0;
    if (!ReadFile(h, buf + used, low - used, &n, nullptr)) ok = false;
    if (!ok || n == 0) break;  // a file cut short meanwhile: keep what is there
    used += n;
  }
  CloseHandle(h);
  if (!ok) {
    std::free(buf);
    return false;
  }
  buf[used] = 0;
  *data = buf;
  *size = used;
  return true;
}

bool file_replace(const char *path, const char *data, uint32_t size) {
  if (fault_hit(PlatformOp::file_replace)) return false;
  if (!path || (!data && size > 0)) return false;
  std::string temp = std::string(path) + ".tmp";
  HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = write_all(h, data, size) && FlushFileBuffers(h);
  if (!CloseHandle(h)) ok = false;
  // WRITE_THROUGH: the rename is on disk before the call returns.
  if (ok) ok = move_replacing(temp.c_str(), path, MOVEFILE_WRITE_THROUGH);
  if (!ok) DeleteFileA(temp.c_str());
  return ok;
}
