/*
 * gui_driver.cpp: drives quarn.exe the way a user and Windows would, from
 * the same desktop, and checks what the window, its menu, the status log
 * and Quarn.ini show. Run by run-gui-tests inside Wine's virtual desktop.
 *
 * Usage: gui_driver QUARN.EXE WORK-DIR [SCREENSHOT-DIR]
 */
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "quarn_ids.h"

namespace {

std::string quarn_exe, work_dir, shot_dir;
int passed = 0, failed = 0;
const char *current_test = "";

void check(bool ok, const char *what, ...) {
  char text[512];
  va_list args;
  va_start(args, what);
  std::vsnprintf(text, sizeof text, what, args);
  va_end(args);
  if (ok) {
    ++passed;
  } else {
    ++failed;
    std::printf("FAIL [%s] %s\n", current_test, text);
    std::fflush(stdout);
  }
}

std::string path_of(const char *name) { return work_dir + "\\" + name; }

// --- the work folder and its files ---

void clear_work_dir() {
  const char *names[] = {"Quarn.ini", "output0.txt", "output1.txt"};
  for (const char *n : names) DeleteFileA(path_of(n).c_str());
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(path_of("Range*").c_str(), &found);
  if (h != INVALID_HANDLE_VALUE) {
    do DeleteFileA(path_of(found.cFileName).c_str());
    while (FindNextFileA(h, &found));
    FindClose(h);
  }
}

void write_key(const char *file, const char *section, const char *key, const char *value) {
  WritePrivateProfileStringA(section, key, value, path_of(file).c_str());
}

std::string read_key(const char *section, const char *key) {
  char buf[256];
  GetPrivateProfileStringA(section, key, "<missing>", buf, sizeof buf, path_of("Quarn.ini").c_str());
  return buf;
}

std::vector<std::string> read_lines(const char *name) {
  std::vector<std::string> lines;
  FILE *f = std::fopen(path_of(name).c_str(), "r");
  if (!f) return lines;
  char buf[512];
  while (std::fgets(buf, sizeof buf, f)) {
    std::string s = buf;
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    lines.push_back(s);
  }
  std::fclose(f);
  return lines;
}

bool file_present(const char *name) {
  return GetFileAttributesA(path_of(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// --- the program ---

struct Program {
  PROCESS_INFORMATION pi{};
  HWND window = nullptr;
};

bool launch(Program *p) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  std::string command = "\"" + quarn_exe + "\"";
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      work_dir.c_str(), &si, &p->pi))
    return false;
  return true;
}

HWND find_main_window() { return FindWindowA(QUARN_WINDOW_CLASS, QUARN_WINDOW_TITLE); }

HWND wait_for_window(DWORD ms = 20000) {
  for (DWORD waited = 0; waited < ms; waited += 100) {
    if (HWND w = find_main_window()) return w;
    Sleep(100);
  }
  return nullptr;
}

// Starts quarn.exe and waits for its window; false (and a failure) if none.
bool start_program(Program *p) {
  if (!launch(p)) {
    check(false, "cannot start %s", quarn_exe.c_str());
    return false;
  }
  p->window = wait_for_window();
  check(p->window != nullptr, "the main window appears");
  return p->window != nullptr;
}

DWORD wait_exit(Program *p, DWORD ms) {
  if (WaitForSingleObject(p->pi.hProcess, ms) != WAIT_OBJECT_0) return STILL_ACTIVE;
  DWORD code = 0;
  GetExitCodeProcess(p->pi.hProcess, &code);
  return code;
}

// Exit Quarn from the menu; true when the process ended with code 0.
bool exit_program(Program *p) {
  PostMessageA(p->window, WM_COMMAND, 103, 0);
  const DWORD code = wait_exit(p, 30000);
  if (code == STILL_ACTIVE) TerminateProcess(p->pi.hProcess, 1);
  CloseHandle(p->pi.hProcess);
  CloseHandle(p->pi.hThread);
  return code == 0;
}

void kill_program(Program *p) {
  if (wait_exit(p, 0) == STILL_ACTIVE) TerminateProcess(p->pi.hProcess, 1);
  WaitForSingleObject(p->pi.hProcess, 5000);
  CloseHandle(p->pi.hProcess);
  CloseHandle(p->pi.hThread);
}

// Menu commands are sent (not posted) so that they have taken effect on
// return: Start Calculating returns after its one-second pause.
void command(HWND w, int id) {
  DWORD_PTR result;
  SendMessageTimeoutA(w, WM_COMMAND, static_cast<WPARAM>(id), 0, SMTO_NORMAL, 60000, &result);
}

UINT menu_state(HWND w, int id) {
  static const UINT message = RegisterWindowMessageA("Quarn menu state");
  return static_cast<UINT>(SendMessageA(w, message, static_cast<WPARAM>(id), 0));
}
bool grayed(HWND w, int id) { return (menu_state(w, id) & MF_GRAYED) != 0; }
bool checked(HWND w, int id) { return (menu_state(w, id) & MF_CHECKED) != 0; }

// Line `index` of the status log (1 = newest); "<none>" before any.
std::string log_line(HWND w, int index) {
  static const UINT message = RegisterWindowMessageA("Quarn log line");
  const ATOM atom = static_cast<ATOM>(SendMessageA(w, message, static_cast<WPARAM>(index), 0));
  if (!atom) return "<none>";
  char buf[300] = {};
  GlobalGetAtomNameA(atom, buf, sizeof buf);  // the window deletes it at the next request
  return buf[0] == '|' ? std::string(buf + 1) : std::string(buf);
}

// Waits until some log line starts with `prefix`; returns it or "".
std::string wait_for_log(HWND w, const char *prefix, DWORD ms) {
  for (DWORD waited = 0; waited < ms; waited += 500) {
    for (int i = 1; i < 64; ++i) {
      const std::string line = log_line(w, i);
      if (line.compare(0, std::strlen(prefix), prefix) == 0) return line;
    }
    Sleep(500);
  }
  return "";
}

HWND wait_for_top_window(const char *title, DWORD ms = 10000) {
  for (DWORD waited = 0; waited < ms; waited += 100) {
    if (HWND w = FindWindowA(nullptr, title)) return w;
    Sleep(100);
  }
  return nullptr;
}

BOOL CALLBACK count_if_main(HWND w, LPARAM counter) {
  char cls[64] = {};
  GetClassNameA(w, cls, sizeof cls);
  if (std::strcmp(cls, QUARN_WINDOW_CLASS) == 0) ++*reinterpret_cast<int *>(counter);
  return TRUE;
}

int count_main_windows() {
  int count = 0;
  EnumWindows(count_if_main, reinterpret_cast<LPARAM>(&count));
  return count;
}

// --- screenshots: a part of the virtual desktop as a 24-bit BMP ---

void screenshot(const char *name, RECT area) {
  if (shot_dir.empty()) return;
  Sleep(700);  // let the last repaint land
  RECT screen_rect = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  IntersectRect(&area, &area, &screen_rect);
  const int width = area.right - area.left, height = area.bottom - area.top;
  if (width <= 0 || height <= 0) return;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  const int stride = (width * 3 + 3) & ~3;
  std::vector<unsigned char> pixels(static_cast<size_t>(stride) * height);
  GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO *>(&info),
            DIB_RGB_COLORS);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  const std::string path = shot_dir + "\\" + name + ".bmp";
  if (FILE *f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(&file, sizeof file, 1, f);
    std::fwrite(&info, sizeof info, 1, f);
    std::fwrite(pixels.data(), 1, pixels.size(), f);
    std::fclose(f);
  }
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

// A window with a margin of the desktop around it.
void screenshot(const char *name, HWND window, int margin = 8) {
  RECT r;
  GetWindowRect(window, &r);
  InflateRect(&r, margin, margin);
  screenshot(name, r);
}

// --- the tests ---

void test_fresh_start_and_single_instance() {
  current_test = "fresh start";
  clear_work_dir();
  Program p;
  if (!start_program(&p)) return;
  // The window exists before it is shown: a slow first start can be seen
  // in between.
  for (int waited = 0; waited < 300 && !IsWindowVisible(p.window); ++waited) Sleep(100);
  check(IsWindowVisible(p.window), "the window is shown");
  check(!grayed(p.window, 101), "Start Calculating is enabled");
  check(grayed(p.window, 102), "Stop Calculating is greyed");
  check(!checked(p.window, 104) && !checked(p.window, 105), "Tray Icon and Auto-continue are off");
  check(log_line(p.window, 1) == "<none>", "the log is empty");

  Program second;
  if (launch(&second)) {
    const DWORD code = wait_exit(&second, 20000);
    check(code == 0, "a second copy exits with 0 (got %lu)", code);
    if (code == STILL_ACTIVE) kill_program(&second);
    else {
      CloseHandle(second.pi.hProcess);
      CloseHandle(second.pi.hThread);
    }
  }
  check(count_main_windows() == 1, "one main window (%d)", count_main_windows());

  check(exit_program(&p), "Exit Quarn ends the program with 0");
  check(read_key("Main", "Trayicon") == "0", "Trayicon saved as 0");
  check(read_key("Main", "Autocontinue") == "0", "Autocontinue saved as 0");
  check(read_key("Main", "Priority") == "Auto", "Priority saved as Auto");
  check(!file_present("output0.txt"), "nothing was computed");
}

// The [Thread<n>] section holding the chunk of the range [0, end).
std::string busy_section(const char *end) {
  for (int n = 0; n < 8; ++n) {
    char section[16];
    std::snprintf(section, sizeof section, "Thread%d", n);
    const std::string cur = read_key(section, "cur_pos");
    if (cur != "<missing>" && read_key(section, "end_pos") == end &&
        cur != "0000000000000000")
      return section;
  }
  return "";
}

void test_start_stop_resume() {
  current_test = "start, stop, resume";
  clear_work_dir();
  // One whole chunk, terms [0, 2^28) at digit position 2,000,000,000 (whose
  // head is 400,000,000 terms long): far more than the fastest kernel gets
  // through in the two runs below, so neither can reach its end.
  write_key("Quarn.ini", "Main", "where", "0000000077359400");
  write_key("Quarn.ini", "Main", "srt_pos", "0000000000000000");
  write_key("Quarn.ini", "Main", "cur_pos", "0000000000000000");
  write_key("Quarn.ini", "Main", "end_pos", "0000000010000000");
  Program p;
  if (!start_program(&p)) return;
  command(p.window, 101);
  check(grayed(p.window, 101) && !grayed(p.window, 102),
        "calculating: Start greyed, Stop enabled (log: %s)", log_line(p.window, 1).c_str());
  Sleep(2500);
  command(p.window, 102);
  check(!grayed(p.window, 101) && grayed(p.window, 102), "stopped: Start enabled, Stop greyed");
  const std::string section = busy_section("0000000010000000");
  check(!section.empty(), "a worker saved a position inside the chunk");
  const std::string first_stop = section.empty() ? "" : read_key(section.c_str(), "cur_pos");

  command(p.window, 101);
  Sleep(2500);
  command(p.window, 102);
  const std::string second_stop = section.empty() ? "" : read_key(section.c_str(), "cur_pos");
  check(second_stop > first_stop, "the second run went on (%s after %s)", second_stop.c_str(),
        first_stop.c_str());
  // The second run's partial line starts where the first one stopped.
  bool resumed = false;
  for (const std::string &line : read_lines("output0.txt"))
    if (line.size() > 50 && line.compare(17, 16, first_stop) == 0 &&
        line.compare(34, 16, second_stop) == 0)
      resumed = true;
  check(resumed, "output0.txt holds the stretch %s..%s", first_stop.c_str(), second_stop.c_str());
  check(exit_program(&p), "exit");
}

void test_settings_saved_at_exit() {
  current_test = "settings at exit";
  clear_work_dir();
  write_key("Quarn.ini", "Main", "Priority", "3");
  Program p;
  if (!start_program(&p)) return;
  command(p.window, 104);
  command(p.window, 105);
  check(checked(p.window, 104) && checked(p.window, 105), "both options checked");
  check(exit_program(&p), "exit");
  check(read_key("Main", "Trayicon") == "8", "Trayicon saved as 8");
  check(read_key("Main", "Autocontinue") == "8", "Autocontinue saved as 8");
  check(read_key("Main", "Priority") == "3", "Priority 3 kept");
}

void test_tray_and_autocontinue() {
  current_test = "tray and auto-continue";
  clear_work_dir();
  write_key("Quarn.ini", "Main", "Trayicon", "8");
  write_key("Quarn.ini", "Main", "Autocontinue", "8");
  Program p;
  if (!start_program(&p)) return;
  Sleep(1500);
  check(!IsWindowVisible(p.window), "starts hidden");
  check(grayed(p.window, 101) && !grayed(p.window, 102), "calculation started by itself");
  SendMessageA(p.window, 101, 0, WM_LBUTTONDBLCLK);
  check(IsWindowVisible(p.window), "a double click on the tray icon shows it");
  SendMessageA(p.window, 101, 0, WM_LBUTTONDOWN);
  SendMessageA(p.window, 101, 0, WM_RBUTTONUP);
  check(IsWindowVisible(p.window), "single clicks change nothing");
  SendMessageA(p.window, 101, 0, WM_LBUTTONDBLCLK);
  check(!IsWindowVisible(p.window), "another double click hides it");
  SendMessageA(p.window, 101, 0, WM_LBUTTONDBLCLK);
  SendMessageA(p.window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  Sleep(300);
  check(!IsWindowVisible(p.window), "minimising with the tray icon on hides it");

  // The taskbar comes back: the icon is added again (and nothing breaks).
  SendMessageA(p.window, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
  // Turning the icon off shows the window again, so it stays reachable.
  command(p.window, 104);
  check(IsWindowVisible(p.window), "turning the tray icon off shows the hidden window");
  check(exit_program(&p), "exit while calculating");
  check(read_key("Main", "Trayicon") == "0", "Trayicon saved as 0");
  check(busy_section("0000000001312C00").size() > 0, "the workers saved their positions");
}

void test_end_session() {
  current_test = "end of session";
  clear_work_dir();
  Program p;
  if (!start_program(&p)) return;
  SendMessageA(p.window, WM_ENDSESSION, 0, 0);
  Sleep(500);
  check(wait_exit(&p, 0) == STILL_ACTIVE && IsWindow(p.window), "WM_ENDSESSION 0 leaves it running");
  check(read_key("Main", "Trayicon") == "<missing>", "and writes nothing");
  SendMessageA(p.window, WM_ENDSESSION, 1, 0);
  const DWORD code = wait_exit(&p, 20000);
  check(code == 0, "WM_ENDSESSION 1 ends it (%lu)", code);
  check(read_key("Main", "Trayicon") == "0", "and saves the settings");
  kill_program(&p);
}

void test_work_unit_and_send_request() {
  current_test = "work unit and send request";
  clear_work_dir();
  // A small range at digit position 1000 (into output0.txt), then a work
  // unit of two long chunks that keeps both workers busy (into output1.txt).
  write_key("Quarn.ini", "Main", "where", "00000000000003E8");
  write_key("Quarn.ini", "Main", "srt_pos", "0000000000000000");
  write_key("Quarn.ini", "Main", "cur_pos", "0000000000000000");
  write_key("Quarn.ini", "Main", "end_pos", "0000000000000096");
  write_key("Range1.ini", "Main", "Where", "0000000100000000");
  write_key("Range1.ini", "Main", "srt_pos", "0000000000000000");
  write_key("Range1.ini", "Main", "end_pos", "0000000020000000");
  write_key("Quarn.ini", "Main", "Trayicon", "8");
  Program p;
  if (!start_program(&p)) return;
  command(p.window, 101);
  const std::string request = wait_for_log(p.window, "Please send output0.txt to ", 30000);
  check(!request.empty(), "the send request appears in the log");
  check(log_line(p.window, 1).find("% done") != std::string::npos,
        "the request is followed by the percentage line");
  check(!file_present("Range1.ini"), "the work unit was taken");
  // The window lends one atom at a time: reading another line deletes the
  // one before, so a reader that never deletes cannot fill the atom table.
  // (Built with append, not "|" + line: GCC 12 warns wrongly about the
  // latter, bug 105329.)
  const std::string newest = std::string("|").append(log_line(p.window, 1));
  check(GlobalFindAtomA(newest.c_str()) != 0, "the lent line is an atom");
  const std::string other = std::string("|").append(request);
  log_line(p.window, 0);  // the line being assembled is not handed out
  check(GlobalFindAtomA(newest.c_str()) == 0 && GlobalFindAtomA(other.c_str()) == 0,
        "the window deletes the atom it lent at the next request");
  // The terms [0, 0x96) of position 1000, in chunks that join up.
  std::string next = "0000000000000000";
  for (const std::string &line : read_lines("output0.txt")) {
    if (line.size() < 50 || line.compare(0, 16, "00000000000003E8") != 0) continue;
    if (line.compare(17, 16, next) == 0) next = line.substr(34, 16);
  }
  check(next == "0000000000000096", "output0.txt covers the whole range (up to %s)", next.c_str());
  // Let a speed line follow, for the picture of the window.
  wait_for_log(p.window, "0.0", 12000);
  screenshot("main_window", p.window);
  // The tip shows on hovering the notification area's right end.
  if (HWND tray = FindWindowA("Shell_TrayWnd", nullptr)) {
    RECT r;
    GetWindowRect(tray, &r);
    SetCursorPos(r.right - 12, (r.top + r.bottom) / 2);
    Sleep(300);
    SetCursorPos(r.right - 11, (r.top + r.bottom) / 2);
    Sleep(1500);
    // The right end of the taskbar with the tip that rises above it.
    RECT area = {r.right - 320, r.top - 40, r.right, r.bottom};
    screenshot("tray_tip", area);
  }
  command(p.window, 102);
  check(exit_program(&p), "exit");
}

void test_dialogs() {
  current_test = "dialogs";
  clear_work_dir();
  Program p;
  if (!start_program(&p)) return;
  PostMessageA(p.window, WM_COMMAND, 106, 0);
  HWND dialog = wait_for_top_window(TEXT_PRIORITY_CAPTION);
  check(dialog != nullptr, "the priority dialog opens");
  // Found as soon as it exists, a dialog may not have set its checks yet.
  if (dialog) {
    for (int waited = 0; waited < 100 && IsDlgButtonChecked(dialog, 106) != BST_CHECKED; ++waited)
      Sleep(100);
    check(IsDlgButtonChecked(dialog, 106) == BST_CHECKED, "Auto is checked");
    screenshot("priority_dialog", dialog);
    SendMessageA(GetDlgItem(dialog, 103), BM_CLICK, 0, 0);
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
    // The closed dialog must be gone, or it would be found again below.
    for (int waited = 0; waited < 300 && IsWindow(dialog); ++waited) Sleep(100);
  }
  PostMessageA(p.window, WM_COMMAND, 106, 0);
  dialog = wait_for_top_window(TEXT_PRIORITY_CAPTION);
  if (dialog) {
    for (int waited = 0; waited < 100 && IsDlgButtonChecked(dialog, 103) != BST_CHECKED; ++waited)
      Sleep(100);
    check(IsDlgButtonChecked(dialog, 103) == BST_CHECKED, "level 3 is checked next time");
    SendMessageA(GetDlgItem(dialog, 105), BM_CLICK, 0, 0);
    SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    Sleep(300);
  }
  PostMessageA(p.window, WM_COMMAND, 107, 0);
  HWND about = wait_for_top_window(TEXT_ABOUT_CAPTION);
  check(about != nullptr, "the About box opens");
  if (about) {
    screenshot("about_box", about);
    SendMessageA(about, WM_COMMAND, IDOK, 0);
    Sleep(300);
    check(!IsWindow(about), "OK closes it");
  }
  check(exit_program(&p), "exit");
  check(read_key("Main", "Priority") == "3", "OK kept level 3, Cancel changed nothing");
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: gui_driver QUARN.EXE WORK-DIR [SCREENSHOT-DIR]\n");
    return 2;
  }
  quarn_exe = argv[1];
  work_dir = argv[2];
  if (argc > 3) shot_dir = argv[3];
  CreateDirectoryA(work_dir.c_str(), nullptr);
  if (GetFileAttributesA(quarn_exe.c_str()) == INVALID_FILE_ATTRIBUTES) {
    std::printf("FAIL no program at %s\n0 passed, 1 failed\n", quarn_exe.c_str());
    return 1;
  }
  struct Test {
    const char *name;
    void (*run)();
  } tests[] = {
      {"fresh", test_fresh_start_and_single_instance},
      {"resume", test_start_stop_resume},
      {"settings", test_settings_saved_at_exit},
      {"tray", test_tray_and_autocontinue},
      {"endsession", test_end_session},
      {"workunit", test_work_unit_and_send_request},
      {"dialogs", test_dialogs},
  };
  const char *only = std::getenv("QUARN_GUI_TEST");
  for (const Test &t : tests) {
    if (only && *only && std::strcmp(only, t.name) != 0) continue;
    const int before = failed;
    t.run();
    // A program left behind by a failed test would block the next one.
    if (HWND w = find_main_window()) {
      DWORD pid = 0;
      GetWindowThreadProcessId(w, &pid);
      if (HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, pid)) {
        TerminateProcess(h, 1);
        CloseHandle(h);
      }
      Sleep(500);
    }
    std::printf("%s %s\n", failed == before ? "ok  " : "FAIL", t.name);
    std::fflush(stdout);
  }
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
