// Preloaded into a program: its initialiser runs before the program's main and ends the process
// at once, with status 0 when the process is no longer dumpable by then and 1 when it still is.
#include <sys/prctl.h>
#include <unistd.h>

[[gnu::constructor]] static void reportDumpable()
{
    ::_exit(::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) == 0 ? 0 : 1);
}
