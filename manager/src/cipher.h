// The stored form of both kinds of password: every byte XOR one key byte.
#pragma once

#include <array>

using CheckCopy = std::array<char, 9>; // 8 characters and the terminator

constexpr char password_key = 0x0E;

// Enciphers `text` in place, keeping the clear text in `chk_password`.
// A byte equal to the key would encipher to a terminator and shorten the
// stored value, so the text is refused there: the message is printed and
// false returned. The caller keeps `text` to at most 8 bytes.
bool encipher_with_check(char *text, CheckCopy &chk_password);

// Cuts a fetched value at its first blank (the column's padding) and
// deciphers it in place.
void decipher(char *value);
