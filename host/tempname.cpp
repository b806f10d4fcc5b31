// The name of a temporary file: beside the file it stands for, telling
// which process made it, never a name a user's own file would have.
#include "replacefile.h"

// NAME.PID-N.tmp into out (size bytes), N the next of *serial.
void tempname(char *out, size_t size, const char *name, unsigned long pid, unsigned *serial)
{
    snprintf(out, size, "%s.%lu-%u.tmp", name, pid, (*serial)++);
}
