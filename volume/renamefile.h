// A rename or move planned as a put is.
#ifndef VOLUME_RENAMEFILE_H
#define VOLUME_RENAMEFILE_H

#include "volume/diskprops.h"
#include "volume/putfile.h"

// renamefile.cpp: a rename or move planned as a put is; the data never moves.
enum {
    MOVEOK = 0, MOVENOTFOUND, MOVEROOT, MOVEEXISTS, MOVEBADNAME, MOVENOPARENT, MOVEINTOITSELF,
    MOVEROOTFULL, MOVENOROOM, MOVENOMEMORY, MOVEDAMAGED, MOVEUNREAD, MOVESAME
};
int moveentry(FILE *image, diskprops *dp, putplan *p, chainwalk *cw, const unsigned char *owners,
              const unsigned char *from, int32_t fromlen, const unsigned char *to,
              int32_t tolen, int force);

#endif
