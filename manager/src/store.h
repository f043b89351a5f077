// The parameter store: every statement the program sends to the database
// `kelvaron`, one small function each. Nothing here reports or decides;
// callers read store_sqlcode() where they care about the outcome.
#pragma once

#include <array>

// The columns of `parameters` that hold a one-character code.
enum class CodeColumn { target_press_unit, vac_press_unit, activity_unit, flow_unit, tracer_print };

// The four retention columns of `parameters`, in panel order.
enum class DaysColumn { tracer_save_days, error_save_days, net_save_days, oper_save_days };

using OperatorName = std::array<char, 6>;   // 5 characters and the terminator
using StoredPassword = std::array<char, 9>; // 8 characters and the terminator

// SQL status of the last statement: 0 ok, 100 no row, negative error.
long store_sqlcode();

void store_connect();

// Why the start-up select failed, on one line: libpq's message when the
// connect itself failed (each host tried, joined with "; "), otherwise the
// runtime's error text of the last statement.
const char *store_failure_reason();
// SQLSTATE of the last statement, five characters.
const char *store_sqlstate();
void store_disconnect();

void store_select_gas(int &value, int &pressure);
void store_update_gas(int value, int pressure);

void store_select_days(DaysColumn column, int &days);
void store_update_days(DaysColumn column, int days);

// Writes the literal code ('0'..'3') into the column; a code the column
// does not know sends nothing.
void store_update_code(CodeColumn column, char code);

void store_select_conf_password(StoredPassword &password);
void store_update_conf_password(char *enciphered);

void store_count_operator(char *name, int &nof_found);
void store_insert_operator(char *name, char *enciphered);
void store_delete_operator(char *name);

// The operator listing: autocommit off, open the hold cursor; fetch row by
// row; close, commit, autocommit on.
void store_list_open();
void store_list_fetch(OperatorName &name, StoredPassword &password);
void store_list_close();
