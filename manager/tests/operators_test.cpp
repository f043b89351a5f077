// The operator list and the configuration password, with the cipher they
// are stored in, driven through their panels with real input.
#include "testbed.h"

#include "startup.h"
#include "widgets.h"

#include <X11/keysym.h>
#include <Xm/Text.h>
#include <Xm/TextF.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using namespace testbed;

namespace {

class Operators : public ::testing::Test {
protected:
    void SetUp() override { reset_database(); }
};

using Table = std::vector<std::vector<std::string>>;

// The stored form: every byte XOR 0x0E.
std::string enc(const std::string &clear)
{
    std::string out = clear;
    for (char &c : out)
        c = static_cast<char>(c ^ 0x0E);
    return out;
}

// A char(n) value as the server hands it out.
std::string padded(const std::string &s, std::size_t n)
{
    return s + std::string(n - s.size(), ' ');
}

std::string line(const std::string &name, const std::string &password)
{
    return "Operator: " + padded(name, 5) + "     Password: " + password + "\n";
}

// The listing has no order of its own.
std::vector<std::string> sorted_lines(const std::string &pane)
{
    std::vector<std::string> out;
    std::istringstream in(pane);
    for (std::string l; std::getline(in, l);)
        out.push_back(l + "\n");
    std::sort(out.begin(), out.end());
    return out;
}

const char *const all_operators = "select operator, password from operator_list order by 1, 2";
const char *const stored_conf = "select password from parameters";

void add_anna()
{
    sql("insert into operator_list values ('anna', " + enciphered_literal("ann1") + ")");
}

// XmTextFieldSetString, unlike typing, is not held to the field's maximum length.
void put(Widget field, const std::string &s)
{
    XmTextFieldSetString(field, const_cast<char *>(s.c_str()));
}

// A marked list pane tells "no listing" from an empty one.
const std::string unlisted = "(not listed)";

void clear_panes()
{
    XmTextSetString(db_msg_t, const_cast<char *>(""));
    XmTextSetString(db_list_t, const_cast<char *>(unlisted.c_str()));
}

void op(Widget entry, const std::string &name, const std::string &password = "")
{
    clear_panes();
    put(db_opname_i, name);
    put(db_pwd_i, password);
    click(entry);
    EXPECT_EQ(text(db_opname_i) + "|" + text(db_pwd_i), name + "|" + password) << "fields changed";
}

void conf(Widget entry, const std::string &password = "")
{
    clear_panes();
    put(db_conf_pwd_i, password);
    click(entry);
}

} // namespace

TEST_F(Operators, AddRefusesInOrderAndStoresNothing)
{
    add_anna();
    with_program([] {
        const Table before = rows(all_operators);
        const std::string exists = "Operator anna already exists.\nTo change password, remove and add again.\n";
        const std::string uncipherable = "Password is impossible to write in cipher.\n";
        struct {
            std::string name, password, messages;
            bool lists;
        } cases[] = {
            {"", "abcdef", "No operator entered.\n", false},
            {"anna", "", exists, true},
            {"anna", "zz", exists, true},
            {"bob", "", "No password entered.\n", false},
            {"bob", "abcdef", "Maximum number of characters is 5.\n", false},
            {"bob", "ab\x0e" "c", uncipherable, false},
            {"bob", "\x0e", uncipherable, false},
        };
        for (const auto &c : cases) {
            SCOPED_TRACE("name '" + c.name + "' password '" + c.password + "'");
            op(db_add_b, c.name, c.password);
            EXPECT_EQ(text(db_msg_t), c.messages);
            EXPECT_EQ(text(db_list_t), c.lists ? line("anna", "ann1") : unlisted);
            EXPECT_EQ(rows(all_operators), before);
        }
        op(db_add_b, "bob", "abcde");
        EXPECT_EQ(text(db_msg_t), "Operator bob is added to database.\n");
        EXPECT_EQ(sorted_lines(text(db_list_t)), (std::vector{line("anna", "ann1"), line("bob", "abcde")}));
        EXPECT_EQ(value("select password from operator_list where operator = 'bob'"), padded(enc("abcde"), 8));
    });
}

TEST_F(Operators, ACharacterThatEnciphersToABlankEndsThePasswordOnReading)
{
    with_program([] {
        op(db_add_b, "dot", "ab.cd");
        EXPECT_EQ(text(db_msg_t), "Operator dot is added to database.\n");
        EXPECT_EQ(value("select password from operator_list"), padded(enc("ab.cd"), 8));
        EXPECT_EQ(text(db_list_t), line("dot", "ab"));
        conf(db_conf_pwd_b, "x.yz");
        EXPECT_EQ(text(db_msg_t), "Configuration password x.yz is set in database.\n");
        EXPECT_EQ(value(stored_conf), padded(enc("x.yz"), 8));
        conf(db_read_conf_pwd_b);
        EXPECT_EQ(text(db_list_t), "Configuration password: x\n");
    });
}

TEST_F(Operators, ListingLayoutNamesAsTypedAndRemove)
{
    with_program([] {
        conf(db_list_b);
        EXPECT_EQ(text(db_list_t), "");
        EXPECT_EQ(text(db_msg_t), "");

        // As typed, then as listed: the name is cut at its first two blanks.
        const std::pair<std::string, std::string> names[] = {
            {"a", "a"}, {"abcd", "abcd"}, {"abcde", "abcde"}, {"a b", "a b"},
            {"a  bc", "a"}, {"ab", "ab"}, {"Ab", "Ab"}, {"  ", ""},
        };
        std::vector<std::string> expected;
        for (const auto &[typed, listed] : names) {
            std::string password = "pw" + std::to_string(expected.size());
            op(db_add_b, typed, password);
            EXPECT_EQ(text(db_msg_t), "Operator " + typed + " is added to database.\n");
            expected.push_back(line(listed, password));
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(sorted_lines(text(db_list_t)), expected);
        EXPECT_EQ(value("select count(*) from operator_list where operator = 'a  bc'"), "1");

        struct {
            std::string name, message;
            bool lists;
            std::string gone;
        } removes[] = {
            {"", "No operator entered.\n", false, ""},
            {"zz", "Operator zz was not found.\n", true, ""},
            {"ab", "Operator ab is deleted from database.\n", true, line("ab", "pw5")},
        };
        for (const auto &r : removes) {
            SCOPED_TRACE("remove '" + r.name + "'");
            op(db_remove_b, r.name, "pw");
            EXPECT_EQ(text(db_msg_t), r.message);
            std::erase(expected, r.gone);
            if (r.lists)
                EXPECT_EQ(sorted_lines(text(db_list_t)), expected);
            else
                EXPECT_EQ(text(db_list_t), unlisted);
        }
    });
}

TEST_F(Operators, ConfigurationPasswordSetAndRead)
{
    add_anna();
    with_program([] {
        conf(db_read_conf_pwd_b);
        EXPECT_EQ(text(db_list_t), "Configuration password: secret\n");
        EXPECT_EQ(text(db_msg_t), "");

        conf(db_conf_pwd_b, "abcdefgh");
        EXPECT_EQ(text(db_msg_t), "Configuration password abcdefgh is set in database.\n");
        EXPECT_EQ(text(db_list_t), unlisted);
        EXPECT_EQ(text(db_conf_pwd_i), "abcdefgh");
        EXPECT_EQ(value(stored_conf), enc("abcdefgh"));

        const std::pair<std::string, std::string> refused[] = {
            {"", "No password entered.\n"},
            {"ab\x0e", "Password is impossible to write in cipher.\n"},
            {"abcdefghi", "Password is impossible to write in cipher.\n"}, // more than the column holds
        };
        for (const auto &[typed, message] : refused) {
            conf(db_conf_pwd_b, typed);
            EXPECT_EQ(text(db_msg_t), message) << typed;
            EXPECT_EQ(value(stored_conf), enc("abcdefgh")) << typed;
        }

        // Read and List each replace the whole list pane.
        for (int round = 0; round < 2; ++round) {
            click(db_read_conf_pwd_b);
            EXPECT_EQ(text(db_list_t), "Configuration password: abcdefgh\n");
            click(db_list_b);
            EXPECT_EQ(text(db_list_t), line("anna", "ann1"));
        }

        // A NULL, no row, and a failing select all read as an empty password.
        for (const char *nothing : {"update parameters set password = null", "delete from parameters",
                                    "set lock_timeout = '2s'; alter table parameters rename to parameters_x"}) {
            sql(nothing);
            conf(db_read_conf_pwd_b);
            EXPECT_EQ(text(db_list_t), "Configuration password: \n") << nothing;
            EXPECT_EQ(text(db_msg_t), "") << nothing;
        }
        sql("set lock_timeout = '2s'; alter table parameters_x rename to parameters");
    });
}

TEST_F(Operators, MetacharactersAreStoredAndShownLiterally)
{
    with_program([] {
        const std::pair<std::string, std::string> typed[] = {{"a'b;", "%s%n'"}, {"%n%s", ";'%n"}, {"';--", "%%%"}};
        Table stored;
        std::vector<std::string> listed;
        for (const auto &[name, password] : typed) {
            op(db_add_b, name, password);
            EXPECT_EQ(text(db_msg_t), "Operator " + name + " is added to database.\n");
            stored.push_back({padded(name, 5), padded(enc(password), 8)});
            listed.push_back(line(name, password));
        }
        std::sort(stored.begin(), stored.end());
        std::sort(listed.begin(), listed.end());
        EXPECT_EQ(rows(all_operators), stored);
        EXPECT_EQ(sorted_lines(text(db_list_t)), listed);

        conf(db_conf_pwd_b, "%s%n';x");
        EXPECT_EQ(text(db_msg_t), "Configuration password %s%n';x is set in database.\n");
        EXPECT_EQ(value(stored_conf), padded(enc("%s%n';x"), 8));
        conf(db_read_conf_pwd_b);
        EXPECT_EQ(text(db_list_t), "Configuration password: %s%n';x\n");
    });
}

TEST_F(Operators, EntriesActOnThePressAndFieldsLimitWhatIsTyped)
{
    add_anna();
    with_program([] {
        clear_panes();
        press(db_list_b);
        EXPECT_TRUE(pump_until([] { return text(db_list_t) == line("anna", "ann1"); }, 2000))
            << "not listed before the release: " << text(db_list_t);
        release();

        put(db_opname_i, "");
        put(db_pwd_i, "");
        type(db_opname_i, "bertha");
        type(db_pwd_i, "pw1234");
        EXPECT_EQ(text(db_opname_i), "berth");
        EXPECT_EQ(text(db_pwd_i), "pw123");
        clear_panes();
        press(db_add_b);
        EXPECT_TRUE(pump_until([] { return text(db_msg_t) == "Operator berth is added to database.\n"; }, 2000))
            << "not added before the release: " << text(db_msg_t);
        EXPECT_EQ(sorted_lines(text(db_list_t)), (std::vector{line("anna", "ann1"), line("berth", "pw123")}));
        release();

        put(db_conf_pwd_i, "");
        type(db_conf_pwd_i, "abcdefghi");
        EXPECT_EQ(text(db_conf_pwd_i), "abcdefgh");
        click(db_conf_pwd_b);
        EXPECT_EQ(value(stored_conf), enc("abcdefgh"));
    });
}

// The fields count characters, the handlers bytes: in a UTF-8 locale a
// typed 'é' takes two.
TEST_F(Operators, TypedMultibyteTextOverTheByteLimitIsRefused)
{
    const char *was = std::getenv("LC_ALL");
    const std::string saved = was ? was : "";
    setenv("LC_ALL", "C.UTF-8", 1);
    with_program([] {
        // Give 'é' a keycode that has no symbol yet.
        int min = 0, max = 0, per = 0;
        XDisplayKeycodes(display, &min, &max);
        KeySym *map = XGetKeyboardMapping(display, static_cast<KeyCode>(min), max - min + 1, &per);
        int spare = max;
        while (spare >= min && std::any_of(map + (spare - min) * per, map + (spare - min + 1) * per,
                                           [](KeySym s) { return s != NoSymbol; }))
            --spare;
        XFree(map);
        ASSERT_GE(spare, min) << "no free keycode";
        KeySym eacute = XK_eacute, none = NoSymbol;
        XChangeKeyboardMapping(display, spare, 1, &eacute, 1);
        pump(200);

        const std::string before = value(stored_conf);
        put(db_conf_pwd_i, "");
        type(db_conf_pwd_i, std::string(9, '\xe9'));
        EXPECT_EQ(text(db_conf_pwd_i), "éééééééé");
        clear_panes();
        click(db_conf_pwd_b);
        EXPECT_EQ(text(db_msg_t), "Password is impossible to write in cipher.\n");
        EXPECT_EQ(value(stored_conf), before);

        put(db_opname_i, "eve");
        put(db_pwd_i, "");
        type(db_pwd_i, "\xe9\xe9\xe9");
        EXPECT_EQ(text(db_pwd_i), "ééé");
        clear_panes();
        click(db_add_b);
        EXPECT_EQ(text(db_msg_t), "Maximum number of characters is 5.\n");
        EXPECT_EQ(text(db_list_t), unlisted);
        EXPECT_EQ(rows(all_operators), Table{});

        XChangeKeyboardMapping(display, spare, 1, &none, 1);
        pump(100);
    });
    if (was)
        setenv("LC_ALL", saved.c_str(), 1);
    else
        unsetenv("LC_ALL");
}

TEST_F(Operators, ListingLeavesNoTransactionOpen)
{
    with_program([] {
        click(db_list_b);
        const char *idle_in_transaction = "select count(*) from pg_stat_activity where state like 'idle in tr%'";
        EXPECT_EQ(value(idle_in_transaction), "0");
        // Set lists nothing afterwards, so only autocommit makes it visible.
        conf(db_conf_pwd_b, "after");
        EXPECT_EQ(value(stored_conf), padded(enc("after"), 8));
        EXPECT_EQ(value(idle_in_transaction), "0");

        // A count that fails counts as no such operator; what follows fails
        // as well, and the listing's error exit still restores autocommit.
        sql("set lock_timeout = '2s'; alter table operator_list rename to operator_list_away");
        op(db_add_b, "x", "pw");
        EXPECT_EQ(text(db_msg_t), "Operator x is added to database.\n");
        EXPECT_EQ(text(db_list_t), "");
        op(db_remove_b, "x");
        EXPECT_EQ(text(db_msg_t), "Operator x was not found.\n");
        EXPECT_EQ(text(db_list_t), "");
        sql("set lock_timeout = '2s'; alter table operator_list_away rename to operator_list");
        EXPECT_EQ(value(idle_in_transaction), "0");
        conf(db_conf_pwd_b, "again");
        EXPECT_EQ(value(stored_conf), padded(enc("again"), 8));
        EXPECT_EQ(rows(all_operators), Table{});
    });
}
