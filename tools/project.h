/*
 * project.h: the commands that run a project on a BOINC server: submit
 * (the work generator), check and compare (the validator's scripts),
 * assimilate (the assimilator's script) and status (a campaign's cover).
 *
 * A work unit of the project is named quarn_<where>_<srt>_<end> (decimal);
 * BOINC names its results <unit>_<k> and their uploaded output files
 * <result>_r<random>_<n>, so every script can tell from a file's name which
 * stretch of which position its lines must cover.
 */
#pragma once

#include <cstdint>
#include <string>

// A project work unit: terms [srt, end) at position where.
struct ProjectUnit {
  uint64_t where;
  uint64_t srt;
  uint64_t end;
};

// The unit's name, "quarn_<where>_<srt>_<end>".
std::string project_unit_name(const ProjectUnit &unit);

// The unit an uploaded output file belongs to, read from its name (the
// folders before it are ignored): "quarn_W_S_E_K_rR_N". False when the
// name has another form.
bool project_unit_of_file(const char *path, ProjectUnit *unit);

// quarn-coord submit WHERE --project DIR [--terms N] [--quorum Q] [--from A] [--to B] [--app NAME]
int submit_main(int argc, char **argv);

// quarn-coord check [--sample K] FILE...: exit 0 valid, 3 transient, 1 invalid
int check_main(int argc, char **argv);

// quarn-coord compare FILE... : two results' files, the first half and the second
int compare_main(int argc, char **argv);

// quarn-coord assimilate --campaign DIR WU_ID FILE... | --campaign DIR --error N WU_NAME WU_ID BATCH
int assimilate_main(int argc, char **argv);

// quarn-coord status DIR [--where W]: exit 0 when every position found is
// complete, 1 while terms are missing or nothing has arrived yet
int status_main(int argc, char **argv);
