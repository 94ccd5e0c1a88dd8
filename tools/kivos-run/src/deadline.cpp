// The time limit of a run, enforced by a signal that also cuts short any
// host call the stand-in is blocked in.
#include "kernel.h"

#include <unistd.h>

namespace kivos {
namespace {

volatile sig_atomic_t g_time_up;
void (*volatile g_stop)(void *);
void *volatile g_stop_arg;

void on_alarm(int) {
  g_time_up = 1;
  if (g_stop) g_stop(g_stop_arg);
}

} // namespace

bool time_up() {
  return g_time_up;
}

deadline_alarm::deadline_alarm(const std::chrono::steady_clock::time_point *deadline,
                               void (*stop)(void *), void *stop_arg) {
  g_time_up = 0;
  if (!deadline) return;
  g_stop_arg = stop_arg;
  g_stop = stop;
  struct sigaction on = {};
  on.sa_handler = on_alarm; // no SA_RESTART: blocked calls return EINTR
  sigemptyset(&on.sa_mask);
  sigaction(SIGALRM, &on, &before);
  sigevent ev = {};
  ev.sigev_notify = SIGEV_THREAD_ID;
  ev.sigev_signo = SIGALRM;
  ev._sigev_un._tid = gettid(); // this thread, the one that serves the traps
  if (timer_create(CLOCK_MONOTONIC, &ev, &timer) != 0) return;
  auto ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(deadline->time_since_epoch()).count();
  itimerspec when = {};
  when.it_value = {time_t(ns / 1000000000), long(ns % 1000000000)};
  when.it_interval = {0, 20000000};
  armed = timer_settime(timer, TIMER_ABSTIME, &when, nullptr) == 0;
}

deadline_alarm::~deadline_alarm() {
  if (armed) timer_delete(timer);
  if (armed) sigaction(SIGALRM, &before, nullptr);
  g_stop = nullptr;
  g_time_up = 0;
}

} // namespace kivos
