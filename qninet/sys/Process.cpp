#include "qninet/sys/Process.h"

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

extern char** environ;

namespace qninet::sys {

namespace {

int spawn(const std::vector<std::string>& argv, bool idle, pid_t& pid) {
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  short flags = POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  if (idle) {
    // SCHED_IDLE is the counterpart of an idle priority class; an unprivileged process may
    // choose it for its child.
    flags |= POSIX_SPAWN_SETSCHEDULER;
    posix_spawnattr_setschedpolicy(&attr, SCHED_IDLE);
    sched_param param{};
    param.sched_priority = 0;
    posix_spawnattr_setschedparam(&attr, &param);
  }
  posix_spawnattr_setflags(&attr, flags);
  const int rc = posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return rc;
}

}  // namespace

bool start_detached_process(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].empty()) return false;
  pid_t pid = -1;
  if (spawn(argv, true, pid) != 0 && spawn(argv, false, pid) != 0) return false;
  std::thread([pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

}  // namespace qninet::sys
