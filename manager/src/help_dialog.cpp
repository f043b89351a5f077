// The help dialog: a scrolled text loaded from helpfiles/param-config.hlp,
// relative to the working directory, every time Help is pressed.
#include "builder.h"
#include "callbacks.h"
#include "message_pane.h"
#include "owners.h"
#include "widgets.h"

#include <Xm/DialogS.h>
#include <Xm/Form.h>
#include <Xm/Text.h>

#include <sys/stat.h>

#include <climits>
#include <cstdio>

Widget db_help_f, db_help_fr, db_help_t;

namespace {

constexpr const char *help_path = "helpfiles/param-config.hlp";

} // namespace

void create_db_help_f(Widget parent)
{
    db_help_f = Args()
                    .set(XmNwidth, 500)
                    .set(XmNheight, 250)
                    .set(XmNallowShellResize, True)
                    .set(XmNtitle, reinterpret_cast<XtArgVal>("Parameter configuration help"))
                    .set(XmNdeleteResponse, XmUNMAP)
                    .create(XmCreateDialogShell, parent, "db_help_f");
    db_help_fr = Args()
                     .set(XmNwidth, 500)
                     .set(XmNheight, 250)
                     .set(XmNautoUnmanage, False)
                     .create(XmCreateForm, db_help_f, "db_help_fr");
    // The help text is left editable: nothing typed into it is kept.
    db_help_t = Args()
                    .set(XmNwidth, 500)
                    .set(XmNheight, 250)
                    .fg(db_help_fr)
                    .bg(colour::entry, db_help_fr)
                    .set(XmNeditMode, XmMULTI_LINE_EDIT)
                    .set(XmNrows, 18)
                    .create(XmCreateScrolledText, db_help_fr, "db_help_t");
    Widget scrolled = db_help_t ? XtParent(db_help_t) : nullptr;
    if (scrolled)
        Args().fg(db_help_fr).bg(colour::panel, db_help_fr).apply(scrolled);
    xd_links[1] = db_help_fr;
    if (scrolled)
        attach(scrolled, none(), form(10), form(10), form(10));
    if (db_help_t)
        XtManageChild(db_help_t);
}

void db_help_btn(Widget, XtPointer, XtPointer)
{
    File fileptr{std::fopen(help_path, "r")};
    if (!fileptr) {
        db_print_msg("Help file could not be opened\n", 0);
        return;
    }
    struct stat file_info {};
    if (stat(help_path, &file_info) != 0)
        return;
    if (file_info.st_size == 0) {
        db_print_msg("Help file is empty\n", 0);
        return;
    }
    auto size = static_cast<std::size_t>(file_info.st_size);
    // XtMalloc takes a Cardinal: a size it cannot express gets no buffer.
    XtString buffer{size + 5 <= UINT_MAX ? XtMalloc(static_cast<Cardinal>(size + 5)) : nullptr};
    if (!buffer) {
        db_print_msg("Help file is empty\n", 0);
        return;
    }
    long bytes_read = static_cast<long>(std::fread(buffer.get(), 1, size, fileptr.get()));
    fileptr.reset();
    // The last byte gives way to the terminator: a final newline is not
    // shown.
    buffer.get()[size - 1] = '\0';
    if (static_cast<long>(size) > bytes_read)
        return;
    XmTextSetString(db_help_t, buffer.get());
}
