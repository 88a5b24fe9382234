// boinc_harness.cpp: the BOINC client's side of an application's slot, for tests: init_data.xml written by the client's own writer, and the shared-memory channels through which the client sends heartbeats and suspend, resume, quit and abort, and reads fraction done.
//
// Usage:
//   boinc_harness init-data FILE NCPUS CHECKPOINT_PERIOD
//       writes FILE as the client writes init_data.xml
//   boinc_harness client DIR NCPUS CHECKPOINT_PERIOD
//       writes DIR/init_data.xml naming itself as the client (the API ends
//       the application when the client's process is gone), creates the
//       shared memory (DIR/boinc_mmap_file; on Windows the named mapping
//       "shm_" plus the segment name init_data.xml gives), says so by
//       creating DIR/harness.ready, and serves it until DIR/harness.cmd says
//       "exit" (or an hour passes): a heartbeat every second, each command
//       of DIR/harness.cmd (suspend, resume, quit, abort; the file is
//       deleted once read) sent to the application, and every fraction done
//       the application reports appended to DIR/harness.status, and the last
//       floating-point work it reported ("fpops_cumulative") in
//       DIR/harness.fpops.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#ifndef _WIN32
#include <chrono>
#include <thread>
#endif

#include <unistd.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include "app_ipc.h"
#include "parse.h"
#include "shmem.h"

namespace {

#ifdef _WIN32
// The name of the Windows shared memory segment; init_data.xml carries it
// without the API's "shm_" prefix.
std::string segment_name() { return "quarn_harness_" + std::to_string(getpid()); }
#endif

int write_init_data(const std::string &file, double ncpus, double checkpoint_period) {
  // The values the client sets for a task it starts (client/app_start.cpp).
  APP_INIT_DATA aid;
  aid.clear();
  aid.major_version = 7;
  aid.minor_version = 20;
  aid.release = 5;
  aid.app_version = 510;
  aid.slot = 0;
  aid.client_pid = getpid();
  aid.resource_share_fraction = 1;
  aid.gpu_device_num = -1;
  aid.gpu_opencl_dev_index = -1;
  aid.ncpus = ncpus;
  aid.checkpoint_period = checkpoint_period;
  aid.fraction_done_start = 0;
  aid.fraction_done_end = 1;
#ifdef _WIN32
  std::snprintf(aid.shmem_seg_name, sizeof aid.shmem_seg_name, "%s", segment_name().c_str());
#else
  aid.shmem_seg_name = -1;  // the memory-mapped file of a version 6 client and later
#endif
  std::snprintf(aid.app_name, sizeof aid.app_name, "quarn");
  std::snprintf(aid.project_dir, sizeof aid.project_dir, ".");
  FILE *f = std::fopen(file.c_str(), "w");
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

int serve(const std::string &dir, double ncpus, double checkpoint_period) {
  if (write_init_data(dir + "/init_data.xml", ncpus, checkpoint_period) != 0) return 1;
  SHARED_MEM *shm = nullptr;
#ifdef _WIN32
  // The mapping lives as long as this process holds its handle.
  const std::string name = SHM_PREFIX + segment_name();
  if (!create_shmem(name.c_str(), sizeof(SHARED_MEM), reinterpret_cast<void **>(&shm)) || !shm) {
    std::fprintf(stderr, "boinc_harness: cannot create the mapping %s (error %lu)\n", name.c_str(),
                 static_cast<unsigned long>(GetLastError()));
    return 1;
  }
#else
  // Made whole under another name and then renamed, so that an
  // application that finds the file finds it at its full size.
  const std::string made = dir + "/boinc_mmap_file.new";
  if (create_shmem_mmap(made.c_str(), sizeof(SHARED_MEM), reinterpret_cast<void **>(&shm)) != 0)
    return 1;
  if (std::rename(made.c_str(), (dir + "/boinc_mmap_file").c_str()) != 0) return 1;
#endif
  std::memset(shm, 0, sizeof(SHARED_MEM));
  if (FILE *f = std::fopen((dir + "/harness.ready").c_str(), "w")) {
    std::fclose(f);
  } else {
    return 1;
  }
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
      double fraction = -1, fpops = 0;
      if (parse_double(buf, "<fpops_cumulative>", fpops)) {
        // Binary mode: the same lines, without carriage returns, on Windows.
        if (FILE *f = std::fopen((dir + "/harness.fpops").c_str(), "wb")) {
          std::fprintf(f, "%.0f\n", fpops);
          std::fclose(f);
        }
      }
      if (parse_double(buf, "<fraction_done>", fraction)) {
        if (FILE *f = std::fopen(status_path.c_str(), "ab")) {
          std::fprintf(f, "%.6f\n", fraction);
          std::fclose(f);
        }
      }
    }
#ifdef _WIN32
    Sleep(100);  // MinGW's win32 thread model has no std::this_thread
#else
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
#endif
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 5 && std::strcmp(argv[1], "init-data") == 0)
    return write_init_data(argv[2], std::atof(argv[3]), std::atof(argv[4]));
  if (argc == 5 && std::strcmp(argv[1], "client") == 0)
    return serve(argv[2], std::atof(argv[3]), std::atof(argv[4]));
  std::fprintf(stderr, "usage: boinc_harness init-data FILE NCPUS PERIOD | client DIR NCPUS PERIOD\n");
  return 2;
}
