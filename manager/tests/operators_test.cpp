// The operator list and the configuration password, with the cipher they
// are stored in, driven through their panels with real input.
#include "testbed.h"

#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>
#include <sstream>

using namespace testbed;
using Operators = StandardRow;

const char *const all_operators = "select operator, password from operator_list order by 1, 2";
const char *const stored_conf = "select password from parameters";
const std::string add_anna = "insert into operator_list values ('anna', " + enciphered_literal("ann1") + ")";
// A marked list pane tells "no listing" from an empty one.
const std::string unlisted = "(not listed)";

// A char(n) value as the server hands it out.
static std::string padded(const std::string &s, std::size_t n) { return s + std::string(n - s.size(), ' '); }

static std::string stored(const std::string &password) { return padded(enciphered(password), 8); }

static std::string line(const std::string &name, const std::string &password)
{
    return "Operator: " + padded(name, 5) + "     Password: " + password + "\n";
}

// The listing has no order of its own.
static std::vector<std::string> sorted_lines(const std::string &pane)
{
    std::vector<std::string> out;
    std::istringstream in(pane);
    for (std::string l; std::getline(in, l);)
        out.push_back(l + "\n");
    std::sort(out.begin(), out.end());
    return out;
}

static void clear_panes()
{
    set_text(db_msg_t, "");
    set_text(db_list_t, unlisted);
}

// Clicks `entry` with the panes cleared; they then show `message` and, if
// given, `listed`.
static void act(Widget entry, const std::string &message, const std::optional<std::string> &listed)
{
    clear_panes();
    click(entry);
    EXPECT_EQ(text(db_msg_t), message);
    if (listed) {
        EXPECT_EQ(text(db_list_t), *listed);
    }
}

// The same with the configuration password field set.
static void conf(Widget entry, const std::string &password, const std::string &message,
          const std::optional<std::string> &listed = {})
{
    SCOPED_TRACE(std::string(XtName(entry)) + " '" + password + "'");
    set_text(db_conf_pwd_i, password);
    act(entry, message, listed);
}

// The same with the operator fields set, which the entry leaves as they are.
static void op(Widget entry, const std::string &name, const std::string &password, const std::string &message,
        const std::optional<std::string> &listed = {})
{
    SCOPED_TRACE(std::string(XtName(entry)) + " '" + name + "' '" + password + "'");
    set_text(db_opname_i, name);
    set_text(db_pwd_i, password);
    act(entry, message, listed);
    EXPECT_EQ(text(db_opname_i) + "|" + text(db_pwd_i), name + "|" + password) << "fields changed";
}

// Add refuses in order and stores nothing then; otherwise names and
// passwords go in byte for byte, quotes and format directives included. The
// listing cuts a name at its first two blanks and a password at a character
// enciphering to a blank ('.'). Remove of a missing name still lists.
// Listing leaves no transaction open: Set lists nothing afterwards, so only
// autocommit makes its change visible. A count that fails counts as no such
// operator; what follows fails as well, and the listing's error exit still
// restores autocommit.
TEST_F(Operators, AddRemoveAndListStoreWholeRefuseInOrderAndLeaveNoTransaction)
{
    with_program([] {
        conf(db_list_b, "", "", "");
        sql(add_anna);
        const Table before = rows(all_operators);
        const std::string exists = "Operator anna already exists.\nTo change password, remove and add again.\n",
                          uncipherable = "Password is impossible to write in cipher.\n";
        for (const auto &[name, password, messages, lists] :
             {std::tuple<std::string, std::string, std::string, bool>{"", "abcdef", "No operator entered.\n", false},
              {"anna", "", exists, true},
              {"anna", "zz", exists, true},
              {"bob", "", "No password entered.\n", false},
              {"bob", "abcdef", "Maximum number of characters is 5.\n", false},
              {"bob", "ab\x0e" "c", uncipherable, false},
              {"bob", "\x0e", uncipherable, false}}) {
            SCOPED_TRACE("name '" + name + "' password '" + password + "'");
            op(db_add_b, name, password, messages, lists ? line("anna", "ann1") : unlisted);
            EXPECT_EQ(rows(all_operators), before);
        }
        Table in_table = before;
        std::vector<std::string> listed{line("anna", "ann1")};
        // Name and password as typed, then as listed.
        for (const auto &[name, password, listed_name, listed_password] :
             {std::array<std::string, 4>{"bob", "abcde", "bob", "abcde"}, {"dot", "ab.cd", "dot", "ab"},
              {"a'b;", "%s%n'", "a'b;", "%s%n'"}, {"%n%s", ";'%n", "%n%s", ";'%n"}, {"';--", "%%%", "';--", "%%%"},
              {"a", "pw0", "a", "pw0"}, {"abcd", "pw1", "abcd", "pw1"}, {"abcde", "pw2", "abcde", "pw2"},
              {"a b", "pw3", "a b", "pw3"}, {"a  bc", "pw4", "a", "pw4"}, {"ab", "pw5", "ab", "pw5"},
              {"Ab", "pw6", "Ab", "pw6"}, {"  ", "pw7", "", "pw7"}}) {
            op(db_add_b, name, password, "Operator " + name + " is added to database.\n");
            in_table.push_back({padded(name, 5), stored(password)});
            listed.push_back(line(listed_name, listed_password));
        }
        std::sort(in_table.begin(), in_table.end());
        std::sort(listed.begin(), listed.end());
        EXPECT_EQ(rows(all_operators), in_table);
        EXPECT_EQ(sorted_lines(text(db_list_t)), listed);
        op(db_remove_b, "", "pw", "No operator entered.\n", unlisted);
        op(db_remove_b, "zz", "pw", "Operator zz was not found.\n");
        EXPECT_EQ(sorted_lines(text(db_list_t)), listed);
        op(db_remove_b, "ab", "pw", "Operator ab is deleted from database.\n");
        std::erase(listed, line("ab", "pw5"));
        EXPECT_EQ(sorted_lines(text(db_list_t)), listed);

        EXPECT_EQ(value("select count(*) from pg_stat_activity where state like 'idle in tr%'"), "0");
        conf(db_conf_pwd_b, "after", "Configuration password after is set in database.\n");
        EXPECT_EQ(value(stored_conf), stored("after"));
        sql("set lock_timeout = '2s'; truncate operator_list; alter table operator_list rename to operator_list_away");
        op(db_add_b, "x", "pw", "Operator x is added to database.\n", "");
        op(db_remove_b, "x", "", "Operator x was not found.\n", "");
        sql("set lock_timeout = '2s'; alter table operator_list_away rename to operator_list");
        conf(db_conf_pwd_b, "again", "Configuration password again is set in database.\n");
        EXPECT_EQ(value(stored_conf), stored("again"));
        EXPECT_EQ(rows(all_operators), Table{});
    });
}

// Set and Read keep the password whole, except that a character
// enciphering to a blank ('.') ends it on reading.
TEST_F(Operators, ConfigurationPasswordSetAndRead)
{
    sql(add_anna);
    with_program([] {
        conf(db_read_conf_pwd_b, "", "", "Configuration password: secret\n");
        conf(db_conf_pwd_b, "abcdefgh", "Configuration password abcdefgh is set in database.\n", unlisted);
        EXPECT_EQ(text(db_conf_pwd_i) + "|" + value(stored_conf), "abcdefgh|" + enciphered("abcdefgh"));
        // Refused: nothing, a byte the cipher cannot write, more than the column holds.
        for (auto [typed, message] : {std::pair{"", "No password entered.\n"},
                                      {"ab\x0e", "Password is impossible to write in cipher.\n"},
                                      {"abcdefghi", "Password is impossible to write in cipher.\n"}}) {
            conf(db_conf_pwd_b, typed, message);
            EXPECT_EQ(value(stored_conf), enciphered("abcdefgh")) << typed;
        }
        for (auto [password, shown] : {std::pair{"x.yz", "x"}, {"%s%n';x", "%s%n';x"}}) {
            conf(db_conf_pwd_b, password, "Configuration password " + std::string(password) + " is set in database.\n");
            EXPECT_EQ(value(stored_conf), stored(password));
            conf(db_read_conf_pwd_b, "", "", "Configuration password: " + std::string(shown) + "\n");
        }
        // Read and List each replace the whole list pane.
        click(db_list_b);
        EXPECT_EQ(text(db_list_t), line("anna", "ann1"));
        click(db_read_conf_pwd_b);
        EXPECT_EQ(text(db_list_t), "Configuration password: %s%n';x\n");
        // A NULL, no row, and a failing select all read as an empty password.
        for (const char *nothing : {"update parameters set password = null", "delete from parameters",
                                    "set lock_timeout = '2s'; alter table parameters rename to parameters_x"}) {
            sql(nothing);
            conf(db_read_conf_pwd_b, "", "", "Configuration password: \n");
        }
        sql("set lock_timeout = '2s'; alter table parameters_x rename to parameters");
    });
}

// List and Add act on the press, before the release. The fields count
// characters, the handlers bytes: in a UTF-8 locale a typed 'é' takes two,
// and text over the byte limit is refused.
TEST_F(Operators, EntriesActOnThePressAndFieldsLimitWhatIsTyped)
{
    sql(add_anna);
    in_child([] {
        setenv("LC_ALL", "C.UTF-8", 1);
        with_program([] {
            clear_panes();
            press(db_list_b);
            EXPECT_TRUE(pump_until([] { return text(db_list_t) == line("anna", "ann1"); }, 2000))
                << "not listed before the release: " << text(db_list_t);
            release();
            type(db_opname_i, "bertha");
            type(db_pwd_i, "pw1234");
            EXPECT_EQ(text(db_opname_i) + "|" + text(db_pwd_i), "berth|pw123");
            clear_panes();
            press(db_add_b);
            EXPECT_TRUE(pump_until([] { return text(db_msg_t) == "Operator berth is added to database.\n"; }, 2000))
                << "not added before the release: " << text(db_msg_t);
            EXPECT_EQ(sorted_lines(text(db_list_t)), (std::vector{line("anna", "ann1"), line("berth", "pw123")}));
            release();
            type(db_conf_pwd_i, "abcdefghi");
            EXPECT_EQ(text(db_conf_pwd_i), "abcdefgh");
            click(db_conf_pwd_b);
            EXPECT_EQ(value(stored_conf), enciphered("abcdefgh"));

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
            set_text(db_conf_pwd_i, "");
            type(db_conf_pwd_i, std::string(9, '\xe9'));
            EXPECT_EQ(text(db_conf_pwd_i), "éééééééé");
            clear_panes();
            click(db_conf_pwd_b);
            EXPECT_EQ(text(db_msg_t), "Password is impossible to write in cipher.\n");
            EXPECT_EQ(value(stored_conf), enciphered("abcdefgh"));
            set_text(db_opname_i, "eve");
            set_text(db_pwd_i, "");
            type(db_pwd_i, "\xe9\xe9\xe9");
            EXPECT_EQ(text(db_pwd_i), "ééé");
            clear_panes();
            click(db_add_b);
            EXPECT_EQ(text(db_msg_t) + "|" + text(db_list_t), "Maximum number of characters is 5.\n|" + unlisted);
            EXPECT_EQ(value("select count(*) from operator_list"), "2");
            XChangeKeyboardMapping(display, spare, 1, &none, 1);
            pump(100);
        });
    });
}
