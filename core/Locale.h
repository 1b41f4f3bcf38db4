#pragma once
// The process's character type. File names are UTF-8 bytes, and the
// server's client library converts them through the process's character
// set: under the plain C locale (cron, services, many shells) every name
// outside ASCII would be refused ("Bad international character in tag
// isc_spb_dbname").

namespace core {

// Makes the character type UTF-8: one that already is stays, any other
// becomes C.UTF-8. The other categories are left alone. setlocale is not
// thread-safe, so each program calls this once, at the top of main, before
// any thread of its own starts.
void UseUtf8CharacterType();

}  // namespace core
