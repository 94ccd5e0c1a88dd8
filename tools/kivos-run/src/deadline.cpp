// The time limit of a run, enforced by a signal that also cuts short any
// host call the stand-in is blocked in; and SIGINT and SIGTERM, which end
// a run the same way when the caller asks for it.
#include "kernel.h"

#include <unistd.h>

namespace kivos {
namespace {

volatile sig_atomic_t g_time_up;
volatile sig_atomic_t g_ending_signal;
void (*volatile g_stop)(void *);
void *volatile g_stop_arg;

void on_alarm(int) {
  g_time_up = 1;
  if (g_stop) g_stop(g_stop_arg);
}

void on_ending_signal(int signal) {
  g_ending_signal = signal;
  if (g_stop) g_stop(g_stop_arg);
}

} // namespace

bool time_up() {
  return g_time_up;
}

int ending_signal() {
  return g_ending_signal;
}

ending_signals::ending_signals(void (*stop)(void *), void *stop_arg) {
  g_ending_signal = 0;
  g_stop_arg = stop_arg;
  g_stop = stop;
  struct sigaction on = {};
  on.sa_handler = on_ending_signal; // no SA_RESTART: blocked calls return EINTR
  sigemptyset(&on.sa_mask);
  sigaction(SIGINT, &on, &before[0]);
  sigaction(SIGTERM, &on, &before[1]);
}

ending_signals::~ending_signals() {
  sigaction(SIGINT, &before[0], nullptr);
  sigaction(SIGTERM, &before[1], nullptr);
}

deadline_alarm::deadline_alarm(const std::chrono::steady_clock::time_point *deadline,
                               void (*stop)(void *), void *stop_arg) {
  g_time_up = 0;
  g_stop_arg = stop_arg;
  g_stop = stop;
  if (!deadline) return;
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
