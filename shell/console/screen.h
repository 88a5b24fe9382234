/*
 * screen.h: the terminal itself, reached through curses: the full-screen
 * mode, keys, the output of drawn frames and the terminal's window title.
 */
#pragma once

#include "tui.h"

// Takes over the terminal: no echo, keys one at a time, no cursor. False
// when the terminal cannot be driven (no usable terminal description).
bool screen_open();
// Gives the terminal back as it was.
void screen_close();

// The next key, waiting at most timeout_ms; key_none when there was none.
// Alt with a key arrives as Escape and the key, and is read as one.
KeyPress screen_read_key(int timeout_ms);

// A canvas over the whole terminal, sized as it is now; cleared.
Canvas screen_begin_frame();
// Puts the frame out, sending only what changed.
void screen_end_frame();

// The terminal's window title, where the terminal has one: the title it
// had is saved, replaced and given back again.
void screen_title_save();
void screen_title_set(const char *text);
void screen_title_restore();
