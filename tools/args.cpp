/*
 * args.cpp: number parsing and the one option parser of the companion tool.
 */
#include "args.h"

#include <cstdio>
#include <cstring>

#include "hex_text.h"
#include "kernel.h"

bool parse_u64(const char *text, uint64_t *value) {
  if (!text || !*text) return false;
  unsigned base = 10;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text += 2;
    if (!*text) return false;
  }
  uint64_t v = 0;
  for (; *text; ++text) {
    const int h = hex_value(*text);
    if (h < 0 || unsigned(h) >= base) return false;
    const unsigned d = unsigned(h);
    if (v > (UINT64_MAX - d) / base) return false;
    v = v * base + d;
  }
  *value = v;
  return true;
}

bool parse_variant(const char *text, int *variant) {
  static const Variant variants[] = {Variant::generic, Variant::pentium, Variant::fast};
  for (Variant v : variants) {
    if (text && std::strcmp(text, variant_name(v)) == 0) {
      *variant = int(v);
      return true;
    }
  }
  return false;
}

namespace {

CommandOption *find_option(CommandSyntax *syntax, const char *name) {
  for (int i = 0; i < syntax->option_count; ++i)
    if (!std::strcmp(syntax->options[i].name, name)) return &syntax->options[i];
  return nullptr;
}

void show_help(const CommandSyntax &syntax) {
  std::printf("usage: quarn-coord %s\n%s\n", syntax.synopsis, syntax.about);
  if (syntax.option_count) std::printf("options:\n");
  for (int i = 0; i < syntax.option_count; ++i) std::printf("  %-16s %s\n", syntax.options[i].name, syntax.options[i].help);
  std::printf("  %-16s %s\n", "--help", "show this and do nothing else");
}

ParseOutcome usage_error(const CommandSyntax &syntax, const char *why, const char *what) {
  if (why) std::fprintf(stderr, "quarn-coord %s: %s%s\n", syntax.name, what, why);
  command_usage(syntax);
  return ParseOutcome::usage_error;
}

}  // namespace

int command_usage(const CommandSyntax &syntax) {
  std::fprintf(stderr, "usage: quarn-coord %s\n", syntax.synopsis);
  return 2;
}

ParseOutcome parse_command(CommandSyntax *syntax, int argc, char **argv, std::vector<const char *> *operands) {
  for (int i = 0; i < syntax->option_count; ++i) {
    syntax->options[i].given = false;
    syntax->options[i].number = 0;
    syntax->options[i].text = nullptr;
  }
  operands->clear();
  for (int i = 0; i < argc; ++i) {
    const char *a = argv[i];
    if (a[0] != '-' || a[1] != '-') {
      operands->push_back(a);
      continue;
    }
    if (!std::strcmp(a, "--help")) {
      show_help(*syntax);
      return ParseOutcome::help_shown;
    }
    CommandOption *o = find_option(syntax, a);
    if (!o) return usage_error(*syntax, a, "unknown option ");
    o->given = true;
    if (o->kind == OptionKind::flag) continue;
    if (i + 1 >= argc || (o->kind == OptionKind::number && !parse_u64(argv[i + 1], &o->number)))
      return usage_error(*syntax, o->kind == OptionKind::number ? " needs a number" : " needs a value", a);
    o->text = argv[++i];
  }
  const int n = int(operands->size());
  if (n < syntax->min_operands || (syntax->max_operands >= 0 && n > syntax->max_operands))
    return usage_error(*syntax, nullptr, nullptr);
  return ParseOutcome::ok;
}
