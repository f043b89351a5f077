#include "service.h"

#include "journal.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

bool has_section(const char *path)
{
    std::FILE *f = std::fopen(path, "r");
    if (!f && errno != ENOENT)
        say(LOG_WARNING, "can't read %s: %s", path, std::strerror(errno));
    if (!f)
        return false;
    bool found = false;
    for (char line[512]; !found && std::fgets(line, sizeof line, f);) {
        char name[64] = "";
        found = std::sscanf(line, " [%63[^]]] ", name) == 1 && std::strcmp(name, "param-config") == 0;
    }
    std::fclose(f);
    return found;
}

} // namespace

// libpq looks in PGSERVICEFILE or else ~/.pg_service.conf, then in the
// system-wide file: a site's [param-config] section there is taken. A
// console's own choice stands: a service's host would beat its PGHOST.
void choose_service()
{
    for (const char *own : {"PGSERVICE", "PGHOST"})
        if (std::getenv(own))
            return;
    char user[PATH_MAX] = "", system[PATH_MAX];
    const char *file = std::getenv("PGSERVICEFILE"), *home = std::getenv("HOME");
    if (!file && home)
        std::snprintf(user, sizeof user, "%s/.pg_service.conf", home), file = user;
    const char *dir = std::getenv("PGSYSCONFDIR");
    std::snprintf(system, sizeof system, "%s/pg_service.conf", dir ? dir : "/etc/postgresql-common");
    if (((file && has_section(file)) || has_section(system)) && setenv("PGSERVICE", "param-config", 1) != 0)
        say(LOG_WARNING, "can't set PGSERVICE: %s", std::strerror(errno));
}
