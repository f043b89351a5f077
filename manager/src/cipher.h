// The stored form of both kinds of password: every byte XOR one key byte.
#pragma once

#include <array>

using CheckCopy = std::array<char, 9>; // 8 characters and the terminator

constexpr char password_key = 0x0E;

// The one character whose stored byte is a blank. Readers cut a fetched
// value at its first blank (the column's padding), so a password holding
// it would read back shortened.
constexpr char blank_cipher_char = ' ' ^ password_key;

// Whether `text` can be stored and read back whole as far as blanks go:
// false, with the message printed, if it holds `blank_cipher_char`.
// Handlers call it before enciphering.
bool reads_back_whole(const char *text);

// Enciphers `text` in place, keeping the clear text in `chk_password`.
// A byte equal to the key would encipher to a terminator and shorten the
// stored value, so the text is refused there: the message is printed and
// false returned. The caller keeps `text` to at most 8 bytes.
bool encipher_with_check(char *text, CheckCopy &chk_password);

// Cuts a fetched value at its first blank (the column's padding) and
// deciphers it in place.
void decipher(char *value);
