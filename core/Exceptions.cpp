#include "core/Exceptions.h"
// Anchors the vtables of the error classes in one object file.
