// Linked into the tests' own build of the program, beside its main.cpp: the waits are set before
// main() runs, so that everything else is the shipped program's.
#include "clientrun.h"

namespace {
const bool g_shortWaitsSet = [] {
    Timing::setForTests(shortWaits());
    return true;
}();
} // namespace
