// Raw hard disks: the disk alone, of 512- or 256-byte sectors, known by its
// IPL sector ("IPL1" at byte 4, 55 AA at its end) and a partition table in
// the sector after it with an entry in it.
#include <cstring>

#include "volume/bootsector.h"
#include "volume/bytes.h"

#include "sectormap.h"

enum { ENTRY = 32 };

// 1 when a disk of sectors of bytes starts with an IPL sector and a table
// with an entry in it (16 entries a 512-byte sector, 8 a 256-byte one).
static int iplandtable(const unsigned char *head, int32_t n, int32_t bytes)
{
    int used = 0;

    if (n < 2 * bytes || memcmp(head + 4, "IPL1", 4) != 0 || head[bytes - 2] != 0x55 ||
        head[bytes - 1] != 0xAA)
        return 0;
    for (int32_t i = 0; i < bytes && !used; i++)
        used = head[bytes + i] != 0;
    return used;
}

// The disk sector's size of the raw disk that head starts, or 0.
static int32_t rawsectorbytes(const unsigned char *head, int32_t n, int64_t size)
{
    if (size % 512 == 0 && iplandtable(head, n, 512))
        return 512;
    return size % 256 == 0 && iplandtable(head, n, 256) ? 256 : 0;
}

int recogniserawhdd(FILE *, const unsigned char *head, int32_t n, int64_t size)
{
    return rawsectorbytes(head, n, size) != 0;
}

// 1 when, in heads and spt a cylinder, the first entry of the table
// (sector, of bytes) starts at a disk sector whose boot sector's
// hidden-sector field (in 512-byte sectors) says it starts there.
static int agrees(FILE *f, const unsigned char *sector, int32_t bytes, int32_t heads,
                  int32_t spt)
{
    unsigned char boot[BOOTBLOCKBYTES];
    int64_t first = ((int64_t)getu16l(sector + 10) * heads + sector[9]) * spt + sector[8];

    return readat(f, first * bytes, boot, BOOTBLOCKBYTES) &&
           (boot[BOOTJUMP] == 0xEB || boot[BOOTJUMP] == 0xE9) &&
           (uint64_t)geti32l(boot + BOOTHIDDEN) * 512 == (uint64_t)first * (uint64_t)bytes;
}

// The heads and sectors a track of a raw disk of sectors of bytes: the
// ones asked; else the first in use whose cylinders put the first
// partition where its boot sector says it lies (for 512-byte sectors the
// IDE view 8/17 first, then GNU parted's 4/32, 16/63 and RaSCSI's 8/25;
// for 256-byte ones SASI's 33 a track on 8, 4 or 6 heads, the SASI disk of
// the file's size first); else the first of them.
static void rawgeometry(FILE *f, sectormap *m, int32_t bytes, int32_t *heads, int32_t *spt)
{
    static const int32_t wide[][2] = {{8, 17}, {4, 32}, {16, 63}, {8, 25}};
    int32_t narrow[][2] = {{8, 33}, {8, 33}, {4, 33}, {6, 33}};
    const int32_t(*g)[2] = bytes == 512 ? wide : narrow;
    const disktype *sasi = disktypeofsize(m->filesize);
    unsigned char sector[512];
    int32_t i = 0;

    if (m->askheads > 0 && m->askspt > 0) {
        *heads = m->askheads, *spt = m->askspt;
        return;
    }
    if (sasi && sasi->bytes == bytes)
        narrow[0][0] = sasi->heads;
    if (readat(f, bytes, sector, bytes))
        while (i < 4 && !agrees(f, sector, bytes, g[i][0], g[i][1]))
            i++;
    i = i == 4 ? 0 : i;
    *heads = g[i][0], *spt = g[i][1];
}

// Disk byte b is file byte b; the partition is chosen after.
int maprawhdd(FILE *f, sectormap *m, int32_t)
{
    unsigned char head[1024];
    int32_t bytes = readat(f, 0, head, sizeof head) ? rawsectorbytes(head, sizeof head,
                                                                     m->filesize) : 0;
    int64_t cylinders;

    // Told to read a file that is no raw disk as one: its sectors are 512 bytes.
    m->hard = 1;
    m->diskbase = 0;
    m->diskbytes = bytes ? bytes : 512;
    rawgeometry(f, m, m->diskbytes, &m->diskheads, &m->diskspt);
    cylinders = m->filesize / ((int64_t)m->diskbytes * m->diskheads * m->diskspt);
    m->diskcylinders = cylinders > 65535 ? 65535 : (int32_t)cylinders; // as a table can say
    return MAPOK;
}

// A raw disk has no header: 0.
int rawhddheader(unsigned char *, const sectormap *)
{
    return 0;
}
