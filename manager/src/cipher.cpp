#include "cipher.h"

#include "message_pane.h"

#include <cstdio>
#include <cstring>

bool encipher_with_check(char *text, CheckCopy &chk_password)
{
    std::snprintf(chk_password.data(), chk_password.size(), "%s", text);
    for (std::size_t i = 0; text[i] != '\0'; ++i) {
        text[i] = static_cast<char>(text[i] ^ password_key);
        if (text[i] == '\0') {
            db_print_msg("Password is impossible to write in cipher.\n", nullptr);
            return false;
        }
    }
    return true;
}

bool reads_back_whole(const char *text)
{
    if (std::strchr(text, blank_cipher_char) == nullptr)
        return true;
    db_print_msg("Character . is impossible to write in cipher.\n", nullptr);
    return false;
}

void decipher(char *value)
{
    if (char *blank = std::strchr(value, ' '))
        *blank = '\0';
    for (std::size_t i = 0; value[i] != '\0'; ++i)
        value[i] = static_cast<char>(value[i] ^ password_key);
}
