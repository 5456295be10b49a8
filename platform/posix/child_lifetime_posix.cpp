#include "platform/child_lifetime.h"

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace platform {

// This process becomes the leader of a process group of its own, which
// everything it starts joins, and a small warden (a fork of it) waits in that
// group for this process to end; then it ends the whole group, itself
// included. The warden keeps no descriptor of ours, so no pipe or socket
// stays open through it.
bool EndChildrenWithUs() {
  const pid_t self = getpid();
  if (getpgrp() != self && setpgid(0, 0) != 0) return false;
  // Never arm the warden on a group that is not ours alone: it would end the
  // caller's own group.
  if (getpgrp() != self) return false;

  sigset_t wake;
  sigemptyset(&wake);
  sigaddset(&wake, SIGTERM);
  sigset_t previous;
  if (pthread_sigmask(SIG_BLOCK, &wake, &previous) != 0) return false;
  const pid_t warden = fork();
  if (warden == 0) {
    close_range(3, ~0u, 0);
    prctl(PR_SET_NAME, "tev-warden");
    if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0) _exit(1);
    // Until the parent is really gone: a SIGTERM sent by anyone else to the
    // group while it runs is no reason to end it.
    while (getppid() == self) {
      siginfo_t info;
      sigwaitinfo(&wake, &info);
    }
    kill(0, SIGKILL);
    _exit(0);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return warden > 0;
}

}  // namespace platform
