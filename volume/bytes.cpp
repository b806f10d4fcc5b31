// Little-endian byte helpers; bytes are read as unsigned.
#include "bytes.h"

int32_t getu16l(const unsigned char *p)
{
    return p[0] | p[1] << 8;
}

int32_t getu24l(const unsigned char *p)
{
    return p[0] | p[1] << 8 | p[2] << 16;
}

// Two's complement from the unsigned value, without a signed overflow.
int32_t geti32l(const unsigned char *p)
{
    uint32_t v = (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 |
                 (uint32_t)p[3] << 24;
    return (int32_t)v;
}

void setu16l(unsigned char *p, int32_t v)
{
    p[0] = (unsigned char)(v & 0xFF);
    p[1] = (unsigned char)((v >> 8) & 0xFF);
}

void setu32l(unsigned char *p, int32_t v)
{
    uint32_t u = (uint32_t)v;
    p[0] = (unsigned char)(u & 0xFF);
    p[1] = (unsigned char)((u >> 8) & 0xFF);
    p[2] = (unsigned char)((u >> 16) & 0xFF);
    p[3] = (unsigned char)(u >> 24);
}
