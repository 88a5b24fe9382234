// boinc_harness.cpp: the BOINC client's side of an application's slot, for tests: init_data.xml written by the client's own writer, and the shared-memory channels through which the client sends heartbeats and suspend, resume, quit and abort, and reads fraction done.
//
// Usage:
//   boinc_harness init-data FILE NCPUS CHECKPOINT_PERIOD
//       writes FILE as the client writes init_data.xml
//   boinc_harness client DIR
//       creates DIR/boinc_mmap_file and serves it until DIR/harness.cmd says
//       "exit" (or an hour passes): a heartbeat every second, each command
//       of DIR/harness.cmd (suspend, resume, quit, abort; the file is
//       deleted once read) sent to the application, and every fraction done
//       the application reports appended to DIR/harness.status.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "app_ipc.h"
#include "parse.h"
#include "shmem.h"

namespace {

int write_init_data(const char *file, double ncpus, double checkpoint_period) {
  APP_INIT_DATA aid;
  aid.clear();
  aid.ncpus = ncpus;
  aid.checkpoint_period = checkpoint_period;
  aid.shmem_seg_name = -1;  // the memory-mapped file of a version 6 client and later
  std::snprintf(aid.app_name, sizeof aid.app_name, "quarn");
  std::snprintf(aid.project_dir, sizeof aid.project_dir, ".");
  FILE *f = std::fopen(file, "w");
  if (!f) return 1;
  const int r = write_init_data_file(f, aid);
  return std::fclose(f) != 0 || r != 0;
}

std::string read_command(const std::string &path) {
  FILE *f = std::fopen(path.c_str(), "r");
  if (!f) return "";
  char buf[64] = {};
  if (!std::fgets(buf, sizeof buf, f)) buf[0] = '\0';
  std::fclose(f);
  std::remove(path.c_str());
  buf[std::strcspn(buf, "\r\n ")] = '\0';
  return buf;
}

int serve(const std::string &dir) {
  SHARED_MEM *shm = nullptr;
  if (create_shmem_mmap((dir + "/boinc_mmap_file").c_str(), sizeof(SHARED_MEM),
                        reinterpret_cast<void **>(&shm)) != 0)
    return 1;
  std::memset(shm, 0, sizeof(SHARED_MEM));
  const std::string cmd_path = dir + "/harness.cmd";
  const std::string status_path = dir + "/harness.status";
  for (int tick = 0; tick < 36000; tick++) {
    if (tick % 10 == 0) shm->heartbeat.send_msg_overwrite("<heartbeat/>");
    const std::string cmd = read_command(cmd_path);
    if (cmd == "exit") return 0;
    if (!cmd.empty()) {
      const std::string msg = "<" + cmd + "/>";
      shm->process_control_request.send_msg_overwrite(msg.c_str());
    }
    char buf[MSG_CHANNEL_SIZE];
    if (shm->app_status.get_msg(buf)) {
      double fraction = -1;
      if (parse_double(buf, "<fraction_done>", fraction)) {
        if (FILE *f = std::fopen(status_path.c_str(), "a")) {
          std::fprintf(f, "%.6f\n", fraction);
          std::fclose(f);
        }
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 5 && std::strcmp(argv[1], "init-data") == 0)
    return write_init_data(argv[2], std::atof(argv[3]), std::atof(argv[4]));
  if (argc == 3 && std::strcmp(argv[1], "client") == 0) return serve(argv[2]);
  std::fprintf(stderr, "usage: boinc_harness init-data FILE NCPUS PERIOD | client DIR\n");
  return 2;
}
