/*
 * args.h: parsing the companion tool's numbers and options.
 */
#pragma once

#include <cstdint>
#include <vector>

// A number in decimal or with a 0x prefix in hexadecimal; false for
// anything else (empty, a sign, stray characters, more than 64 bits).
bool parse_u64(const char *text, uint64_t *value);

// A kernel variant's name ("generic", "pentium" or "fast") as its Variant
// value; false for any other text.
bool parse_variant(const char *text, int *variant);

// --- the options of a command ---
// What an option takes: nothing, a number (as parse_u64 reads it), or a text
// the command reads itself.
enum class OptionKind { flag, number, text };

// One option of a command, named in full ("--terms"); parse_command fills in
// the last three fields.
struct CommandOption {
  const char *name;
  OptionKind kind;
  const char *help;  // its line in --help, after the name
  bool given;
  uint64_t number;
  const char *text;
};

// A command of quarn-coord: its name, its synopsis (shown after "usage:
// quarn-coord ", continued lines already indented), what it does (for
// --help), its options, and how many operands it takes (max -1: any).
struct CommandSyntax {
  const char *name;
  const char *synopsis;
  const char *about;
  CommandOption *options;
  int option_count;
  int min_operands;
  int max_operands;
};

enum class ParseOutcome { ok, help_shown, usage_error };

// Reads a command's arguments: "--help" shows the command's help on
// standard output; any other argument beginning with "--" must be one of
// its options by full name (one taking a value takes the next argument as
// it); every other argument is an operand. On a usage error (an unknown
// option, a missing or malformed value, too few or too many operands)
// prints "quarn-coord NAME: why" when there is more to say than the usage,
// then the usage, to standard error.
ParseOutcome parse_command(CommandSyntax *syntax, int argc, char **argv, std::vector<const char *> *operands);

// Prints "usage: quarn-coord SYNOPSIS" to standard error; returns 2, the exit
// status of a usage error.
int command_usage(const CommandSyntax &syntax);

// The exit status for a parse that did not end in ok: 0 after --help, 2
// after a usage error.
inline int parse_exit_status(ParseOutcome outcome) { return outcome == ParseOutcome::help_shown ? 0 : 2; }
