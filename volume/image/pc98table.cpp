// The PC-98 partition table in disk sector 1 (16 entries of 32 bytes on a
// 512-byte disk, 8 on a 256-byte one), and a partition as the volume's
// map: a linear one at its first disk sector, never past its end.
#include <cstdio>
#include <cstring>

#include "volume/bytes.h"

#include "sectormap.h"

enum { ENTRYBYTES = 32, NAMEAT = 16, NAMEBYTES = 16 };

// 1 for a sid that says FAT12 or FAT16, active or not.
static int fatsid(int32_t sid)
{
    int32_t fs = sid & 0x7F;
    return fs == 0x01 || fs == 0x11 || fs == 0x21;
}

// The entry at e into *p: its sectors from its start to the whole of its
// last cylinder, as NEC's tables mean it.
static void readentry(const sectormap *m, const unsigned char *e, partentry *p)
{
    int64_t track = m->diskspt, cylinder = (int64_t)m->diskheads * m->diskspt;

    p->mid = e[0];
    p->sid = e[1];
    p->startcyl = getu16l(e + 10);
    p->endcyl = getu16l(e + 14);
    p->first = p->startcyl * cylinder + e[9] * track + e[8];
    p->count = ((int64_t)p->endcyl + 1) * cylinder - p->first;
    p->problem = 0;
    p->why[0] = '\0';
    memcpy(p->name, e + NAMEAT, NAMEBYTES);
    p->name[NAMEBYTES] = '\0';
    for (int32_t i = NAMEBYTES - 1; i >= 0 && (p->name[i] == ' ' || p->name[i] == 0); i--)
        p->name[i] = '\0';
}

// Marks each entry that lies outside the disk, ends before it starts, or
// overlaps an earlier one.
static void checkentries(sectormap *m)
{
    for (int32_t i = 0; i < m->partitions; i++) {
        partentry *p = &m->part[i];
        if (p->startcyl >= m->diskcylinders || p->endcyl >= m->diskcylinders)
            snprintf(p->why, sizeof p->why, "its cylinders %d to %d lie outside the disk's %d",
                     p->startcyl, p->endcyl, m->diskcylinders);
        else if (p->count <= 0 || p->startcyl < 1)
            snprintf(p->why, sizeof p->why, "it ends before it starts, or starts in cylinder 0");
        for (int32_t j = 0; j < i && !p->why[0]; j++)
            if (p->first < m->part[j].first + m->part[j].count &&
                m->part[j].first < p->first + p->count)
                snprintf(p->why, sizeof p->why, "it overlaps partition %d", j + 1);
        p->problem = p->why[0] ? MAPBADPARTITION : 0;
    }
}

// Reads the table of the disk just mapped into m->part; MAPOK, or why not.
int readpartitions(FILE *f, sectormap *m)
{
    unsigned char sector[512];
    int32_t entries = m->diskbytes == 256 ? 8 : 16;

    m->partitions = 0;
    if (!readdisk(f, m, m->diskbase + m->diskbytes, sector, m->diskbytes))
        return MAPUNREAD;
    for (int32_t e = 0; e < entries; e++) {
        const unsigned char *at = sector + (size_t)e * ENTRYBYTES;
        int used = 0;
        for (int32_t i = 0; i < ENTRYBYTES; i++)
            used |= at[i] != 0;
        if (used)
            readentry(m, at, &m->part[m->partitions++]);
    }
    checkentries(m);
    return MAPOK;
}

// Writes the line that lists the FAT partitions into m->said.
static void listpartitions(sectormap *m)
{
    int32_t n = snprintf(m->said, sizeof m->said, "The disk holds several FAT partitions; -p N "
                                                  "names one:");
    for (int32_t i = 0; i < m->partitions && n < (int32_t)sizeof m->said; i++) {
        const partentry *p = &m->part[i];
        if (!fatsid(p->sid))
            continue;
        n += snprintf(m->said + n, sizeof m->said - (size_t)n, " %d \"", i + 1);
        for (const unsigned char *c = p->name; *c && n < (int32_t)sizeof m->said - 1; c++)
            m->said[n++] = *c >= 0x20 && *c < 0x7F && *c != '"' ? (char)*c : '?';
        if (n < (int32_t)sizeof m->said)
            n += snprintf(m->said + n, sizeof m->said - (size_t)n, "\" (%lld KB, %s)",
                          (long long)(p->count * m->diskbytes / 1024),
                          (p->sid & 0x7F) == 0x01 ? "FAT12" : "FAT16");
    }
}

// The entry part names: the one asked (from 0), the disk's only FAT
// partition, or its first active one; -1 after setting *why.
static int32_t pick(sectormap *m, int32_t part, int *why)
{
    int32_t fats = 0, first = -1, active = -1;

    if (part >= 0) {
        *why = part < m->partitions ? MAPOK : MAPNOSUCHPARTITION;
        return part < m->partitions ? part : -1;
    }
    for (int32_t i = 0; i < m->partitions; i++) {
        if (!fatsid(m->part[i].sid))
            continue;
        fats++;
        first = first < 0 ? i : first;
        active = active < 0 && (m->part[i].sid & 0x80) ? i : active;
    }
    *why = fats == 0 ? MAPNOPARTITION : MAPOK;
    if (fats > 1 && part == PARTITIONFIRSTACTIVE && active >= 0)
        return active;
    if (fats > 1) {
        listpartitions(m);
        *why = MAPMANYPARTITIONS;
        return -1;
    }
    return first;
}

// Maps the partition part names (from 0, or PARTITIONTHEONLY, or
// PARTITIONFIRSTACTIVE) of the hard disk just mapped as the volume: MAPOK,
// or why not.
int choosepartition(FILE *f, sectormap *m, int32_t part)
{
    int why = readpartitions(f, m);
    int32_t i = why == MAPOK ? pick(m, part, &why) : -1;
    const partentry *p;

    if (i < 0)
        return why;
    p = &m->part[i];
    if (p->problem) {
        snprintf(m->said, sizeof m->said, "Partition %d %s", i + 1, p->why);
        return MAPBADPARTITION;
    }
    m->chosen = i;
    m->linear = 1;
    m->base = m->diskbase + p->first * m->diskbytes;
    m->limit = p->count * m->diskbytes;
    return MAPOK;
}

// The IPL sector of a new disk of sectors of bytes into s: a jump over
// "IPL1" to code that stops the processor for good (cli, then hlt in a
// loop, which an NMI cannot leave), 55 AA as its last two bytes.
void makeiplsector(unsigned char *s, int32_t bytes)
{
    static const unsigned char ipl[16] = {0xEB, 0x0A, 0x90, 0x90, 'I',  'P',  'L',  '1',
                                          0x00, 0x00, 0x00, 0x00, 0xFA, 0xF4, 0xEB, 0xFD};

    memset(s, 0, (size_t)bytes);
    memcpy(s, ipl, sizeof ipl);
    s[bytes - 2] = 0x55;
    s[bytes - 1] = 0xAA;
}

// A new table's entry at e for a partition of the disk d over cylinders
// first to last, bootable MS-DOS and active, of system sid's low bits,
// named by name (16 bytes, space-padded). Its end is the last sector of its
// last cylinder: NEC's own tables say that cylinder with head and sector
// 0, which readers that take the end as exact would cut short.
void makeentry(unsigned char *e, const sectormap *d, int32_t first, int32_t last, int32_t sid,
               const unsigned char *name)
{
    memset(e, 0, ENTRYBYTES);
    e[0] = 0xA1;
    e[1] = (unsigned char)(0x80 | sid);
    setu16l(e + 6, first);
    setu16l(e + 10, first);
    e[12] = (unsigned char)(d->diskspt - 1);
    e[13] = (unsigned char)(d->diskheads - 1);
    setu16l(e + 14, last);
    memcpy(e + NAMEAT, name, NAMEBYTES);
}
