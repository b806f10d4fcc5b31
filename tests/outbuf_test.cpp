#include <gtest/gtest.h>

#include <cstring>

#include "memstream.h"
#include "outbuf.h"

// Stream writes that a sequence of bufferwrite calls makes, by length.
struct writerun {
    memfile m;
    FILE *f;
    unsigned char buf[OUTBUFSIZE];
    int32_t fill = 0;
    writerun() { f = openmem(&m, "wb"); }
    ~writerun() { fclose(f); }
    void add(const std::string &text)
    {
        bufferwrite(f, buf, OUTBUFSIZE, (const unsigned char *)text.data(), (int32_t)text.size(),
                    &fill);
    }
    std::vector<long> writes() const
    {
        std::vector<long> w;
        for (const iocall &c : m.calls)
            if (c.op == 'w')
                w.push_back(c.length);
        return w;
    }
};

TEST(bufferwrite, boundaries)
{
    typedef std::vector<long> v;
    {
        writerun r;
        r.add(std::string(100, 'a'));
        r.add(std::string(OUTBUFSIZE - 100, 'b')); // exactly fills the room: no write yet
        EXPECT_EQ(r.writes(), v{});
        EXPECT_EQ(r.fill, OUTBUFSIZE);
        r.add("c"); // already full: the full buffer, then the byte
        EXPECT_EQ(r.writes(), (v{OUTBUFSIZE, 1}));
        EXPECT_EQ(r.fill, 0);
        EXPECT_EQ(r.m.data.size(), (size_t)OUTBUFSIZE + 1);
        EXPECT_EQ(r.m.data[99], 'a');
        EXPECT_EQ(r.m.data[OUTBUFSIZE], 'c');
    }
    {
        writerun r;
        r.add(std::string(10, 'a'));
        r.add(std::string(OUTBUFSIZE - 9, 'b')); // one byte over the room
        EXPECT_EQ(r.writes(), (v{OUTBUFSIZE, 1}));
        EXPECT_EQ(r.fill, 0);
    }
    {
        writerun r;
        std::string big(OUTBUFSIZE * 5 / 2, 'z');
        for (size_t i = 0; i < big.size(); i++)
            big[i] = (char)('a' + i % 26);
        r.add(big);
        EXPECT_EQ(r.writes(), (v{OUTBUFSIZE, OUTBUFSIZE, OUTBUFSIZE / 2}));
        EXPECT_EQ(r.fill, 0);
        EXPECT_EQ(std::string(r.m.data.begin(), r.m.data.end()), big);
    }
    {
        writerun r;
        r.add("abc");
        r.add("");
        EXPECT_EQ(r.fill, 3);
        EXPECT_EQ(r.writes(), v{});
    }
}

TEST(bufferwritez, appendsuptothenul)
{
    writerun r;
    bufferwritez(r.f, r.buf, OUTBUFSIZE, "%define ", &r.fill);
    EXPECT_EQ(r.fill, 8);
    EXPECT_EQ(memcmp(r.buf, "%define ", 8), 0);
}

TEST(printnum, decimaltext)
{
    char t[NUMTEXTSIZE];
    memset(t, 'x', sizeof t);
    EXPECT_EQ(printnum(t, 0), 1);
    EXPECT_STREQ(t, "0");
    EXPECT_EQ(printnum(t, 36), 2);
    EXPECT_STREQ(t, "36");
    EXPECT_EQ(printnum(t, -12), 3);
    EXPECT_STREQ(t, "-12");
    EXPECT_EQ(printnum(t, -1), 2);
    EXPECT_STREQ(t, "-1");
    EXPECT_EQ(printnum(t, 2147483647), 10);
    EXPECT_STREQ(t, "2147483647");
    EXPECT_EQ(printnum(t, 1000000), 7);
    EXPECT_STREQ(t, "1000000");
    EXPECT_EQ(printnum(t, -2147483647 - 1), 11); // fits the 12 bytes, no overflow
    EXPECT_STREQ(t, "-2147483648");
}
