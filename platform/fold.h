/*
 * fold.h: letters folded to lower case as Windows compares file names and
 * profile sections and keys: ASCII only, whatever the locale.
 */
#pragma once

inline char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
