/*
 * wine_probe.cpp: a console program that echoes its arguments and exits with
 * the status its first argument names, to check how scripts/wine-run passes
 * both through.
 */
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) std::printf("[%s]\n", argv[i]);
  std::fprintf(stderr, "wine_probe: %d arguments\n", argc - 1);
  return argc > 1 ? std::atoi(argv[1]) : 0;
}
