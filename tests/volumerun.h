// Opens a volume held in memory through a logging stream.
#ifndef TESTS_VOLUMERUN_H
#define TESTS_VOLUMERUN_H

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "memstream.h"
#include "testutil.h"
#include "volume/volume.h"

struct volumerun {
    memfile m;
    FILE *f = nullptr;
    diskprops dp;
    unsigned char work[WORKBUFSIZE];
    std::string printed;
    int ok = 0;

    volumerun(const bytes &img, const char *mode)
    {
        m.data = img;
        f = openmem(&m, mode);
        initdiskprops(&dp);
        testing::internal::CaptureStdout();
        ok = openvolume(f, &dp, work);
        printed = testing::internal::GetCapturedStdout();
    }
    ~volumerun()
    {
        fclose(f);
        freediskprops(&dp);
    }
    int32_t sector(const std::string &path)
    {
        return getfilesector(f, &dp, (const unsigned char *)path.data(), (int32_t)path.size());
    }
    int32_t cluster(const std::string &path)
    {
        return getfilecluster(f, &dp, (const unsigned char *)path.data(), (int32_t)path.size());
    }
    int patch(const std::string &path, int32_t offset, const bytes &data)
    {
        return patchfile(f, &dp, (const unsigned char *)path.data(), (int32_t)path.size(),
                         offset, data.data(), (int32_t)data.size());
    }
};

inline std::unique_ptr<volumerun> openvol(const bytes &img, const char *mode = "rb")
{
    return std::make_unique<volumerun>(img, mode);
}

#endif
