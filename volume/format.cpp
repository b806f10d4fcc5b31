// A blank, formatted FAT12 volume of a DCP type: the boot sector with the
// type's parameter block, FAT copies that mark only their two reserved
// entries, an empty root (or one holding the volume label), zeros after.
#include <cstring>

#include "diskprops.h"

enum { SIGNATUREAT = 510, LABELAT = 43 };

// The boot sector (t->bytes long): a jump past the parameter block, the
// OEM name, the block, drive 0, the extended signature with serial and
// label (11 bytes, space-padded), the file system type, and 55 AA.
void makebootsector(const dcptype *t, const unsigned char *label, uint32_t serial,
                    unsigned char *boot)
{
    memset(boot, 0, (size_t)t->bytes);
    memcpy(boot, "\xEB\x3C\x90" "DCPTOOLS", 11);
    setu16l(boot + 11, t->bytes);
    boot[13] = (unsigned char)t->clustersectors;
    setu16l(boot + 14, t->reserved);
    boot[16] = (unsigned char)t->fats;
    setu16l(boot + 17, t->rootentries);
    setu16l(boot + 19, t->total);
    boot[21] = (unsigned char)t->descriptor;
    setu16l(boot + 22, t->fatsectors);
    setu16l(boot + 24, t->sectors);
    setu16l(boot + 26, t->heads);
    boot[38] = 0x29;
    setu32l(boot + 39, (int32_t)serial);
    memcpy(boot + LABELAT, label, 11);
    memcpy(boot + 54, "FAT12   ", 8);
    boot[SIGNATUREAT] = 0x55;
    boot[SIGNATUREAT + 1] = 0xAA;
}

// Writes n zero bytes, from buf (zeros, size bytes); 1 on success.
static int writezeros(FILE *out, const unsigned char *zeros, int32_t size, int64_t n)
{
    while (n > 0) {
        int32_t k = n < size ? (int32_t)n : size;
        if ((int32_t)fwrite(zeros, 1, (size_t)k, out) != k)
            return 0;
        n -= k;
    }
    return 1;
}

// Writes the whole blank volume of the type to out, at its position: the
// label (11 bytes) in the boot sector, and as the root's first entry too
// unless labelentry is 0. buf is scratch of at least one sector. 1 on success.
int writeblankvolume(FILE *out, const dcptype *t, const unsigned char *label, int labelentry,
                     uint32_t serial, unsigned char *buf)
{
    static const fattime midnight = {0, 0x21}; // 1980-01-01: the label has no time of its own
    int64_t sector = (int64_t)t->bytes;
    int32_t copy;
    int ok;

    makebootsector(t, label, serial, buf);
    ok = (int32_t)fwrite(buf, 1, (size_t)t->bytes, out) == t->bytes;
    memset(buf, 0, (size_t)t->bytes);
    ok = ok && writezeros(out, buf, t->bytes, (t->reserved - 1) * sector);
    for (copy = 0; ok && copy < t->fats; copy++) {
        buf[0] = (unsigned char)t->descriptor;
        buf[1] = buf[2] = 0xFF;
        ok = (int32_t)fwrite(buf, 1, (size_t)t->bytes, out) == t->bytes;
        memset(buf, 0, 3);
        ok = ok && writezeros(out, buf, t->bytes, (t->fatsectors - 1) * sector);
    }
    if (labelentry)
        fillentry(buf, label, ATTRLABEL, 0, 0, &midnight);
    ok = ok && (int32_t)fwrite(buf, 1, (size_t)t->bytes, out) == t->bytes;
    memset(buf, 0, 32);
    return ok && writezeros(out, buf, t->bytes,
                            ((int64_t)t->total - t->reserved - (int64_t)t->fats * t->fatsectors -
                             1) * sector);
}
