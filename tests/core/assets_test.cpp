#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "driver/assets.h"
#include "effects/fire.h"
#include "screen/screen.h"
#include "testkit.h"

namespace {

// A scratch folder of its own for each case, removed afterwards.
struct Assets : ::testing::Test {
    std::string folder;

    void SetUp() override
    {
        reset_demo_state();
        char name[] = "/tmp/afterglow-assets-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        folder = name;
    }
    void TearDown() override { std::system(("rm -rf '" + folder + "'").c_str()); }

    std::string path(const char* name) const { return folder + "/" + name; }

    void write(const char* name, const std::vector<unsigned char>& bytes) const
    {
        FILE* f = std::fopen(path(name).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        std::fclose(f);
    }

    std::vector<std::string> listing() const
    {
        std::vector<std::string> names;
        DIR* d = opendir(folder.c_str());
        while (dirent* e = readdir(d))
            names.push_back(e->d_name);
        closedir(d);
        return names;
    }
};

std::vector<unsigned char> pattern(std::size_t n)
{
    std::vector<unsigned char> bytes(n);
    std::uint32_t s = static_cast<std::uint32_t>(n);
    for (unsigned char& b : bytes)
        b = static_cast<unsigned char>(fixture_next(s) | 1); // never 0
    return bytes;
}

TEST_F(Assets, MissingFilesLeaveTheBuffersZeroAndCreateNothing)
{
    load_assets(folder.c_str());
    for (int i = 0; i < picture_bytes; ++i)
        ASSERT_EQ(end_pic[i] | mask_pic[i], 0) << i;
    for (unsigned char b : spark_sprite)
        ASSERT_EQ(b, 0);
    EXPECT_EQ(listing().size(), 2u); // "." and ".."
}

TEST_F(Assets, ShortAndLongFilesFillOnlyWhatTheyHaveOrWhatIsRead)
{
    const auto end_bytes = pattern(1000);
    const auto spark_bytes = pattern(2000);
    write(end_file, end_bytes);
    write(spark_file, spark_bytes);
    load_assets(folder.c_str());
    EXPECT_EQ(std::memcmp(end_pic, end_bytes.data(), 1000), 0);
    for (int i = 1000; i < picture_bytes; ++i)
        ASSERT_EQ(end_pic[i], 0) << i;
    EXPECT_EQ(std::memcmp(spark_sprite, spark_bytes.data(), spark_sprite_bytes), 0);
    EXPECT_EQ(listing().size(), 4u);
}

TEST_F(Assets, LineEndBytesAreReadUnchanged)
{
    std::vector<unsigned char> bytes(picture_bytes);
    for (int i = 0; i < picture_bytes; ++i)
        bytes[i] = (i % 3 == 0) ? 13 : (i % 3 == 1) ? 10 : static_cast<unsigned char>(i);
    write(mask_file, bytes);
    load_assets(folder.c_str());
    EXPECT_EQ(std::memcmp(mask_pic, bytes.data(), picture_bytes), 0);
}

TEST_F(Assets, AnythingButARegularFileCountsAsMissing)
{
    std::memset(end_pic, 7, picture_bytes);
    ASSERT_EQ(mkdir(path(end_file).c_str(), 0755), 0);
    ASSERT_EQ(mkfifo(path(mask_file).c_str(), 0644), 0); // no writer: must not block
    ASSERT_EQ(symlink("gone", path(spark_file).c_str()), 0);
    load_assets(folder.c_str());
    EXPECT_EQ(end_pic[0], 7); // bytes not read keep their values
    EXPECT_EQ(end_pic[picture_bytes - 1], 7);
    for (int i = 0; i < picture_bytes; ++i)
        ASSERT_EQ(mask_pic[i], 0) << i;
}

} // namespace
