#include "memstream.h"

#include <algorithm>
#include <cstring>
#include <map>

static std::map<FILE *, memfile *> streams;

int failalloc;

extern "C" {
void *__real_malloc(size_t n);
void *__real_realloc(void *p, size_t n);

void *__wrap_malloc(size_t n)
{
    if (failalloc > 0 && --failalloc == 0)
        return nullptr;
    return __real_malloc(n);
}

void *__wrap_realloc(void *p, size_t n)
{
    if (failalloc > 0 && --failalloc == 0)
        return nullptr;
    return __real_realloc(p, n);
}

size_t __real_fread(void *p, size_t size, size_t n, FILE *f);
size_t __real_fwrite(const void *p, size_t size, size_t n, FILE *f);
int __real_fseek(FILE *f, long offset, int whence);
int __real_fclose(FILE *f);

size_t __wrap_fread(void *p, size_t size, size_t n, FILE *f)
{
    auto it = streams.find(f);
    if (it == streams.end())
        return __real_fread(p, size, n, f);
    memfile *m = it->second;
    long at = m->pos;
    m->failing = ++m->reads == m->failread;
    size_t got = __real_fread(p, size, n, f);
    m->failing = false;
    m->calls.push_back({'r', at, (long)(got * size)});
    return got;
}

size_t __wrap_fwrite(const void *p, size_t size, size_t n, FILE *f)
{
    auto it = streams.find(f);
    if (it == streams.end())
        return __real_fwrite(p, size, n, f);
    memfile *m = it->second;
    long at = m->pos;
    m->failing = ++m->writes == m->failwrite;
    size_t put = __real_fwrite(p, size, n, f);
    m->failing = false;
    m->calls.push_back({'w', at, (long)(put * size)});
    return put;
}

int __wrap_fseek(FILE *f, long offset, int whence)
{
    auto it = streams.find(f);
    if (it == streams.end())
        return __real_fseek(f, offset, whence);
    memfile *m = it->second;
    m->failing = ++m->seeks == m->failseek;
    int r = __real_fseek(f, offset, whence);
    m->failing = false;
    m->calls.push_back({'s', offset, 0});
    return r;
}

int __wrap_fclose(FILE *f)
{
    streams.erase(f);
    return __real_fclose(f);
}
}

static ssize_t memread(void *cookie, char *buf, size_t size)
{
    memfile *m = (memfile *)cookie;
    if (m->failing)
        return -1;
    long n = 0;
    if (m->pos < (long)m->data.size())
        n = std::min((long)size, (long)m->data.size() - m->pos);
    if (n > 0)
        memcpy(buf, m->data.data() + m->pos, (size_t)n);
    m->pos += n;
    return n;
}

static ssize_t memwrite(void *cookie, const char *buf, size_t size)
{
    memfile *m = (memfile *)cookie;
    if (m->failing)
        return 0; // how a cookie write reports an error
    if (m->pos + (long)size > (long)m->data.size())
        m->data.resize((size_t)m->pos + size);
    memcpy(m->data.data() + m->pos, buf, size);
    m->pos += (long)size;
    return (ssize_t)size;
}

static int memseek(void *cookie, off64_t *offset, int whence)
{
    memfile *m = (memfile *)cookie;
    if (m->failing)
        return -1;
    long base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->pos : (long)m->data.size();
    m->pos = base + (long)*offset;
    *offset = m->pos;
    return 0;
}

// Unbuffered, so that the cookie's position is the stream's at every call.
FILE *openmem(memfile *m, const char *mode)
{
    cookie_io_functions_t io = {memread, memwrite, memseek, nullptr};
    FILE *f = fopencookie(m, mode, io);
    if (f) {
        setvbuf(f, nullptr, _IONBF, 0);
        streams[f] = m;
    }
    return f;
}

int countcalls(const memfile *m, char op)
{
    int n = 0;
    for (const iocall &c : m->calls)
        n += c.op == op && (op == 's' || c.length > 0);
    return n;
}
