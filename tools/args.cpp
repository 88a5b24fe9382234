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

CommandOption *find_option(CommandSpec *spec, const char *name) {
  for (int i = 0; i < spec->option_count; ++i)
    if (!std::strcmp(spec->options[i].name, name)) return &spec->options[i];
  return nullptr;
}

void show_help(const CommandSpec &spec) {
  std::printf("usage: quarn-coord %s\n%s\n", spec.synopsis, spec.about);
  if (spec.option_count) std::printf("options:\n");
  for (int i = 0; i < spec.option_count; ++i) std::printf("  %-16s %s\n", spec.options[i].name, spec.options[i].help);
  std::printf("  %-16s %s\n", "--help", "show this and do nothing else");
}

ParseOutcome usage_error(const CommandSpec &spec, const char *why, const char *what) {
  if (why) std::fprintf(stderr, "quarn-coord %s: %s%s\n", spec.name, what, why);
  command_usage(spec);
  return ParseOutcome::usage_error;
}

}  // namespace

int command_usage(const CommandSpec &spec) {
  std::fprintf(stderr, "usage: quarn-coord %s\n", spec.synopsis);
  return 2;
}

ParseOutcome parse_command(CommandSpec *spec, int argc, char **argv, std::vector<const char *> *operands) {
  for (int i = 0; i < spec->option_count; ++i) {
    spec->options[i].given = false;
    spec->options[i].number = 0;
    spec->options[i].text = nullptr;
  }
  operands->clear();
  for (int i = 0; i < argc; ++i) {
    const char *a = argv[i];
    if (a[0] != '-' || a[1] != '-') {
      operands->push_back(a);
      continue;
    }
    if (!std::strcmp(a, "--help")) {
      show_help(*spec);
      return ParseOutcome::help_shown;
    }
    CommandOption *o = find_option(spec, a);
    if (!o) return usage_error(*spec, a, "unknown option ");
    o->given = true;
    if (o->kind == OptionKind::flag) continue;
    if (i + 1 >= argc || (o->kind == OptionKind::number && !parse_u64(argv[i + 1], &o->number)))
      return usage_error(*spec, o->kind == OptionKind::number ? " needs a number" : " needs a value", a);
    o->text = argv[++i];
  }
  const int n = int(operands->size());
  if (n < spec->min_operands || (spec->max_operands >= 0 && n > spec->max_operands))
    return usage_error(*spec, nullptr, nullptr);
  return ParseOutcome::ok;
}
