#include <gtest/gtest.h>

#include <random>
#include <string>

#include "listfile/listfile.h"
#include "memstream.h"

struct piece {
    std::string text;
    int more;
    bool operator==(const piece &o) const { return text == o.text && more == o.more; }
};

static std::ostream &operator<<(std::ostream &os, const piece &p)
{
    return os << "{" << testing::PrintToString(p.text) << ", " << p.more << "}";
}

// Every line that nextline hands out for text through a buffer of size z,
// checking on the way what must hold of each.
static std::vector<piece> readlines(const std::string &text, uint32_t z, size_t startpad = 0)
{
    memfile m;
    m.data.assign(text.begin(), text.end());
    FILE *f = openmem(&m, "rb");
    std::vector<unsigned char> buf(z);
    int32_t used = (int32_t)fread(buf.data(), 1, z, f), ls = 0, le = 0;
    unsigned char cr = 0;
    std::vector<piece> out;
    int more = 1;
    (void)startpad;
    while (more) {
        more = nextline(f, buf.data(), z, &used, &ls, &le, &cr);
        std::string line((char *)buf.data() + ls, (size_t)(le - ls));
        EXPECT_LE(line.size(), z);
        EXPECT_EQ(cr, !line.empty() && line.back() == '\r');
        for (size_t i = 0; i + 1 < line.size(); i++)
            EXPECT_TRUE(line[i] != '\r' && line[i] != '\n') << "break inside a line";
        out.push_back({line, more});
        if (out.size() > text.size() * 2 + 4) {
            ADD_FAILURE() << "nextline does not end";
            break;
        }
    }
    fclose(f);
    return out;
}

// The plain split the reader must agree with: each line with its break, the
// LF of a CR LF pair dropped, and the rest after the last break as the last line.
static std::vector<piece> referencesplit(const std::string &text)
{
    std::vector<piece> out;
    std::string cur;
    for (size_t i = 0; i < text.size(); i++) {
        cur += text[i];
        if (text[i] == '\r' || text[i] == '\n') {
            out.push_back({cur, 1});
            cur.clear();
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                i++;
        }
    }
    out.push_back({cur, 0});
    return out;
}

TEST(nextline, smallfiles)
{
    typedef std::vector<piece> v;
    for (uint32_t z : {16384u, 7u, 3u}) {
        EXPECT_EQ(readlines("", z), (v{{"", 0}}));
        EXPECT_EQ(readlines("a\nb\n", z), (v{{"a\n", 1}, {"b\n", 1}, {"", 0}}));
        EXPECT_EQ(readlines("a\nb", z), (v{{"a\n", 1}, {"b", 0}}));
        EXPECT_EQ(readlines("a\r\nb\r\n", z), (v{{"a\r", 1}, {"b\r", 1}, {"", 0}}));
        EXPECT_EQ(readlines("\r\r\n", z), (v{{"\r", 1}, {"\r", 1}, {"", 0}}));
        EXPECT_EQ(readlines("\n\r", z), (v{{"\n", 1}, {"\r", 1}, {"", 0}}));
    }
}

TEST(nextline, tinybuffers)
{
    typedef std::vector<piece> v;
    // A CR as the last byte of a full buffer: its LF comes with the refill.
    EXPECT_EQ(readlines("abc\r\nd", 4), (v{{"abc\r", 1}, {"d", 0}}));
    EXPECT_EQ(readlines("ab\r\ncd\r\n", 3), (v{{"ab\r", 1}, {"cd\r", 1}, {"", 0}}));
    // Size 1: every byte is a piece of its own, breaks included.
    EXPECT_EQ(readlines("ab\nc", 1), (v{{"a", 1}, {"b", 1}, {"\n", 1}, {"c", 1}, {"", 0}}));
    EXPECT_EQ(readlines("a\r\nb", 1), (v{{"a", 1}, {"\r", 1}, {"b", 1}, {"", 0}}));
    // Size 2, a line that ends exactly at the end of a piece.
    EXPECT_EQ(readlines("abcd", 2), (v{{"ab", 1}, {"cd", 1}, {"", 0}}));
    EXPECT_EQ(readlines("x\nabcdefg\n", 7), (v{{"x\n", 1}, {"abcdefg", 1}, {"\n", 1}, {"", 0}}));
}

TEST(nextline, bufferboundaries)
{
    const uint32_t z = 16384;
    // A file of exactly the buffer's size ending with LF: its lines, then the empty one.
    std::string exact;
    while (exact.size() < z - 100)
        exact += "line " + std::to_string(exact.size()) + "\n";
    exact += std::string(z - exact.size() - 1, 'x') + "\n";
    ASSERT_EQ(exact.size(), z);
    EXPECT_EQ(readlines(exact, z), referencesplit(exact));

    // A line of exactly the buffer's size, then LF: the line, then the LF alone.
    std::string full = std::string(z, 'a') + "\nnext\n";
    auto lines = readlines(full, z);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], (piece{std::string(z, 'a'), 1}));
    EXPECT_EQ(lines[1], (piece{"\n", 1}));
    EXPECT_EQ(lines[2], (piece{"next\n", 1}));

    // A last line of exactly the buffer's size without a break.
    lines = readlines(std::string(z, 'b'), z);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], (piece{std::string(z, 'b'), 1}));
    EXPECT_EQ(lines[1], (piece{"", 0}));

    // A 40000-byte line, wherever it starts: 16384, 16384, then 7232 with the LF.
    for (size_t lead : {0ul, 1ul, 5000ul, 16383ul}) {
        std::string text = std::string(lead ? lead - 1 : 0, 'p') + (lead ? "\n" : "") +
                           std::string(40000, 'q') + "\n";
        lines = readlines(text, z);
        size_t i = lead ? 1 : 0;
        ASSERT_EQ(lines.size(), i + 4) << lead;
        EXPECT_EQ(lines[i].text.size(), z);
        EXPECT_EQ(lines[i + 1].text.size(), z);
        EXPECT_EQ(lines[i + 2].text.size(), 7233u);
        EXPECT_EQ(lines[i + 2].text.back(), '\n');
        EXPECT_EQ(lines[i + 3], (piece{"", 0}));
    }
}

// Random texts of random lines and breaks.
static std::string randomtext(std::mt19937 &rng, size_t *longest)
{
    std::uniform_int_distribution<int> nlines(0, 30), len(0, 40), brk(0, 3), ch(0, 99);
    std::string text;
    *longest = 0;
    int n = nlines(rng);
    for (int i = 0; i < n; i++) {
        std::string line;
        int l = len(rng) * (ch(rng) < 5 ? 10 : 1);
        // Bytes that sit next to CR, LF and space in value, or that make a
        // word-at-a-time scan borrow, among plain letters and spaces.
        static const unsigned char tricky[] = {0x00, 0x01, 0x09, 0x0B, 0x0C, 0x0E, 0x1F, 0x21,
                                               0x80, 0x8A, 0x8D, 0xA0, 0xFF};
        for (int j = 0; j < l; j++) {
            int c = ch(rng);
            line += c < 10   ? ' '
                    : c < 20 ? (char)tricky[c % sizeof tricky]
                             : (char)('a' + c % 26);
        }
        int b = brk(rng);
        bool last = i == n - 1;
        if (last && b == 3)
            b = 4; // no final break
        const char *breaks[] = {"\n", "\r", "\r\n", "\n", ""};
        line += breaks[b];
        *longest = std::max(*longest, line.size() - (b == 2 ? 1 : 0));
        text += line;
    }
    return text;
}

TEST(nextline, randomtextsagreewithaplainsplit)
{
    std::mt19937 rng(20261208);
    for (int round = 0; round < 400; round++) {
        size_t longest;
        std::string text = randomtext(rng, &longest);
        std::vector<piece> want = referencesplit(text);
        size_t lastlen = want.back().text.size();
        // Every size that holds the longest line (and more than the last) gives the lines.
        for (uint32_t z : {(uint32_t)longest, (uint32_t)longest + 1, (uint32_t)longest + 7,
                           (uint32_t)text.size() + 1, 16384u}) {
            if (z == 0 || z <= lastlen)
                continue;
            ASSERT_EQ(readlines(text, z), want) << "size " << z << " text "
                                                << testing::PrintToString(text);
        }
        // Smaller sizes cut long lines into pieces that give the text back.
        std::string nolfpair;
        for (size_t i = 0; i < text.size(); i++)
            if (!(text[i] == '\n' && i > 0 && text[i - 1] == '\r'))
                nolfpair += text[i];
        for (uint32_t z : {1u, 2u, 3u, 7u, 13u}) {
            std::vector<piece> got = readlines(text, z);
            std::string joined;
            for (size_t i = 0; i < got.size(); i++) {
                joined += got[i].text;
                ASSERT_EQ(got[i].more, i + 1 < got.size() ? 1 : 0);
            }
            ASSERT_EQ(joined, nolfpair) << "size " << z;
        }
    }
}

// Items by the plain rule: the first word, then the rest without outer spaces.
static std::vector<std::string> referenceitems(const std::string &line)
{
    size_t a = line.find_first_not_of(' ');
    if (a == std::string::npos)
        return {};
    size_t b = line.find(' ', a);
    if (b == std::string::npos)
        return {line.substr(a)};
    size_t c = line.find_first_not_of(' ', b), d = line.find_last_not_of(' ');
    if (c == std::string::npos)
        return {line.substr(a, b - a)};
    return {line.substr(a, b - a), line.substr(c, d + 1 - c)};
}

TEST(getlineitems, randomlinesagreewithaplainsplit)
{
    std::mt19937 rng(8122026);
    std::uniform_int_distribution<int> len(0, 70), ch(0, 9);
    for (int round = 0; round < 20000; round++) {
        std::string line;
        for (int n = len(rng), j = 0; j < n; j++)
            line += ch(rng) < 3 ? ' ' : ch(rng) < 1 ? '\x20' ^ 1 : (char)('a' + ch(rng));
        itemspan spans[2];
        int32_t n = getlineitems((const unsigned char *)line.data(), 0, (int32_t)line.size(),
                                 spans, 2);
        std::vector<std::string> got;
        for (int32_t i = 0; i < n; i++)
            got.push_back(line.substr((size_t)spans[i].start,
                                      (size_t)(spans[i].end - spans[i].start)));
        ASSERT_EQ(got, referenceitems(line)) << testing::PrintToString(line);
    }
}

TEST(nextline, contentendtrimsonebreak)
{
    const unsigned char b[] = "ab\r\n";
    EXPECT_EQ(contentend(b, 0, 3), 2);
    EXPECT_EQ(contentend(b, 0, 2), 2);
    EXPECT_EQ(contentend(b, 3, 4), 3);
    EXPECT_EQ(contentend(b, 2, 2), 2);
}

static std::vector<std::string> items(const std::string &line, int count)
{
    itemspan spans[4];
    int32_t n = getlineitems((const unsigned char *)line.data(), 0, (int32_t)line.size(), spans,
                             count);
    std::vector<std::string> out;
    for (int32_t i = 0; i < n; i++)
        out.push_back(line.substr((size_t)spans[i].start, (size_t)(spans[i].end - spans[i].start)));
    return out;
}

TEST(getlineitems, countsonetwothree)
{
    typedef std::vector<std::string> v;
    EXPECT_EQ(items("123", 2), (v{"123"}));
    EXPECT_EQ(items("123 ", 2), (v{"123"}));
    EXPECT_EQ(items("  ab  cd ef ", 2), (v{"ab", "cd ef"}));
    EXPECT_EQ(items("", 2), (v{}));
    EXPECT_EQ(items("    ", 2), (v{}));
    EXPECT_EQ(items("ab\tcd ef", 2), (v{"ab\tcd", "ef"}));
    EXPECT_EQ(items("  ab  cd ef ", 1), (v{"ab  cd ef"}));
    EXPECT_EQ(items("ab cd", 3), (v{"ab", "cd"}));
    EXPECT_EQ(items("ab cd ef gh", 3), (v{"ab", "cd", "ef gh"}));
    EXPECT_EQ(items("ab", 3), (v{"ab"}));
    // Offsets are absolute: a line in the middle of a buffer.
    const unsigned char buf[] = "xx 12  A\\B  yy";
    itemspan s[2];
    ASSERT_EQ(getlineitems(buf, 2, 11, s, 2), 2);
    EXPECT_EQ(s[0].start, 3);
    EXPECT_EQ(s[0].end, 5);
    EXPECT_EQ(s[1].start, 7);
    EXPECT_EQ(s[1].end, 10);
}

static int32_t num(const std::string &s)
{
    return parsenum((const unsigned char *)s.data(), (int32_t)s.size());
}

TEST(parsenum, strictdecimalwithinthirtyonebits)
{
    EXPECT_EQ(num("007"), 7);
    EXPECT_EQ(num(""), 0);
    EXPECT_EQ(parsenum((const unsigned char *)"5", -1), 0);
    EXPECT_EQ(num("-5"), -1);
    EXPECT_EQ(num(" 1"), -1);
    EXPECT_EQ(num("12a"), -1);
    EXPECT_EQ(num("+5"), -1);
    EXPECT_EQ(num("2147483647"), 2147483647);
    EXPECT_EQ(num("02147483647"), 2147483647);
    EXPECT_EQ(num("2147483646"), 2147483646);
    // Past 2147483647 nothing wraps back into a small, wrong number.
    EXPECT_EQ(num("2147483648"), -1);
    EXPECT_EQ(num("4294967295"), -1);
    EXPECT_EQ(num("4294967296"), -1);
    EXPECT_EQ(num("99999999999999999999999999999"), -1);
    EXPECT_EQ(num("99999999999999999999999999999x"), -1);
}
