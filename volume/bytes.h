// Little-endian byte helpers, shared by the containers and the volume.
#ifndef VOLUME_BYTES_H
#define VOLUME_BYTES_H

#include <cstdint>

int32_t getu16l(const unsigned char *p);
int32_t getu24l(const unsigned char *p);
int32_t geti32l(const unsigned char *p);
void setu16l(unsigned char *p, int32_t v);
void setu32l(unsigned char *p, int32_t v);

#endif
