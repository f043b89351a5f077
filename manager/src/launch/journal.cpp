#include "journal.h"

#include <time.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool say(int priority, const char *format, ...)
{
    char line[512];
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::fprintf(stderr, "param-config-launch: %s\n", line);
    syslog(priority, "%s", line);
    return false;
}

bool check(bool ok, const char *tried)
{
    return ok || say(LOG_WARNING, "unable to %s: %s", tried, std::strerror(errno));
}

int seconds(const char *name, int fallback)
{
    const char *v = std::getenv(name);
    int n = v ? std::atoi(v) : 0;
    return n > 0 ? n : fallback;
}

long now_ms()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000L + t.tv_nsec / 1000000;
}
