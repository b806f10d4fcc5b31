// A blank, formatted FAT12 volume of a DCP type: the boot sector with the
// type's parameter block, FAT copies that mark only their two reserved
// entries, an empty root (or one holding the volume label), zeros after.
#include <cstring>

#include "diskprops.h"


// The boot sector (t->bytes long): a jump past the parameter block, the
// OEM name, the block, drive 0, the extended signature with serial and
// label (11 bytes, space-padded), the file system type, and 55 AA.
static void makebootsector(const dcptype *t, const unsigned char *label, uint32_t serial,
                    unsigned char *boot)
{
    static const unsigned char start[11] = {0xEB, 0x3C, 0x90, 'D', 'C', 'P', 'T', 'O', 'O', 'L', 'S'};
    static const unsigned char fstype[8] = {'F', 'A', 'T', '1', '2', ' ', ' ', ' '};

    memset(boot, 0, (size_t)t->bytes);
    memcpy(boot, start, sizeof start);
    setu16l(boot + BOOTBYTESPERSECTOR, t->bytes);
    boot[BOOTSECTORSPERCLUSTER] = (unsigned char)t->clustersectors;
    setu16l(boot + BOOTRESERVED, t->reserved);
    boot[BOOTFATS] = (unsigned char)t->fats;
    setu16l(boot + BOOTROOTENTRIES, t->rootentries);
    setu16l(boot + BOOTSECTORS, floppysectors(t));
    boot[BOOTMEDIA] = (unsigned char)t->descriptor;
    setu16l(boot + BOOTSECTORSPERFAT, t->fatsectors);
    setu16l(boot + BOOTSECTORSPERTRACK, t->sectors);
    setu16l(boot + BOOTHEADS, t->heads);
    boot[BOOTEXTENDED] = BOOTEXTENDEDMARK;
    setu32l(boot + BOOTSERIAL, (int32_t)serial);
    memcpy(boot + BOOTLABEL, label, 11);
    memcpy(boot + BOOTFSTYPE, fstype, sizeof fstype);
    boot[BOOTSIGNATURE] = 0x55;
    boot[BOOTSIGNATURE + 1] = 0xAA;
}

// Sector s of the blank volume of the type into buf: the boot sector, the
// first sector of a FAT copy (its two reserved entries), the root's first
// sector holding the label entry when labelentry is set, or zeros.
static void blanksector(const dcptype *t, int32_t s, const unsigned char *label, int labelentry,
                        uint32_t serial, unsigned char *buf)
{
    static const fattime midnight = {0, 0x21}; // 1980-01-01: the label has no time of its own
    // Unsigned, so that a reserved sector (negative here) is no FAT sector.
    uint32_t fatsector = (uint32_t)(s - t->reserved);

    memset(buf, 0, (size_t)t->bytes);
    if (s == 0) {
        makebootsector(t, label, serial, buf);
    } else if (fatsector < (uint32_t)(t->fats * t->fatsectors) &&
               fatsector % (uint32_t)t->fatsectors == 0) {
        buf[0] = (unsigned char)t->descriptor;
        buf[1] = buf[2] = 0xFF;
    } else if (labelentry && s == t->reserved + t->fats * t->fatsectors) {
        fillentry(buf, label, ATTRLABEL, 0, 0, &midnight);
    }
}

// Writes the whole blank volume of the type to out, at its position, one
// sector at a time: the label (11 bytes) in the boot sector, and as the
// root's first entry too when labelentry is set. buf is scratch of a
// sector. 1 on success.
int writeblankvolume(FILE *out, const dcptype *t, const unsigned char *label, int labelentry,
                     uint32_t serial, unsigned char *buf)
{
    int32_t s;
    int ok = 1;

    for (s = 0; ok && s < floppysectors(t); s++) {
        blanksector(t, s, label, labelentry, serial, buf);
        ok = (int32_t)fwrite(buf, 1, (size_t)t->bytes, out) == t->bytes;
    }
    return ok;
}
