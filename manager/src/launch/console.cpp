#include "console.h"
#include "journal.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
// This C library's header does not declare its functions as C ones.
extern "C" {
#include <sys/pidfd.h>
}
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char **environ;

namespace {

enum class Kind { Other, Database, X };

// A local server's socket is named .s.PGSQL.PORT, the X server's X<n> in
// /tmp/.X11-unix (or the same name in the abstract namespace); over TCP the X
// server listens on 6000 and up, and any other peer is the database.
Kind kind(int fd)
{
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &len) != 0)
        return Kind::Other;
    if (peer.ss_family == AF_UNIX) {
        const auto *un = reinterpret_cast<const sockaddr_un *>(&peer);
        size_t n = len > offsetof(sockaddr_un, sun_path) ? len - offsetof(sockaddr_un, sun_path) : 0;
        auto has = [&](const char *s) { return memmem(un->sun_path, n, s, std::strlen(s)) != nullptr; };
        return has("/.s.PGSQL.") ? Kind::Database : has("/.X11-unix/X") ? Kind::X : Kind::Other;
    }
    if (peer.ss_family != AF_INET && peer.ss_family != AF_INET6)
        return Kind::Other;
    unsigned port = ntohs(peer.ss_family == AF_INET ? reinterpret_cast<sockaddr_in *>(&peer)->sin_port
                                                    : reinterpret_cast<sockaddr_in6 *>(&peer)->sin6_port);
    return port >= 6000 && port < 6100 ? Kind::X : Kind::Database;
}

void close_fd(int &fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

bool gone_within(const Console &c, int ms)
{
    pollfd p{c.pidfd, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
}

} // namespace


bool start_console(Console &c, char **argv)
{
    c = Console{};
    // The keeper ignores SIGPIPE; the program gets it back at its default.
    posix_spawnattr_t attr;
    sigset_t pipe;
    sigemptyset(&pipe), sigaddset(&pipe, SIGPIPE);
    int err = posix_spawnattr_init(&attr);
    if (!err && !(err = posix_spawnattr_setsigdefault(&attr, &pipe)) &&
        !(err = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF)))
        err = posix_spawn(&c.pid, argv[0], nullptr, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    if (err) {
        errno = err;
        return false;
    }
    // Not reaped yet, so the pid is still this child's, for signals and waitpid alike.
    c.child = true;
    c.pidfd = pidfd_open(c.pid, 0);
    if (c.pidfd < 0)
        say(LOG_WARNING, "unable to open a pidfd for console %d (%s): it is held by its pid and runs unkept",
            static_cast<int>(c.pid), std::strerror(errno));
    return true;
}

bool hold_console(Console &c, pid_t pid)
{
    c = Console{};
    c.pid = pid;
    c.pidfd = pidfd_open(pid, 0);
    return c.pidfd >= 0;
}

bool watch_sockets(Console &c) { return take_sockets(c) == Sockets::watched; }

Sockets take_sockets(Console &c)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/fd", static_cast<int>(c.pid));
    DIR *dir = c.pidfd < 0 ? nullptr : opendir(path);
    if (!dir)
        return c.pidfd < 0 ? Sockets::refused : Sockets::gone;
    bool allowed = true;
    while (dirent *e = readdir(dir)) {
        char target[64];
        ssize_t n = readlinkat(dirfd(dir), e->d_name, target, sizeof target - 1);
        if (n < 8 || std::strncmp(target, "socket:", 7) != 0)
            continue;
        int fd = pidfd_getfd(c.pidfd, std::atoi(e->d_name), 0);
        if (fd < 0) {
            allowed = allowed && errno != EPERM;
            continue;
        }
        Kind k = kind(fd);
        int &slot = k == Kind::Database ? c.db : c.x;
        if (k != Kind::Other && slot < 0)
            slot = fd;
        else
            close(fd);
    }
    closedir(dir);
    return allowed ? Sockets::watched : Sockets::refused;
}

bool connection_ended(const Console &c)
{
    pollfd p{c.db, POLLRDHUP, 0};
    return c.db < 0 || (poll(&p, 1, 0) > 0 && p.revents != 0);
}

bool console_ended(const Console &c) { return gone_within(c, 0); }

bool signal_console(const Console &c, int sig)
{
    // An unreaped child's pid cannot have been recycled.
    return c.pidfd >= 0 ? pidfd_send_signal(c.pidfd, sig, nullptr, 0) == 0 : c.child && kill(c.pid, sig) == 0;
}

bool reaped(Console &c, int &status)
{
    if (!c.child || waitpid(c.pid, &status, WNOHANG) != c.pid)
        return false;
    c.child = false;
    release_console(c);
    return true;
}

int release_console(Console &c)
{
    int status = -1;
    if (c.child && waitpid(c.pid, &status, 0) != c.pid)
        status = -1;
    close_fd(c.pidfd), close_fd(c.db), close_fd(c.x);
    c.pid = 0;
    return status;
}

void end_console(Console &c)
{
    // Every duplicate is let go at once: a held one would keep a dead
    // console's connections open.
    close_fd(c.db), close_fd(c.x);
    if (!console_ended(c)) {
        pidfd_send_signal(c.pidfd, SIGTERM, nullptr, 0);
        if (!gone_within(c, 500)) {
            pidfd_send_signal(c.pidfd, SIGKILL, nullptr, 0);
            gone_within(c, 2000);
        }
    }
    release_console(c);
}
