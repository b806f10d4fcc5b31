// The boot sector's parameter block, by name: where each field lies in a
// volume's first sector, and the record of them read in one place.
#ifndef VOLUME_BOOTSECTOR_H
#define VOLUME_BOOTSECTOR_H

#include <cstdint>

enum {
    BOOTJUMP = 0,             // 0xEB or 0xE9: the jump past the block
    BOOTOEM = 3,              // 8 bytes
    BOOTBYTESPERSECTOR = 11,  // u16
    BOOTSECTORSPERCLUSTER = 13,
    BOOTRESERVED = 14,        // u16
    BOOTFATS = 16,
    BOOTROOTENTRIES = 17,     // u16
    BOOTSECTORS = 19,         // u16
    BOOTMEDIA = 21,
    BOOTSECTORSPERFAT = 22,   // u16
    BOOTSECTORSPERTRACK = 24, // u16
    BOOTHEADS = 26,           // u16
    BOOTHIDDEN = 28,          // u32: sectors before the volume on its disk
    BOOTSECTORS32 = 32,       // u32: the sector count when BOOTSECTORS is 0
    BOOTEXTENDED = 38,        // BOOTEXTENDEDMARK when a serial, label and type follow
    BOOTSERIAL = 39,          // u32
    BOOTLABEL = 43,           // 11 bytes
    BOOTFSTYPE = 54,          // 8 bytes
    BOOTSIGNATURE = 510,      // 0x55 0xAA
    BOOTEXTENDEDMARK = 0x29,
    BOOTBLOCKBYTES = 36       // what a look at the geometry needs
};

// The fields of the block that the volume's layout follows from.
struct bootfields {
    int32_t bytespersector, sectorspercluster, reservedsectors, fatcount, rootentries;
    int32_t totalsectors, mediadescriptor, sectorsperfat, sectorspertrack, heads;
};

struct floppytype;

void readbootfields(const unsigned char *boot, bootfields *b);
const floppytype *floppytypeofblock(const unsigned char *boot, int *exact);

#endif
