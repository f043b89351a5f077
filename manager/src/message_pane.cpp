#include "message_pane.h"

#include "store.h"
#include "widgets.h"

#include <Xm/Text.h>

#include <array>
#include <cstdio>
#include <cstring>

namespace {

// The formatted text replaces as many characters as it has from the
// insertion position on; at the end of the pane that appends it, and the
// insertion position then stands behind it.
void write_at_insertion(const char *text)
{
    XmTextPosition pos = XmTextGetInsertionPosition(db_msg_t);
    XmTextReplace(db_msg_t, pos, pos + static_cast<XmTextPosition>(std::strlen(text)), const_cast<char *>(text));
}

} // namespace

// Every format is one of the program's own constants; a text longer than
// 80 characters is cut there.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
void db_print_msg(const char *msg, const char *param)
{
    std::array<char, 81> text{};
    std::snprintf(text.data(), text.size(), msg, param);
    write_at_insertion(text.data());
}

void db_print_msg(const char *msg, int param)
{
    std::array<char, 81> text{};
    std::snprintf(text.data(), text.size(), msg, param);
    write_at_insertion(text.data());
}
#pragma GCC diagnostic pop

void db_check()
{
    long code = store_sqlcode();
    if (code < 0)
        db_print_msg("Database problem %d\n", static_cast<int>(code));
}
