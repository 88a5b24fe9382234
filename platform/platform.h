/*
 * platform.h: the thin services the rest of Quarn calls. platform/win32/
 * implements them over the real Win32 API, platform/posix/ over POSIX; the
 * processor services at the top are the same instructions on both.
 */
#pragma once

#include <cstdint>

// --- processor ---

// Whether bit `bit` of the flags register can be flipped (bit 18, alignment
// check: a 486 or later; bit 21, identification: CPUID exists). Always true
// on x86-64.
bool cpu_flag_toggles(int bit);
// CPUID leaf `leaf` (sub-leaf 0): regs = EAX, EBX, ECX, EDX.
void cpu_cpuid(uint32_t leaf, uint32_t regs[4]);

// x87 control word: precision field bits 8-9 (3: 64-bit significand),
// rounding field bits 10-11 (1: toward minus infinity).
uint16_t x87_get_control_word();
void x87_set_control_word(uint16_t cw);
// The kernel's numeric environment: every exception masked, 64-bit
// significand, rounding toward minus infinity.
constexpr uint16_t x87_kernel_control_word = 0x077F;
// Sets x87_kernel_control_word on the calling thread.
inline void x87_enter_kernel_mode() { x87_set_control_word(x87_kernel_control_word); }

// --- files (names relative to the current directory unless absolute) ---

// The path separator used when composing "%s<sep>%s".
#if defined(_WIN32)
constexpr char path_separator = '\\';
#else
constexpr char path_separator = '/';
#endif

// The current directory into buf; false if it does not fit or cannot be read.
bool current_directory(char *buf, uint32_t size);
// The Windows directory into buf; false where there is none (Linux).
bool windows_directory(char *buf, uint32_t size);
// The first regular file in `dir` whose name matches `pattern` ('*' and '?',
// without regard to case as on Windows), in a stable order (byte order of the
// names); its name (not path) into name. False when there is none.
bool file_find_first(const char *dir, const char *pattern, char *name, uint32_t size);
// As file_find_first, among the names that come after `after` in that order
// (all of them when `after` is null): starting from a name found, it walks
// through every match once.
bool file_find_after(const char *dir, const char *pattern, const char *after, char *name,
                     uint32_t size);
// Whether a regular file exists at path.
bool file_exists(const char *path);
bool file_delete(const char *path);
// Renames, replacing an existing target.
bool file_rename(const char *from, const char *to);
// Appends `line` and a CR LF to the file (created if missing) and flushes it
// to disk before returning. False if any byte could not be written.
bool file_append_line(const char *path, const char *line);
// Reads a whole file into a newly allocated buffer (NUL-terminated, *size
// without the NUL); the caller frees it with std::free. False if the file is
// missing or unreadable; *missing tells which.
bool file_read_all(const char *path, char **data, uint32_t *size, bool *missing);
// Replaces the file with `data` atomically: a temporary file beside it is
// written, flushed to disk and renamed over it, so a reader (or a crash) sees
// either the old or the new contents, never a mix.
bool file_replace(const char *path, const char *data, uint32_t size);

// --- profile (INI) files, with the Win32 private-profile semantics ---
// Sections and keys match without regard to case, the first match wins,
// names and values are trimmed, a value in matching quotes loses them.

// Copies the value (or `def` when the file, section or key is missing), cut
// to size - 1 characters; returns the number of characters copied.
uint32_t profile_get_string(const char *section, const char *key, const char *def, char *buf,
                            uint32_t size, const char *path);
// How many reads so far found their file present but unreadable (and so
// gave the default): a caller compares the figure before and after a group
// of reads to learn whether every one of them saw the file.
uint32_t profile_read_failures();
// The value's leading decimal number (as GetPrivateProfileIntA), or `def`.
int32_t profile_get_int(const char *section, const char *key, int32_t def, const char *path);
// Replaces or adds the key, creating section and file as needed; the file is
// replaced atomically. False when the new file could not be written.
bool profile_write_string(const char *section, const char *key, const char *value,
                          const char *path);

// --- threads, priorities, time ---

using ThreadHandle = void *;
using ThreadProc = unsigned (*)(void *arg);

// Starts fn(arg) on a new thread; nullptr on failure.
ThreadHandle thread_create(ThreadProc fn, void *arg);
// Whether the thread has not yet returned (GetExitCodeThread = STILL_ACTIVE).
bool thread_is_active(ThreadHandle t);
// Waits for the thread to end and releases the handle.
void thread_join(ThreadHandle t);
// Win32 thread priority levels.
constexpr int thread_priority_idle = -15;
constexpr int thread_priority_lowest = -2;
constexpr int thread_priority_below_normal = -1;
constexpr int thread_priority_normal = 0;
constexpr int thread_priority_above_normal = 1;
constexpr int thread_priority_highest = 2;
void thread_set_priority(ThreadHandle t, int level);
void thread_set_current_priority(int level);
// Puts the whole process into the idle priority class.
void process_set_idle_class();

void thread_yield();               // Sleep(0)
void thread_sleep(uint32_t ms);
uint32_t tick_count();             // milliseconds, wrapping
int processor_count();

// One lock (a critical section).
struct PlatformLock;
PlatformLock *lock_create();
void lock_delete(PlatformLock *l);
void lock_enter(PlatformLock *l);
void lock_leave(PlatformLock *l);

// --- power ---
struct PowerStatus {
  bool known;            // false: no power information
  bool ac_online;        // true also when the line status is unknown
  int battery_percent;   // 0..100, or -1 unknown (no battery)
};
PowerStatus power_status();
#if !defined(_WIN32)
// power_status over a tree laid out as /sys/class/power_supply (one folder a
// supply with "type", "online", "capacity"), so tests can give their own.
PowerStatus power_status_at(const char *supply_dir);
// Whether standard input and standard output are both a terminal: the
// Linux client then shows its full-screen interface instead of printing
// report lines.
bool stdio_is_terminal();
#endif

// --- single instance (Linux: a lock on a file; Windows uses the window) ---
// Takes an exclusive lock on path (created if missing) for the life of the
// process; false if another process holds it (*held_elsewhere set) or the
// file can be neither made nor opened, as in a read-only folder
// (*held_elsewhere cleared).
bool instance_lock(const char *path, bool *held_elsewhere = nullptr);

// --- fault injection for tests ---
// Every fallible service above asks the fault table first, so a test can make
// the Nth call of one service fail once, or fail from then on.
enum class PlatformOp : int {
  file_find_first, file_delete, file_rename, file_append_line, file_read_all, file_replace,
  profile_write_string, thread_create, lock_create, count_
};
// Makes call number `nth` (1 = the next) of `op` fail; with `persist`, every
// later call fails too.
void fault_inject(PlatformOp op, int nth, bool persist);
void fault_reset();
// Calls made of `op` since the last fault_reset.
int fault_calls(PlatformOp op);
// Counts one call of `op` and says whether it is to fail; every fallible
// service calls it first.
bool fault_hit(PlatformOp op);
// Calls `seen` with the folder and the name file_find_first has found, before
// it returns them, so that a test can take the file away in between as
// another program may; nullptr (and fault_reset) calls nothing.
void fault_on_found(void (*seen)(const char *dir, const char *name));
// What file_find_first calls with each name it finds.
void fault_found(const char *dir, const char *name);

// Whether `name` matches `pattern` ('*' any run, '?' one character), without
// regard to case; both platforms filter file searches through it so that they
// agree.
bool name_matches(const char *pattern, const char *name);
