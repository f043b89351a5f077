// The configuration password: Read shows it in the list pane, Set stores
// it enciphered.
#include "callbacks.h"
#include "cipher.h"
#include "message_pane.h"
#include "store.h"
#include "owners.h"
#include "widgets.h"

#include <array>
#include <cstdio>
#include <cstring>

void db_read_conf_pwd_btn(Widget, XtPointer, XtPointer)
{
    // A failed select, a missing row or a NULL leaves the buffer empty, so
    // the pane then shows an empty password.
    StoredPassword password{};
    store_select_conf_password(password);
    decipher(password.data());
    std::array<char, 80> str{};
    std::snprintf(str.data(), str.size(), "Configuration password: %s\n", password.data());
    XmTextSetString(db_list_t, str.data());
}

void db_conf_pwd_btn(Widget, XtPointer, XtPointer)
{
    XtString password = get_text(db_conf_pwd_i);
    if (is_empty(password)) {
        db_print_msg("No password entered.\n", nullptr);
        return;
    }
    // The column and the check copy hold 8 bytes; a longer text (several
    // bytes per character) cannot be stored whole, so it is refused like
    // any other text the cipher cannot write.
    CheckCopy chk_password{};
    if (std::strlen(password.get()) >= chk_password.size()) {
        db_print_msg("Password is impossible to write in cipher.\n", nullptr);
        return;
    }
    if (!reads_back_whole(password.get()))
        return;
    if (!encipher_with_check(password.get(), chk_password))
        return;
    store_update_conf_password(password.get());
    db_print_msg("Configuration password %s is set in database.\n", chk_password.data());
}
