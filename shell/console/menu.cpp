/*
 * menu.cpp: the menu bar's popups and items, and how keys move through
 * them and through the two dialogs.
 */
#include <cctype>
#include <cstring>

#include "quarn_ids.h"
#include "tui.h"

static const MenuItem quarn_items[] = {
    {TEXT_START, IDM_START},
    {TEXT_STOP, IDM_STOP},
    {"", 0},
    {TEXT_EXIT, IDM_EXIT},
};
static const MenuItem options_items[] = {
    {TEXT_TRAY_ICON, IDM_TRAY_ICON},
    {TEXT_AUTOCONTINUE, IDM_AUTOCONTINUE},
    {TEXT_PRIORITY, IDM_PRIORITY},
};
static const MenuItem help_items[] = {
    {TEXT_ABOUT, IDM_ABOUT},
};

const MenuPopup menu_popups[menu_popup_count] = {
    {TEXT_MENU_QUARN, quarn_items, 4},
    {TEXT_MENU_OPTIONS, options_items, 3},
    {TEXT_MENU_HELP, help_items, 1},
};

char label_mnemonic(const char *label) {
  const char *amp = std::strchr(label, '&');
  if (!amp || !amp[1]) return 0;
  return static_cast<char>(std::tolower(static_cast<unsigned char>(amp[1])));
}

static bool known_command(int32_t command) {
  return command >= first_command && command < first_command + command_count;
}

void menu_init(MenuState *m) {
  for (int i = 0; i < command_count; ++i) m->greyed[i] = m->checked[i] = false;
  m->open = -1;
  m->highlight = 0;
}

void menu_set_greyed(MenuState *m, int32_t command, bool greyed) {
  if (known_command(command)) m->greyed[command - first_command] = greyed;
}

void menu_set_checked(MenuState *m, int32_t command, bool checked) {
  if (known_command(command)) m->checked[command - first_command] = checked;
}

bool menu_greyed(const MenuState &m, int32_t command) {
  return known_command(command) && m.greyed[command - first_command];
}

bool menu_checked(const MenuState &m, int32_t command) {
  return known_command(command) && m.checked[command - first_command];
}

static int lower_of(const KeyPress &k) {
  return k.code >= 32 && k.code < 127 ? std::tolower(k.code) : -1;
}

static int popup_for_letter(int letter) {
  for (int i = 0; i < menu_popup_count; ++i)
    if (label_mnemonic(menu_popups[i].label) == letter) return i;
  return -1;
}

static void open_popup(MenuState *m, int popup) {
  m->open = popup;
  m->highlight = 0;  // as the window's menu, the first item, greyed or not
}

// The next item in direction `step` that is not a separator, wrapping.
static void move_highlight(MenuState *m, int step) {
  const MenuPopup &p = menu_popups[m->open];
  int i = m->highlight;
  for (int n = 0; n < p.count; ++n) {
    i = (i + step + p.count) % p.count;
    if (p.items[i].command != 0) break;
  }
  m->highlight = i;
}

// Chooses an item: a greyed one refuses and leaves the popup open.
static int32_t choose(MenuState *m, const MenuItem &item) {
  if (item.command == 0 || menu_greyed(*m, item.command)) return 0;
  m->open = -1;
  return item.command;
}

int32_t menu_key(MenuState *m, KeyPress k) {
  const int letter = lower_of(k);
  if (m->open < 0) {
    if (k.code == key_f10) open_popup(m, 0);
    else if (k.alt && letter > 0 && popup_for_letter(letter) >= 0) open_popup(m, popup_for_letter(letter));
    return 0;
  }
  const MenuPopup &p = menu_popups[m->open];
  switch (k.code) {
    case key_escape:
    case key_f10: m->open = -1; return 0;
    case key_left: open_popup(m, (m->open + menu_popup_count - 1) % menu_popup_count); return 0;
    case key_right: open_popup(m, (m->open + 1) % menu_popup_count); return 0;
    case key_up: move_highlight(m, -1); return 0;
    case key_down: move_highlight(m, 1); return 0;
    case key_enter: return choose(m, p.items[m->highlight]);
    default: break;
  }
  if (letter <= 0) return 0;
  // Alt with a popup's letter goes to that popup even from inside another.
  if (k.alt && popup_for_letter(letter) >= 0) {
    open_popup(m, popup_for_letter(letter));
    return 0;
  }
  for (int i = 0; i < p.count; ++i) {
    if (p.items[i].command != 0 && label_mnemonic(p.items[i].label) == letter) {
      m->highlight = i;
      return choose(m, p.items[i]);
    }
  }
  return 0;
}

PriorityDialog priority_dialog_open(int32_t choice) {
  if (choice < IDC_PRIORITY_1 || choice > IDC_PRIORITY_AUTO) choice = IDC_PRIORITY_AUTO;
  return PriorityDialog{choice, 0};
}

DialogEnd priority_dialog_key(PriorityDialog *d, KeyPress k) {
  constexpr int buttons = IDC_PRIORITY_AUTO - IDC_PRIORITY_1 + 1;
  const int index = d->checked - IDC_PRIORITY_1;
  switch (k.code) {
    case key_up:
    case key_left:
      d->checked = IDC_PRIORITY_1 + (index + buttons - 1) % buttons;
      d->focus = 0;
      return DialogEnd::none;
    case key_down:
    case key_right:
      d->checked = IDC_PRIORITY_1 + (index + 1) % buttons;
      d->focus = 0;
      return DialogEnd::none;
    case key_tab: d->focus = (d->focus + 1) % 3; return DialogEnd::none;
    case key_backtab: d->focus = (d->focus + 2) % 3; return DialogEnd::none;
    case key_enter: return d->focus == 2 ? DialogEnd::cancel : DialogEnd::ok;
    case key_escape: return DialogEnd::cancel;
    case ' ':
      if (d->focus == 1) return DialogEnd::ok;
      if (d->focus == 2) return DialogEnd::cancel;
      return DialogEnd::none;
    default: break;
  }
  const int letter = lower_of(k);
  if (letter == 'o') return DialogEnd::ok;
  if (letter == 'c') return DialogEnd::cancel;
  return DialogEnd::none;
}

bool about_box_key(KeyPress k) {
  return k.code == key_enter || k.code == key_escape || k.code == ' ' || lower_of(k) == 'o';
}
