// The floor the bench measures the program against: the least a Motif tool
// on this database does before its window shows - one shell, one form, one
// label, one connection and one select - and nothing more.
#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/Xm.h>
#include <libpq-fe.h>

#include <cstdio>

int main(int argc, char **argv)
{
    XtAppContext app;
    Widget shell = XtOpenApplication(&app, "MotifFloor", nullptr, 0, &argc, argv, nullptr,
                                     applicationShellWidgetClass, nullptr, 0);
    Widget form = XmCreateForm(shell, const_cast<char *>("form"), nullptr, 0);
    XmString s = XmStringCreateLocalized(const_cast<char *>("Parameter configuration"));
    Arg args[1];
    XtSetArg(args[0], XmNlabelString, s);
    Widget label = XmCreateLabel(form, const_cast<char *>("label"), args, 1);
    XmStringFree(s);
    XtManageChild(label);
    XtManageChild(form);

    PGconn *conn = PQconnectdb("dbname=kelvaron");
    PGresult *res = PQexec(conn, "select gas_value, gas_pressure from parameters");
    if (PQresultStatus(res) != PGRES_TUPLES_OK) {
        std::printf("Database could not be opened\n");
        return 1;
    }
    PQclear(res);

    XtRealizeWidget(shell);
    XtAppMainLoop(app);
    PQfinish(conn);
    return 0;
}
