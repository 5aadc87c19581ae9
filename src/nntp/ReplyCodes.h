#pragma once
// What an NNTP status code means to the program beyond "success".
#include <cstdint>

namespace zev {

// The server wants a login, refused it, or refuses this user the command: the
// connection cannot go on without the user changing the settings.
constexpr bool IsAuthFailure(uint16_t code) { return code == 480 || code == 481 || code == 502; }

// The server does not know the command or its arguments (500 unknown command, 501 syntax
// error, 503 feature not supported): use another command, the login is fine.
constexpr bool IsNotSupported(uint16_t code) { return code == 500 || code == 501 || code == 503; }

constexpr bool IsPositive(uint16_t code) { return code >= 100 && code < 400; }

}  // namespace zev
