#include "startup.h"

// On Windows the program is a GUI program whose WinMain comes from Qt's entry library
// (Qt5::WinMain): it splits the wide command line, converts every argument to the ANSI code page
// and calls qMain when built with MinGW (QT_NEEDS_QMAIN), main otherwise.
#ifdef QT_NEEDS_QMAIN
int qMain(int argc, char** argv)
#else
int main(int argc, char** argv)
#endif
{
    return RunUpdater(argc, argv);
}
