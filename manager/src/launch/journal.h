// What the launcher and its keeper say, the bounds they read and the clock
// those bounds run on: one helper each, for both processes.
#pragma once

#include <syslog.h>

// One line under the launcher's name, on standard error and in the system
// log (syslog(3), facility user); returns false, so that a failed call reads
// `return say(...)`.
bool say(int priority, const char *format, ...) __attribute__((format(printf, 2, 3)));
// `ok`, or a warning naming what was tried and errno's reason.
bool check(bool ok, const char *tried);
// A bound in whole seconds from the environment, or its default.
int seconds(const char *name, int fallback);
// Milliseconds of the monotonic clock.
long now_ms();
