/*
 * state_grammar.h: the state file as the client writes it, read strictly, so
 * that a test can tell a file torn or damaged by a kill or a failed write
 * from one that is merely unusual.
 */
#pragma once

#include <map>
#include <string>
#include <vector>

// One section of the state file and its keys with their texts.
struct StateSection {
  std::string name;
  std::map<std::string, std::string> keys;
};

// Parses the whole text: CR LF after every line, section headers [Main] and
// [Thread<n>] once each, only the keys the client writes, once each, with
// values in their written form, and blank lines. False with *why naming the
// first offending line otherwise.
bool parse_state(const std::string &text, std::vector<StateSection> *sections, std::string *why);
