// A rollback journal: a change written into a large image in place, the
// old bytes of every range it writes saved first in IMAGE-journal beside
// it (a block device's on the host instead: journalpath), so that a kill
// or a power cut at any moment leaves either an image that is whole or a
// journal that puts the old bytes back.
//
// The journal is a header, then records. The header: "DCPJRNL" and 1, the
// image's size before the change, a fingerprint (a CRC-32 over the old
// image's first 256 KB and fifteen 4 KB blocks spread over the rest), a
// CRC-32 of the header. A record: the
// image offset and length of a range the change writes, how many of its
// bytes lay inside the old file, those old bytes (none when they were all
// zero, as a disk's unused sectors are; the count's top bit says so), a
// CRC-32 of all of it.
// Writes are gathered in a batch; before a batch reaches the image, its
// records are written and the journal synced, so every byte the image
// holds of the change has a whole record. The journal is written under a
// temporary name until its header and first records are synced, then
// renamed: IMAGE-journal is never seen without a record. A record cut
// short or damaged ends the journal: its batch never reached the image.
//
// A rollback puts the records' old bytes back, the last first (the first
// record of a range holds its oldest bytes), cuts the file back to its old
// size, syncs it and removes the journal. It is refused when the header is
// not whole, when no record is, or when the image's old bytes as the
// journal rebuilds them do not give its fingerprint (the journal belongs
// to another image).
#ifndef HOST_JOURNAL_H
#define HOST_JOURNAL_H

#include <cstdint>
#include <cstdio>

enum {
    JOURNALHEADER = 64, JOURNALRECORD = 20, JOURNALBATCH = 1 << 20, JOURNALRANGES = 1024,
    JOURNALPATHMAX = 4096 + 16, JOURNALBLOCK = 4096, JOURNALSAMPLES = 16,
    JOURNALHEAD = 256 * 1024, JOURNALSAMPLEBYTES = JOURNALHEAD + (JOURNALSAMPLES - 1) * JOURNALBLOCK
};
// Images larger than this (4 MiB: more than any floppy container holds) are
// changed in place under a journal; smaller ones through a copy renamed
// onto them, which no reader ever sees half made.
constexpr int64_t JOURNALFROM = (int64_t)4 << 20;
constexpr uint32_t JOURNALZEROS = 0x80000000u; // a record whose old bytes were all zero

// What journalcheck finds beside an image.
enum {
    JOURNALNONE = 0,     // no journal
    JOURNALROLLBACK,     // a whole journal of this image: roll it back
    JOURNALINCOMPLETE,   // its header is not whole, or no record is: the image is untouched
    JOURNALFOREIGN       // it belongs to another image
};

struct journalrange {
    int64_t at;
    int32_t len, from; // from: where its bytes lie in the batch
};

struct journal {
    FILE *image;  // the image, opened for update; the change's writes go through here
    FILE *file;   // the journal
    char path[JOURNALPATHMAX], imagepath[JOURNALPATHMAX];
    char temp[JOURNALPATHMAX + 32]; // where it is written until its first records are synced
    int64_t oldsize;
    int64_t records; // written and synced so far
    int named;       // under its own name
    int32_t ranges, used;
    journalrange range[JOURNALRANGES];
    unsigned char batch[JOURNALBATCH];
    unsigned char old[JOURNALBATCH]; // a range's old bytes, as its record takes them
};

uint32_t journalcrc(uint32_t crc, const unsigned char *p, int64_t n);
void journalpath(char *out, const char *image);
int journalstart(journal *j, FILE *image, const char *imagepath);
int journalwrite(journal *j, int64_t at, const unsigned char *buf, int32_t len);
int journalbeforeread(journal *j, int64_t at, int32_t len);
int journalcommit(journal *j);
int journalabandon(journal *j);
int journalopening(const char *path);
int journalcheck(const char *imagepath, FILE *image, char *why, int32_t whysize);
int journalrollback(const char *imagepath, FILE *image);

#endif
