#include "driver/assets.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "effects/fire.h"
#include "screen/screen.h"

void load_asset(const char* path, unsigned char* buffer, std::size_t count)
{
    // Non-blocking, so that a FIFO with no writer cannot hold up start-up;
    // only regular files are read, anything else counts as missing.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        std::size_t done = 0;
        while (done < count) {
            const ssize_t n = read(fd, buffer + done, count - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else if (n < 0 && errno == EINTR)
                continue;
            else
                break;
        }
    }
    close(fd);
}

void load_assets(const char* folder)
{
    struct asset {
        const char* name;
        unsigned char* buffer;
        std::size_t count;
    };
    const asset assets[] = {
        {end_file, end_pic, picture_bytes},
        {mask_file, mask_pic, picture_bytes},
        {spark_file, spark_sprite, spark_sprite_bytes},
    };
    for (const asset& a : assets) {
        if (folder == nullptr) {
            load_asset(a.name, a.buffer, a.count);
        } else {
            char path[4096];
            const int n = std::snprintf(path, sizeof path, "%s/%s", folder, a.name);
            if (n > 0 && static_cast<std::size_t>(n) < sizeof path)
                load_asset(path, a.buffer, a.count);
        }
    }
}
