// Preloaded into a program that a test kills at a point the test chooses rather than at a time:
// the program kills itself with SIGKILL as it opens for writing the file whose path
// KILL_ON_WRITE_OPEN names, before the file is opened, as a kill from outside would leave it.
// The header's fortified and large-file wrappers would stand in the way of defining open itself.
#undef _FORTIFY_SOURCE
#undef _FILE_OFFSET_BITS

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

using OpenFunction = int (*)(const char*, int, ...);
using OpenAtFunction = int (*)(int, const char*, int, ...);

void killIfWatched(const char* path, int flags)
{
    const char* watched = std::getenv("KILL_ON_WRITE_OPEN");
    if (watched && (flags & (O_WRONLY | O_RDWR)) && std::strcmp(path, watched) == 0)
        ::raise(SIGKILL);
}

template <typename Function> Function next(const char* name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

} // namespace

// The mode is read only where the flags say it was given.
#define MODE_OF(flags, last)                                                                       \
    mode_t mode = 0;                                                                               \
    if ((flags) & (O_CREAT | O_TMPFILE)) {                                                         \
        va_list arguments;                                                                         \
        va_start(arguments, last);                                                                 \
        mode = va_arg(arguments, mode_t);                                                          \
        va_end(arguments);                                                                         \
    }

extern "C" {

int open(const char* path, int flags, ...)
{
    MODE_OF(flags, flags)
    killIfWatched(path, flags);
    static const auto real = next<OpenFunction>("open");
    return real(path, flags, mode);
}

int open64(const char* path, int flags, ...)
{
    MODE_OF(flags, flags)
    killIfWatched(path, flags);
    static const auto real = next<OpenFunction>("open64");
    return real(path, flags, mode);
}

int openat(int folder, const char* path, int flags, ...)
{
    MODE_OF(flags, flags)
    killIfWatched(path, flags);
    static const auto real = next<OpenAtFunction>("openat");
    return real(folder, path, flags, mode);
}

int openat64(int folder, const char* path, int flags, ...)
{
    MODE_OF(flags, flags)
    killIfWatched(path, flags);
    static const auto real = next<OpenAtFunction>("openat64");
    return real(folder, path, flags, mode);
}
}
