// The production operator list: List, Add and Remove in the operator
// panel. Names are used exactly as typed; passwords are stored enciphered.
#include "callbacks.h"
#include "cipher.h"
#include "message_pane.h"
#include "store.h"
#include "owners.h"
#include "widgets.h"

#include <array>
#include <cstdio>
#include <cstring>

void db_list_btn(Widget, XtPointer, XtPointer)
{
    XmTextSetString(db_list_t, const_cast<char *>(""));
    // The pane is drawn once, when every line is in, rather than after each
    // line: the lines then appear together when the listing ends instead of
    // one by one within it, and a long list fills several times faster.
    XmTextDisableRedisplay(db_list_t);
    store_list_open();
    OperatorName name{};
    StoredPassword password{};
    // The first pass tests the status of opening the cursor.
    while (store_sqlcode() >= 0) {
        store_list_fetch(name, password);
        if (store_sqlcode() == 100 || store_sqlcode() < 0)
            break;
        // The name comes back padded to 5; a single blank may be its own.
        if (char *padding = std::strstr(name.data(), "  "))
            *padding = '\0';
        decipher(password.data());
        std::array<char, 81> out_str{};
        std::snprintf(out_str.data(), out_str.size(), "Operator: %-5s     Password: %s\n", name.data(), password.data());
        XmTextPosition insert_pos = XmTextGetInsertionPosition(db_list_t);
        XmTextReplace(db_list_t, insert_pos, insert_pos + static_cast<XmTextPosition>(std::strlen(out_str.data())),
                      out_str.data());
    }
    XmTextEnableRedisplay(db_list_t);
    store_list_close();
}

namespace {

// Reads the name field and counts the operators of that name. An empty
// field is refused (null is returned). Should the count itself fail, the
// name counts as not present.
XtString counted_name(int &nof_found)
{
    XtString op_name = get_text(db_opname_i);
    if (is_empty(op_name)) {
        db_print_msg("No operator entered.\n", nullptr);
        return nullptr;
    }
    nof_found = 0;
    store_count_operator(op_name.get(), nof_found);
    return op_name;
}

} // namespace

void db_add_btn(Widget, XtPointer, XtPointer)
{
    int nof_found = 0;
    XtString op_name = counted_name(nof_found);
    if (!op_name)
        return;
    if (nof_found != 0) {
        db_print_msg("Operator %s already exists.\n", op_name.get());
        db_print_msg("To change password, remove and add again.\n", nullptr);
    } else {
        XtString password = get_text(db_pwd_i);
        if (is_empty(password)) {
            db_print_msg("No password entered.\n", nullptr);
            return;
        }
        if (std::strlen(password.get()) > 5) {
            db_print_msg("Maximum number of characters is 5.\n", nullptr);
            return;
        }
        if (!reads_back_whole(password.get()))
            return;
        CheckCopy chk_password{};
        if (!encipher_with_check(password.get(), chk_password))
            return;
        store_insert_operator(op_name.get(), password.get());
        db_print_msg("Operator %s is added to database.\n", op_name.get());
    }
    op_name.reset();
    db_list_btn(db_list_t, nullptr, nullptr);
}

void db_remove_btn(Widget, XtPointer, XtPointer)
{
    int nof_found = 0;
    XtString op_name = counted_name(nof_found);
    if (!op_name)
        return;
    if (nof_found == 0) {
        db_print_msg("Operator %s was not found.\n", op_name.get());
    } else {
        store_delete_operator(op_name.get());
        db_print_msg("Operator %s is deleted from database.\n", op_name.get());
    }
    op_name.reset();
    db_list_btn(db_list_t, nullptr, nullptr);
}
