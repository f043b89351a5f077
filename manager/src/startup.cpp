#include "startup.h"

#include "callbacks.h"
#include "message_pane.h"
#include "store.h"
#include "widgets.h"

#include <Xm/RepType.h>
#include <Xm/Xm.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

XtAppContext app_context;
Display *display;
int db_gas_mix_value = 30;
int db_gas_pressure_value = 100;

namespace {

// The causes of a failed first read that a site can put right, by SQLSTATE.
struct FailureHint {
    std::string_view sqlstate;
    const char *text;
};
constexpr FailureHint failure_hints[] = {
    {"42501", "this login is not a member of the tool's role param_config, or the role lacks its rights"},
    {"42P01", "the tables of kelvaron are missing"},
    {"21000", "the table parameters holds more than one row"},
};

const char *failure_hint(std::string_view sqlstate)
{
    for (const FailureHint &hint : failure_hints)
        if (hint.sqlstate == sqlstate)
            return hint.text;
    return nullptr;
}

} // namespace

void startup(int &argc, char **argv)
{
    XtSetLanguageProc(nullptr, nullptr, nullptr);
    XtToolkitInitialize();
    app_context = XtCreateApplicationContext();
    display = XtOpenDisplay(app_context, nullptr, argv[0], "param-config", nullptr, 0, &argc, argv);
    if (!display) {
        std::printf("%s: can't open display, exiting...\n", argv[0]);
        std::exit(-1);
    }
    XmRepTypeInstallTearOffModelConverter();

    create_db_dummy_f(display, argv[0], argc, argv);
    create_db_help_f(db_dummy_f);
    create_db_gas_mix_f(db_dummy_f);

    // The connect's own result is not examined: a connection that could not
    // be made fails the select below.
    store_connect();
    store_select_gas(db_gas_mix_value, db_gas_pressure_value);
    long select_code = store_sqlcode();
    db_check();
    XtVaSetValues(db_gas_mix_i, XmNvalue, db_gas_mix_value, nullptr);
    XtVaSetValues(db_gas_pressure_i, XmNvalue, db_gas_pressure_value, nullptr);
    if (select_code < 0) {
        // Standard output keeps its one line; the reason is for whoever
        // has to put the database right.
        std::fprintf(stderr, "%s: %s\n", argv[0], store_failure_reason());
        if (const char *hint = failure_hint(store_sqlstate()))
            std::fprintf(stderr, "%s: hint: %s; see param-config-admin check\n", argv[0], hint);
        std::printf("Database could not be opened\n");
        std::exit(1);
    }
    db_init();

    XtRealizeWidget(db_dummy_f);
}

int run_event_loop()
{
    XtAppMainLoop(app_context);
    store_disconnect();
    return 0;
}
