// The host name a file or directory of an image gets: its 8.3 name as the
// image stores it, read as Shift-JIS and written in UTF-8, with every byte
// that could not stand in a file name on some system escaped. An image is
// untrusted: no name it holds may leave its folder or name a device.
#ifndef TOOLS_HOSTNAMES_H
#define TOOLS_HOSTNAMES_H

#include <cstdint>

enum { HOSTNAMEMAX = 64 }; // 12 bytes, each at most 3 bytes of UTF-8 or %XX, and a NUL

int32_t hostname(const unsigned char *slot, char *out);

#endif
