// Start-up as a supervisor meets it: the window without a stored row, a
// connection lost under the running program, the menu entry's launcher, the
// database host vanishing under it, and the waits of the service file as
// shipped. (The handler table starts from a stored row; startup.sh has the
// failures on standard output with their exit statuses.)
#include "testbed.h"

#include <ecpglib.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <map>

using namespace testbed;

// With no parameters row the sliders show the gas values' initial 30 and 100
// and the scales their minimum. Then the server ends the program's session:
// every handler still returns, only the gas save (the one that checks)
// reports it, and the window stays.
TEST(Startup, NoRowThenTheSessionEndedUnderTheProgram)
{
    reset_database("delete from parameters");
    with_program([] {
        EXPECT_EQ(sliders(), (std::vector<std::string>{"3.0", "10.0", "1", "1", "1", "1"}));
        sql(std::string("select pg_terminate_backend(pid) from pg_stat_activity where application_name = '") +
            program_app + "'");
        type(db_opname_i, "ab"), type(db_pwd_i, "pw"), type(db_conf_pwd_i, "pw");
        for (Widget w : {db_list_b, db_add_b, db_remove_b, db_read_conf_pwd_b, db_conf_pwd_b, db_save_b})
            click(w);
        choose(db_vac_press_unit_sel, db_vac_press_kpa);
        save_gas();
        EXPECT_EQ(text(db_msg_t), "Operator ab is added to database.\nOperator ab was not found.\n"
                                  "Configuration password pw is set in database.\nDatabase problem -400\n");
        EXPECT_EQ(text(db_list_t), "Configuration password: \n");
        EXPECT_TRUE(viewable(db_dummy_f));
    });
}

// The menu entry's launcher: with no program running it starts one, connected
// where its PGHOST says though the site's service names another host (taken
// without PGHOST); after the window manager's close request it shows the same
// window of the same process on the same connection again; two launchers at
// once start one program. Then the server held from the console's first
// window on, as a window manager placing it by hand holds it: each launcher
// ends at its bound, saying why, and the console shows once it is let go, a
// pick then showing it.
TEST(Startup, LauncherStartsOneProgramAndShowsItsWindowAgain)
{
    Subreaper leftovers; // what the launchers left running, "PID " each (the keepers)
    const std::string service = "/tmp/param-config-service." + std::to_string(getpid());
    EXPECT_EQ(std::system(("printf '[param-config]\\nhost=/nonexistent\\n' >" + service).c_str()), 0);
    using Clock = std::chrono::steady_clock;
    struct Run { std::FILE *p; Clock::time_point start; std::string err; };
    auto go = [&, n = 0](const std::string &env) mutable { // its standard error in a file of its own
        const std::string err = service + "." + std::to_string(++n);
        return Run{popen(("exec timeout 5 env " + env + " PGUSER=clerk PGSERVICEFILE=" + service + " " PARAM_CONFIG_DIR
                          "/param-config-launch >/dev/null 2>" + err).c_str(), "r"), Clock::now(), err};
    };
    auto done = [](Run r, const std::string &said = "", double after = 0) { // its exit status
        const int status = WEXITSTATUS(pclose(r.p));
        const double took = std::chrono::duration<double>(Clock::now() - r.start).count();
        EXPECT_TRUE((!after || (took > after && took < after + 0.6)) && read_file(r.err).find(said) != r.err.npos)
            << took << " s: " << read_file(r.err);
        return std::remove(r.err.c_str()), status;
    };
    auto connections = [](const std::string &app) {
        return sql("select count(*) from pg_stat_activity where application_name = '" + app + "'");
    };
    EXPECT_EQ(done(go("-u PGHOST PGAPPNAME=first"), "\"/nonexistent/.s.PGSQL."), 1);
    leftovers.end();
    Display *d = XOpenDisplay(nullptr);
    XSetErrorHandler([](Display *, XErrorEvent *) { return 0; }); // a window not found fails a check, not the binary
    EXPECT_TRUE(done(go("PGAPPNAME=first")) == 0 && connections("first") == "1");
    const std::string first = leftovers.children();
    std::FILE *p = popen("xdotool search --name '^Parameter configuration$'", "r");
    Window w = 0;
    EXPECT_EQ(std::fscanf(p, "%lu", &w), 1);
    pclose(p);
    auto up = [&](Window x) { XWindowAttributes a; return XGetWindowAttributes(d, x, &a) && a.map_state == IsViewable; };
    auto within = [](double s, auto done) { // polled every millisecond
        for (auto end = Clock::now() + std::chrono::duration<double>(s); !done(); usleep(1000))
            if (Clock::now() > end) return false;
        return true;
    };
    XEvent close{.xclient = {ClientMessage, 0, False, d, w, XInternAtom(d, "WM_PROTOCOLS", False), 32,
                             {.l = {static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False))}}}};
    EXPECT_TRUE(up(w) && XSendEvent(d, w, False, NoEventMask, &close));
    EXPECT_TRUE(within(3, [&] { return !up(w); }));
    EXPECT_TRUE(done(go("PGAPPNAME=first")) == 0 && connections("first") == "1" && up(w));
    EXPECT_TRUE(std::ranges::count(first, ' ') == 1 && leftovers.children() == first) << first;
    leftovers.end();
    Run both[] = {go("PGAPPNAME=both"), go("PGAPPNAME=both")}; // two at once
    EXPECT_TRUE(done(both[0]) == 0 && done(both[1]) == 0 && connections("both") == "1");
    EXPECT_EQ(std::ranges::count(leftovers.children(), ' '), 1) << leftovers.children();
    leftovers.end();
    // One launcher waits for its console's window, a second for its lock; a
    // third starts while the server is held and finds the lock taken once it
    // is let go.
    const Window root = DefaultRootWindow(d), other = XCreateSimpleWindow(d, root, 0, 0, 1, 1, 0, 0, 0);
    const Atom lock = XInternAtom(d, "_PARAM_CONFIG_LAUNCH", False);
    XSelectInput(d, root, SubstructureNotifyMask), XSync(d, False);
    const Run placed = go("PARAM_CONFIG_SHOW_SECONDS=1");
    EXPECT_TRUE(within(3, [&] { return XGetSelectionOwner(d, lock) != None; }));
    const Run waiting = go("PARAM_CONFIG_LOCK_SECONDS=1");
    EXPECT_TRUE(within(3, [&, e = XEvent{}]() mutable { return XCheckTypedWindowEvent(d, root, CreateNotify, &e) &&
                                       e.xcreatewindow.width > 1 && !e.xcreatewindow.override_redirect; }));
    XGrabServer(d), XSync(d, False), usleep(500000);
    const Run late = go("PARAM_CONFIG_LOCK_SECONDS=1");
    EXPECT_EQ(done(placed, "console's window did not show within 1 s; it goes on starting under its keeper", .9), 5);
    EXPECT_EQ(done(waiting, "the X server did not answer within 1 s while the launcher waited for its lock; another "
                            "client may hold it, as a window manager does while a window is placed by hand", 1), 3);
    XSetSelectionOwner(d, lock, other, CurrentTime), XUngrabServer(d), XSync(d, False);
    EXPECT_EQ(done(late, "another launch, or a keeper starting its console again, held the lock for 1 s; nothing was "
                         "started", 0.9), 4);
    EXPECT_TRUE(within(3, [] { return !std::system("xdotool search --onlyvisible --name ^Param >/dev/null"); }));
    XDestroyWindow(d, other), XSync(d, False); // the lock free again: a pick shows that console
    EXPECT_EQ(done(go("PARAM_CONFIG_LOCK_SECONDS=1")), 0);
    // The first launcher gave up waiting: its keeper, told nothing more, still keeps that console.
    EXPECT_NE(Subreaper::children(std::atoi(leftovers.children().c_str())), "") << leftovers.children();
    XCloseDisplay(d), XSetErrorHandler(nullptr), std::remove(service.c_str());
}

// The database host vanishes (its network drops every packet) just before
// Save: with the service file's settings in effect (their waits shortened for
// the run), Save gives up within the bound and stores nothing; the process
// lives, and its window answers the next action, whose gas save reports the
// connection gone.
TEST(Startup, HostVanishedUnderTheProgram)
{
    reset_database("update parameters set tracer_save_days = 7, net_save_days = 8");
    const std::string net = "/proc/" + std::string(std::getenv("TESTBED_PG_NETNS")) + "/ns/net";
    with_program([] {
        const std::string file = "\n" + read_file(std::getenv("PGSERVICEFILE"));
        PQconninfoOption *in_effect = PQconninfo(ECPGget_PGconn(nullptr));
        for (PQconninfoOption *o = in_effect; o->keyword; ++o) // what the file sets is what the connection has
            EXPECT_EQ(file.find("\n" + std::string(o->keyword) + "="),
                      file.find("\n" + std::string(o->keyword) + "=" + (o->val ? o->val : "") + "\n")) << o->keyword;
        PQconninfoFree(in_effect);
        ASSERT_EQ(std::system("ip link set lo down"), 0);
        const auto start = std::chrono::steady_clock::now();
        click(db_save_b);
        save_gas();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
        EXPECT_EQ(std::system("ip link set lo up"), 0);
        EXPECT_EQ(text(db_msg_t), "Database problem -400\n");
    }, {"TESTBED_JOIN_NET", net, "PGHOST", "127.0.0.1", "PGSERVICE", "param-config"});
    EXPECT_EQ(sql("select tracer_save_days, net_save_days from parameters"), "7|8");
}

// The service file as it ships, its waits not shortened: a statement waits
// about 3 s for a lock another session holds, and every other wait is as
// bounded as the file's comments say: 5 s to connect to a host, a vanished
// host given up within 11 s idle or 10 s sending, a statement within 3.5 s.
TEST(Startup, ShippedServiceFileBoundsEveryWait)
{
    reset_database(), sql("begin; lock operator_list in access exclusive mode"); // start-up reads parameters
    with_program([] {
        PGconn *conn = ECPGget_PGconn(nullptr);
        std::map<std::string, int> set;
        PQconninfoOption *in_effect = PQconninfo(conn);
        for (PQconninfoOption *o = in_effect; o->keyword; ++o)
            set[o->keyword] = o->val ? std::atoi(o->val) : 0;
        PQconninfoFree(in_effect);
        const int idle = set["keepalives_idle"], every = set["keepalives_interval"], count = set["keepalives_count"];
        EXPECT_TRUE(set["connect_timeout"] > 0 && set["connect_timeout"] <= 5 && set["tcp_user_timeout"] > 0 &&
                    set["tcp_user_timeout"] <= 10000 && set["keepalives"] == 1 && idle > 0 && every > 0 &&
                    count > 0 && idle + every * count <= 11);
        PGresult *r = PQexec(conn, "select current_setting('statement_timeout')::interval between "
                                   "current_setting('lock_timeout')::interval + '1ms' and '3.5s'");
        EXPECT_EQ(std::string(PQgetvalue(r, 0, 0)), "t");
        PQclear(r);
        const auto start = std::chrono::steady_clock::now();
        click(db_list_b);
        const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - start;
        EXPECT_TRUE(waited.count() > 2.8 && waited.count() < 3.6) << waited.count();
    }, {"PGSERVICEFILE", PROJECT_SOURCE_DIR "/db/pg_service.conf", "PGSERVICE", "param-config"});
    sql("commit");
}
