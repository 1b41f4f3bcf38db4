#include "core/Locale.h"

#include <langinfo.h>

#include <clocale>
#include <cstring>

namespace core {

void UseUtf8CharacterType() {
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0)
        std::setlocale(LC_CTYPE, "C.UTF-8");
}

}  // namespace core
