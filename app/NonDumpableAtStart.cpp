// The first code of the application that runs: an entry of the executable's pre-initialisation
// array, called before any shared library's initialiser. From here on no other process of the
// user may attach to this one or read its memory, and so none can speak to the root helper in
// its name. A process that cannot make itself so must not go on.
#include <sys/prctl.h>
#include <unistd.h>

namespace {

void becomeNonDumpable(int, char **, char **)
{
    if (::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0 || ::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) != 0)
        ::_exit(127);
}

[[gnu::section(".preinit_array"), gnu::used]] void (*const nonDumpableAtStart)(int, char **, char **)
    = becomeNonDumpable;

} // namespace
