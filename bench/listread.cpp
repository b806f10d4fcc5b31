// Reads a list file the way the tools do (nextline, then getlineitems on
// every line) and prints the count of lines; for timing the reader alone.
#include <cstdio>

#include "listfile/listfile.h"

int main(int argc, char **argv)
{
    static unsigned char buf[LISTBUFSIZE];
    FILE *list;
    int32_t bufused, linestart = 0, lineend = 0;
    unsigned char lastcr = 0;
    long lines = 0, items = 0;
    itemspan spans[2];
    int more = 1;

    if (argc != 2 || !(list = fopen(argv[1], "rb")))
        return 1;
    bufused = (int32_t)fread(buf, 1, LISTBUFSIZE, list);
    while (more) {
        more = nextline(list, buf, LISTBUFSIZE, &bufused, &linestart, &lineend, &lastcr);
        items += getlineitems(buf, linestart, contentend(buf, linestart, lineend), spans, 2);
        lines++;
    }
    printf("%ld lines, %ld items\n", lines, items);
    fclose(list);
    return 0;
}
