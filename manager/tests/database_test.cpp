// The site database as the tool's role and other clients meet it.
#include "testbed.h"

using namespace testbed;

// The handler table runs as a member of the tool's role; anything beyond
// what the program sends is refused to it.
TEST(Database, TheToolsRoleMayDoNothingElse)
{
    reset_database();
    for (const char *statement :
         {"insert into parameters select * from parameters", "delete from parameters", "truncate operator_list",
          "update operator_list set password = 'x'", "create table public.x (a int)",
          "insert into audit.trail (table_name, operation) values ('x', 'y')", "select * from audit.trail"})
        EXPECT_EQ(sql(statement, clerk), "ERROR 42501") << statement;
}
