#include "asset_case.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "driver/assets.h"
#include "driver/schedule.h"
#include "effects/fire.h"
#include "effects/polar.h"
#include "effects/random.h"
#include "screen/screen.h"

namespace {
constexpr int file_count = 3;
constexpr std::size_t length_bytes = 3;
constexpr std::size_t header_bytes = 1 + 2 * length_bytes;
constexpr std::int32_t opening_frames = 60; // the fire's first frames
constexpr std::int32_t end_picture_from = 1520;
constexpr std::int32_t seed = 960;

enum file_kind { regular, missing, folder, fifo };

struct asset_file {
    const char* name;
    unsigned char* buffer;
    std::size_t count;
};
const asset_file files[file_count] = {
    {end_file, end_pic, picture_bytes},
    {mask_file, mask_pic, picture_bytes},
    {spark_file, spark_sprite, spark_sprite_bytes},
};

char scratch[256];
char paths[file_count][320];
file_kind present[file_count] = {missing, missing, missing};

// Stretches run after the opening: each starts from the schedule state left
// by frame `after` of a plain run and draws `frames` frames from there. They
// are kept short because a case must stay quick: every phase and every
// boundary between phases is drawn, not every frame.
struct stretch {
    std::int32_t after;
    std::int32_t frames;
};
constexpr stretch stretches[] = {
    {205, 6},  // the fire's last frames and the first without it
    {398, 3},  // the first segments and bars
    {504, 2},  // the last segment step (wraps into the row below), then bands
    {600, 4},  // first fan phase and its first parameter update
    {698, 2},  // second fan phase
    {1022, 2}, // the step with two fan100 calls
    {1497, 3}, // no fan, then the first rings
    {1518, 3}, // rings, then the end picture from 1520
};
constexpr int stretch_count = sizeof stretches / sizeof stretches[0];
schedule_record stretch_start[stretch_count];

void fail(const char* what)
{
    std::fprintf(stderr, "asset case: %s\n", what);
    std::abort();
}

std::size_t read_length(const std::uint8_t* bytes)
{
    return static_cast<std::size_t>(bytes[0]) | static_cast<std::size_t>(bytes[1]) << 8 |
           static_cast<std::size_t>(bytes[2]) << 16;
}

// Removes whatever stands at the file's path.
void remove_entry(int i)
{
    if (present[i] == folder)
        rmdir(paths[i]);
    else if (present[i] != missing)
        unlink(paths[i]);
    present[i] = missing;
}

// Puts the file in place as the given kind, with these contents when regular.
void place(int i, file_kind kind, const std::uint8_t* bytes, std::size_t length)
{
    if (kind != regular || present[i] != regular)
        remove_entry(i);
    switch (kind) {
    case regular: {
        const int fd = open(paths[i], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0)
            fail("cannot write a scratch file");
        std::size_t done = 0;
        while (done < length) {
            const ssize_t n = write(fd, bytes + done, length - done);
            if (n <= 0)
                fail("short write of a scratch file");
            done += static_cast<std::size_t>(n);
        }
        close(fd);
        break;
    }
    case missing:
        break;
    case folder:
        if (mkdir(paths[i], 0700) != 0)
            fail("cannot make a scratch folder");
        break;
    case fifo:
        if (mkfifo(paths[i], 0600) != 0)
            fail("cannot make a FIFO");
        break;
    }
    present[i] = kind;
}

void reset_state()
{
    std::memset(screen_buf, 0, picture_bytes);
    std::memset(fire_buf, 0, picture_bytes);
    std::memset(mask_pic, 0, picture_bytes);
    std::memset(end_pic, 0, picture_bytes);
    std::memset(spark_sprite, 0, spark_sprite_bytes);
    rng_seed(seed);
    schedule_reset();
}

void step_and_check()
{
    schedule_step();
    if (schedule_state.frame_no >= end_picture_from && std::memcmp(screen_buf, end_pic, picture_bytes) != 0)
        fail("a frame after the end picture's start differs from end_pic");
}
} // namespace

bool asset_case_init()
{
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::snprintf(scratch, sizeof scratch, "%s/afterglow-fuzz-XXXXXX", base);
    if (mkdtemp(scratch) == nullptr)
        return false;
    for (int i = 0; i < file_count; ++i)
        std::snprintf(paths[i], sizeof paths[i], "%s/%s", scratch, files[i].name);

    polar_init();
    reset_state();
    int next = 0;
    for (std::int32_t f = 1; next < stretch_count; ++f) {
        schedule_step();
        if (f == stretches[next].after)
            stretch_start[next++] = schedule_state;
    }
    return true;
}

void asset_case_cleanup()
{
    for (int i = 0; i < file_count; ++i)
        remove_entry(i);
    if (scratch[0] != '\0')
        rmdir(scratch);
    scratch[0] = '\0';
}

void run_asset_case(const std::uint8_t* data, std::size_t size)
{
    std::uint8_t header[header_bytes] = {};
    std::memcpy(header, data, size < header_bytes ? size : header_bytes);
    const std::uint8_t* rest = data + (size < header_bytes ? size : header_bytes);
    std::size_t left = size < header_bytes ? 0 : size - header_bytes;

    std::size_t lengths[file_count];
    lengths[0] = read_length(header + 1);
    lengths[1] = read_length(header + 1 + length_bytes);
    const std::uint8_t* contents[file_count];
    for (int i = 0; i < file_count; ++i) {
        if (i == file_count - 1 || lengths[i] > left)
            lengths[i] = left;
        contents[i] = rest;
        rest += lengths[i];
        left -= lengths[i];
    }

    file_kind kinds[file_count];
    for (int i = 0; i < file_count; ++i) {
        kinds[i] = static_cast<file_kind>((header[0] >> (2 * i)) & 3);
        place(i, kinds[i], contents[i], lengths[i]);
    }

    reset_state();
    load_assets(scratch);

    // Each buffer holds the file's first bytes and zeros after them; a file
    // that is not regular reads nothing.
    for (int i = 0; i < file_count; ++i) {
        const std::size_t got = kinds[i] == regular ? (lengths[i] < files[i].count ? lengths[i] : files[i].count) : 0;
        if (got > 0 && std::memcmp(files[i].buffer, contents[i], got) != 0)
            fail("an asset buffer does not hold the file's bytes");
        for (std::size_t k = got; k < files[i].count; ++k)
            if (files[i].buffer[k] != 0)
                fail("an asset buffer holds bytes past the file's end");
    }

    for (std::int32_t f = 1; f <= opening_frames; ++f)
        step_and_check();
    for (int s = 0; s < stretch_count; ++s) {
        schedule_state = stretch_start[s];
        for (std::int32_t f = 0; f < stretches[s].frames; ++f)
            step_and_check();
    }

    // Just below the counters' limit: they stop there and the end picture stays.
    constexpr std::int32_t top = std::numeric_limits<std::int32_t>::max();
    schedule_state.frame_no = top - 2;
    schedule_state.scene_clock = top - 3;
    schedule_state.fan_clock = top - 4;
    for (int f = 0; f < 4; ++f)
        step_and_check();
    if (schedule_state.frame_no != top || schedule_state.scene_clock != top || schedule_state.fan_clock != top)
        fail("the counters did not stop at their limit");
}
