// options.cpp: --help and --version of the Linux client.
#include "options.h"

#include <cstdio>
#include <cstring>

#include "quarn_version.h"

namespace {

// The manual page is made from this text by help2man: sections are the
// lines ending in ':', options are the indented lines starting with "--".
const char help_text[] =
    "Usage: quarn [--help | --version]\n"
    "Computes shares of Bellard's series for pi, exactly to 128 bits, over the work\n"
    "units in the current folder, with one worker per processor at idle priority.\n"
    "\n"
    "On a terminal quarn opens its full-screen interface: F10, or Alt with the\n"
    "underlined letter, opens the Quarn, Options and Help menus. With its output\n"
    "going to a file or a pipe it runs headless: it starts calculating at once,\n"
    "prints a progress line such as \"12.500000% done,2810.000000MHz\" every 5\n"
    "seconds, and exits when every work unit in the folder is done.\n"
    "\n"
    "SIGINT, SIGTERM and SIGHUP make every worker write its partial result line\n"
    "and save its position in Quarn.ini before quarn exits; started again in the\n"
    "same folder, it resumes there. The exit status is 0 when the work is done,\n"
    "quarn was stopped, or another copy already runs in the folder; 1 when the\n"
    "folder cannot be used or a worker failed; 2 for an argument quarn does not\n"
    "take.\n"
    "\n"
    "Options:\n"
    "  --help       print this help and exit\n"
    "  --version    print the version and exit\n"
    "\n"
    "Files:\n"
    "  Quarn.ini                 settings and the position of every worker, in\n"
    "                            the current folder, which must be writable; a\n"
    "                            second copy started there exits at once\n"
    "  Range*.ini                work units from the project's coordinator,\n"
    "                            imported (and deleted) in name order when the\n"
    "                            current one is done\n"
    "  output0.txt, output1.txt  result lines, one per finished chunk: send a\n"
    "                            file to the project when quarn asks for it\n";

}  // namespace

int console_options(int argc, char **argv) {
  if (argc <= 1) return -1;
  if (argc == 2 && !std::strcmp(argv[1], "--help")) {
    std::fputs(help_text, stdout);
    return 0;
  }
  if (argc == 2 && !std::strcmp(argv[1], "--version")) {
    std::printf("quarn %s\n", QUARN_VERSION);
    return 0;
  }
  std::fprintf(stderr, "quarn: unknown argument '%s'\nUsage: quarn [--help | --version]\n",
               argv[1]);
  return 2;
}
