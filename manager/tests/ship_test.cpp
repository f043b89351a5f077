// Shipping: make install into a staging root, the Debian package, and the
// man page. The installed program is started the way the desktop menu starts
// it and driven through the X server like any other client.
#include "testbed.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace testbed;
namespace fs = std::filesystem;

namespace {

#ifndef PARAM_CONFIG_DEB // configured where dpkg is missing
#define PARAM_CONFIG_DEB ""
#define PARAM_CONFIG_BUILD_DIR ""
#endif

const std::string source_dir = PROJECT_SOURCE_DIR;
const std::string build_dir = PARAM_CONFIG_BUILD_DIR;

struct Shell {
    int status = -1;
    std::string out; // standard output and error together
};

std::string quoted(const std::string &s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs a shell command, killed after `seconds`.
Shell shell(const std::string &command, int seconds = 120)
{
    Shell run;
    std::fflush(stdout);
    std::string line = "timeout -k 5 " + std::to_string(seconds) + " bash -c " + quoted(command) + " 2>&1";
    FILE *pipe = popen(line.c_str(), "r");
    if (!pipe)
        return run;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
        run.out.append(buf, n);
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

void sleep_ms(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Every regular file below `root`, as a path relative to it.
std::set<std::string> files_below(const std::string &root)
{
    std::set<std::string> out;
    if (fs::exists(root))
        for (const auto &e : fs::recursive_directory_iterator(root))
            if (e.is_regular_file())
                out.insert(fs::relative(e.path(), root).string());
    return out;
}

std::map<std::string, std::string> desktop_entry(const std::string &path)
{
    std::map<std::string, std::string> keys;
    std::istringstream in(read_file(path));
    bool in_group = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] == '[')
            in_group = line == "[Desktop Entry]";
        else if (auto eq = line.find('='); in_group && eq != std::string::npos)
            keys[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return keys;
}

// ---- The installed program, seen from outside through the X server ----

class Client {
public:
    Client() : dpy_(XOpenDisplay(nullptr)) {}
    ~Client()
    {
        if (dpy_)
            XCloseDisplay(dpy_);
    }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;
    Display *dpy() const { return dpy_; }

    // A viewable window with this title, searched for until `timeout_ms`.
    Window find(const std::string &title, int timeout_ms = 20000)
    {
        for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
             std::chrono::steady_clock::now() < end; sleep_ms(100))
            if (Window w = search(DefaultRootWindow(dpy_), title))
                return w;
        return 0;
    }

    struct Child {
        Window w;
        int x, y;
    };
    std::vector<Child> children(Window w)
    {
        std::vector<Child> out;
        Window root = 0, parent = 0, *kids = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(dpy_, w, &root, &parent, &kids, &count))
            return out;
        for (unsigned int i = 0; i < count; ++i) {
            XWindowAttributes at;
            if (XGetWindowAttributes(dpy_, kids[i], &at))
                out.push_back({kids[i], at.x, at.y});
        }
        XFree(kids);
        return out;
    }

    // Button 1 at the window's centre, held like a hand holds it.
    void click(Window w)
    {
        XWindowAttributes at;
        XGetWindowAttributes(dpy_, w, &at);
        int x = 0, y = 0;
        Window child;
        XTranslateCoordinates(dpy_, w, DefaultRootWindow(dpy_), at.width / 2, at.height / 2, &x, &y, &child);
        XTestFakeMotionEvent(dpy_, DefaultScreen(dpy_), x, y, CurrentTime);
        XTestFakeButtonEvent(dpy_, 1, True, CurrentTime);
        XFlush(dpy_);
        sleep_ms(300);
        XTestFakeButtonEvent(dpy_, 1, False, CurrentTime);
        XFlush(dpy_);
        sleep_ms(300);
    }

    void key_with_control(KeySym sym)
    {
        KeyCode control = XKeysymToKeycode(dpy_, XK_Control_L), code = XKeysymToKeycode(dpy_, sym);
        XTestFakeKeyEvent(dpy_, control, True, CurrentTime);
        XTestFakeKeyEvent(dpy_, code, True, CurrentTime);
        XTestFakeKeyEvent(dpy_, code, False, CurrentTime);
        XTestFakeKeyEvent(dpy_, control, False, CurrentTime);
        XFlush(dpy_);
        sleep_ms(300);
    }

    // The primary selection as text, as a paste would get it.
    std::string primary_selection()
    {
        Window me = XCreateSimpleWindow(dpy_, DefaultRootWindow(dpy_), 0, 0, 1, 1, 0, 0, 0);
        Atom property = XInternAtom(dpy_, "PARAM_CONFIG_TEST", False);
        XConvertSelection(dpy_, XA_PRIMARY, XA_STRING, property, me, CurrentTime);
        XFlush(dpy_);
        std::string text = "<no answer from the selection owner>";
        for (int i = 0; i < 100; ++i, sleep_ms(50)) {
            XEvent e;
            if (!XCheckTypedWindowEvent(dpy_, me, SelectionNotify, &e))
                continue;
            text = "<no selection>";
            if (e.xselection.property == None)
                break;
            Atom type;
            int format;
            unsigned long items, left;
            unsigned char *data = nullptr;
            if (XGetWindowProperty(dpy_, me, property, 0, 1 << 20, True, AnyPropertyType, &type, &format, &items,
                                   &left, &data) == Success &&
                data) {
                text.assign(reinterpret_cast<char *>(data), items);
                XFree(data);
            }
            break;
        }
        XDestroyWindow(dpy_, me);
        return text;
    }

private:
    Window search(Window w, const std::string &title)
    {
        char *name = nullptr;
        bool match = XFetchName(dpy_, w, &name) && name && title == name;
        XFree(name);
        XWindowAttributes at;
        if (match && XGetWindowAttributes(dpy_, w, &at) && at.map_state == IsViewable)
            return w;
        for (const Child &c : children(w))
            if (Window found = search(c.w, title))
                return found;
        return 0;
    }

    Display *dpy_;
};

// The program as the desktop menu starts it: Exec= run in the Path=
// directory, both taken below `root` (a staging root, or "" for /).
class Launched {
public:
    Launched(const std::string &root, const std::map<std::string, std::string> &entry)
    {
        std::string binary = root + entry.at("Exec"), cwd = root + entry.at("Path");
        std::fflush(stdout);
        pid_ = fork();
        if (pid_ == 0) {
            if (chdir(cwd.c_str()) != 0)
                _exit(126);
            execl(binary.c_str(), binary.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
    }
    ~Launched()
    {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGTERM);
        for (int i = 0; i < 50 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
            sleep_ms(100);
        if (waitpid(pid_, nullptr, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Launched(const Launched &) = delete;
    Launched &operator=(const Launched &) = delete;

private:
    pid_t pid_ = -1;
};

// Starts the program from the desktop entry, presses Help in its menu bar,
// selects all of the help dialog's text and returns it as a paste would.
std::string help_shown_by_desktop_entry(const std::string &root, const std::string &entry_file)
{
    auto entry = desktop_entry(entry_file);
    if (!entry.count("Exec") || !entry.count("Path"))
        return "<no Exec= or Path= in " + entry_file + ">";
    Client x;
    if (!x.dpy())
        return "<no X display>";
    Launched program(root, entry);
    Window shell = x.find("Parameter configuration");
    if (!shell)
        return "<the main window never appeared>";
    // The shell holds the form; the menu bar is the form's topmost child,
    // and Help sits at its right end.
    auto form = x.children(shell);
    if (form.size() != 1)
        return "<unexpected window tree>";
    auto parts = x.children(form[0].w);
    auto bar = std::min_element(parts.begin(), parts.end(), [](auto &a, auto &b) { return a.y < b.y; });
    auto buttons = bar == parts.end() ? parts : x.children(bar->w);
    auto help = std::max_element(buttons.begin(), buttons.end(), [](auto &a, auto &b) { return a.x < b.x; });
    if (help == buttons.end())
        return "<no menu bar buttons>";
    x.click(help->w);
    Window dialog = x.find("Parameter configuration help", 10000);
    if (!dialog)
        return "<the help dialog never appeared>";
    x.click(dialog);
    x.key_with_control(XK_slash); // select all
    return x.primary_selection();
}

// What the help dialog shows of a file: all but its last byte.
std::string shown_of(const std::string &file)
{
    std::string content = read_file(file);
    return content.empty() ? content : content.substr(0, content.size() - 1);
}

// The install manifest in the build directory belongs to whoever ran make
// install there last; it is put back as it was.
class InstallRecordAside {
public:
    InstallRecordAside()
    {
        for (const char *name : names)
            if (fs::exists(build_dir + "/" + name))
                fs::rename(build_dir + "/" + name, build_dir + "/" + name + ".aside");
    }
    ~InstallRecordAside()
    {
        for (const char *name : names) {
            std::string path = build_dir + "/" + name;
            fs::remove(path);
            if (fs::exists(path + ".aside"))
                fs::rename(path + ".aside", path);
        }
    }

private:
    static constexpr const char *names[] = {"install_manifest.txt", "installed-files.txt"};
};

} // namespace

TEST(Install, DestdirTreeDesktopEntryHelpAndUninstall)
{
    TempDir stage;
    ASSERT_FALSE(stage.path().empty());
    InstallRecordAside aside;
    const std::string prefix = "/opt/site-tools";
    const std::string root = stage.path();
    // Someone else's file in a shared directory: uninstall must leave it.
    const std::string other = prefix.substr(1) + "/bin/other-tool";
    fs::create_directories(root + "/" + prefix + "/bin");
    write_file(root + "/" + other, "#!/bin/sh\n");

    Shell install = shell("make -C " + quoted(source_dir) + " install BUILD_DIR=" + quoted(build_dir) +
                            " PREFIX=" + prefix + " DESTDIR=" + quoted(root),
                        300);
    ASSERT_EQ(install.status, 0) << install.out;

    const std::string p = prefix.substr(1) + "/";
    const std::map<std::string, std::string> shipped = {
        {p + "share/param-config/helpfiles/param-config.hlp", "helpfiles/param-config.hlp"},
        {p + "share/man/man1/param-config.1", "doc/param-config.1"},
        {p + "share/param-config/db/schema.sql", "db/schema.sql"},
        {p + "share/param-config/db/role.sql", "db/role.sql"},
        {p + "share/param-config/db/audit.sql", "db/audit.sql"},
    };
    std::set<std::string> expected = {p + "bin/param-config", p + "share/applications/param-config.desktop", other};
    for (const auto &[installed, source] : shipped) {
        expected.insert(installed);
        EXPECT_EQ(read_file(root + "/" + installed), read_file(source_dir + "/" + source)) << installed;
    }
    EXPECT_EQ(files_below(root), expected);
    EXPECT_EQ(access((root + "/" + p + "bin/param-config").c_str(), X_OK), 0);

    const std::string entry_file = root + "/" + p + "share/applications/param-config.desktop";
    Shell validate = shell("desktop-file-validate " + quoted(entry_file));
    EXPECT_EQ(validate.status, 0);
    EXPECT_EQ(validate.out, "");
    auto entry = desktop_entry(entry_file);
    EXPECT_EQ(entry["Exec"], prefix + "/bin/param-config");
    EXPECT_EQ(entry["Path"], prefix + "/share/param-config");

    EXPECT_EQ(help_shown_by_desktop_entry(root, entry_file),
              shown_of(root + "/" + p + "share/param-config/helpfiles/param-config.hlp"));

    Shell uninstall = shell("make -C " + quoted(source_dir) + " uninstall BUILD_DIR=" + quoted(build_dir));
    EXPECT_EQ(uninstall.status, 0) << uninstall.out;
    EXPECT_EQ(files_below(root), std::set<std::string>{other});
    EXPECT_FALSE(exists(root + "/" + p + "share/param-config"));
}

// Installs the package system-wide for the length of the test; a package of
// that name installed before is a user's, and is left alone.
TEST(DebianPackage, InstallsRunsAndPurges)
{
    ASSERT_EQ(geteuid(), 0u) << "installing a package needs root";
    Shell known = shell("dpkg-query -W -f='${db:Status-Abbrev}' param-config");
    ASSERT_NE(known.status, 0) << "a param-config package is already known to dpkg on this machine ("
                               << known.out << "); remove it with 'dpkg --purge param-config' to run this test";

    // Up to date after make check's own make deb; built here otherwise.
    Shell build = shell("cmake --build " + quoted(build_dir) + " --target deb", 900);
    ASSERT_EQ(build.status, 0) << build.out;
    const std::string deb = PARAM_CONFIG_DEB;
    ASSERT_TRUE(exists(deb)) << deb;

    struct Purge {
        ~Purge()
        {
            Shell r = shell("dpkg --purge param-config");
            EXPECT_EQ(r.status, 0) << r.out;
            EXPECT_NE(shell("dpkg-query -W param-config").status, 0) << "still known to dpkg after the purge";
        }
    } purge;
    Shell install = shell("dpkg -i " + quoted(deb), 120);
    ASSERT_EQ(install.status, 0) << install.out;

    for (const char *path : {"/usr/bin/param-config", "/usr/share/param-config/helpfiles/param-config.hlp",
                             "/usr/share/man/man1/param-config.1.gz", "/usr/share/applications/param-config.desktop",
                             "/usr/share/param-config/db/schema.sql", "/usr/share/param-config/db/role.sql",
                             "/usr/share/param-config/db/audit.sql"})
        EXPECT_TRUE(exists(path)) << path;

    // Every library the binary links against comes from a package it
    // depends on.
    std::set<std::string> depends;
    std::istringstream fields(shell("dpkg-query -W -f='${Depends}' param-config | sed 's/([^)]*)//g; s/[,|]/\\n/g'").out);
    for (std::string name; fields >> name;)
        depends.insert(name);
    Shell needed = shell("objdump -p /usr/bin/param-config | awk '$1 == \"NEEDED\" { print $2 }'");
    ASSERT_EQ(needed.status, 0) << needed.out;
    std::istringstream libraries(needed.out);
    int count = 0;
    for (std::string soname; std::getline(libraries, soname); ++count) {
        Shell owner = shell("dpkg -S " + quoted("*/" + soname) + " | cut -d: -f1 | sort -u");
        std::istringstream packages(owner.out);
        bool listed = false;
        for (std::string package; packages >> package;)
            listed |= depends.count(package) > 0;
        EXPECT_TRUE(listed) << soname << " (from " << owner.out << ") is not among the dependencies";
    }
    EXPECT_GE(count, 4) << needed.out;
    EXPECT_EQ(shell("ldd /usr/bin/param-config | grep -c 'not found'").out, "0\n");

    EXPECT_EQ(help_shown_by_desktop_entry("", "/usr/share/applications/param-config.desktop"),
              shown_of("/usr/share/param-config/helpfiles/param-config.hlp"));

    Shell man = shell("man --warnings param-config 2>&1 >/dev/null; man param-config 2>/dev/null | head -n 5 | tr -s ' \\n' ' '");
    EXPECT_NE(man.out.find("NAME param-config - set the site parameters"), std::string::npos) << man.out;
    EXPECT_EQ(man.out.find("warning"), std::string::npos) << man.out;
}

// The page renders without a warning, and every message the program can
// give (each printf-style text in its sources) is explained there.
TEST(ManPage, CleanAndNamesEveryMessage)
{
    const std::string page = source_dir + "/doc/param-config.1";
    Shell warnings = shell("man --warnings -l " + quoted(page) + " 2>&1 >/dev/null");
    EXPECT_EQ(warnings.status, 0);
    EXPECT_EQ(warnings.out, "");

    auto words = [](const std::string &s) { return std::regex_replace(s, std::regex("\\s+"), " "); };
    Shell rendered = shell("MANWIDTH=80 man -l " + quoted(page) + " 2>/dev/null");
    ASSERT_EQ(rendered.status, 0);
    const std::string text = words(rendered.out);

    const std::regex call(R"((db_print_msg|printf)\("((?:[^"\\]|\\.)*)\")");
    const std::regex conversion(R"(%-?[0-9]*[sd])");
    const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    std::set<std::string> messages;
    for (const auto &file : fs::directory_iterator(source_dir + "/manager/src")) {
        const std::string source = read_file(file.path());
        for (std::sregex_iterator m(source.begin(), source.end(), call), end; m != end; ++m) {
            std::string message = std::regex_replace((*m)[2].str(), std::regex(R"(\\n$)"), "");
            if (!std::regex_match(message, conversion)) // a bare "%s" copies, it says nothing
                messages.insert(message);
        }
    }
    for (const std::string &message : messages) {
        std::string pattern = std::regex_replace(words(message), special, "\\$&");
        pattern = std::regex_replace(pattern, conversion, "\\S+");
        EXPECT_TRUE(std::regex_search(text, std::regex(pattern))) << "\"" << message << "\" is not in the man page";
    }
    EXPECT_GE(messages.size(), 18u);
}
