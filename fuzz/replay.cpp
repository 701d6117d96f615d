// Runs the asset fuzzer's case over files and folders of inputs, without
// libFuzzer: the suite replays the seeds and every input that once crashed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

#include "asset_case.h"

namespace {
int replayed = 0;

// Reads a whole file; false when it cannot be read.
bool read_file(const char* path, std::vector<unsigned char>& bytes)
{
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr)
        return false;
    bytes.clear();
    unsigned char chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

bool replay_file(const char* path)
{
    std::vector<unsigned char> bytes;
    if (!read_file(path, bytes)) {
        std::fprintf(stderr, "fuzz_replay: cannot read %s\n", path);
        return false;
    }
    std::printf("%s (%zu bytes)\n", path, bytes.size());
    std::fflush(stdout);
    run_asset_case(bytes.data(), bytes.size());
    ++replayed;
    return true;
}

// A folder's regular files in name order, so that runs are repeatable.
bool replay_path(const char* path)
{
    struct stat st;
    if (stat(path, &st) != 0)
        return true; // an absent folder of regressions holds nothing to replay
    if (!S_ISDIR(st.st_mode))
        return replay_file(path);
    struct dirent** entries = nullptr;
    const int n = scandir(path, &entries, nullptr, alphasort);
    bool ok = n >= 0;
    for (int i = 0; i < n; ++i) {
        if (entries[i]->d_name[0] != '.' && std::strcmp(entries[i]->d_name, "README") != 0) {
            std::string full = std::string(path) + "/" + entries[i]->d_name;
            if (stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode))
                ok = replay_file(full.c_str()) && ok;
        }
        std::free(entries[i]);
    }
    std::free(entries);
    return ok;
}
} // namespace

int main(int argc, char** argv)
{
    if (!asset_case_init()) {
        std::perror("fuzz_replay: scratch folder");
        return 1;
    }
    bool ok = true;
    for (int i = 1; i < argc; ++i)
        ok = replay_path(argv[i]) && ok;
    asset_case_cleanup();
    std::printf("%d inputs replayed\n", replayed);
    return ok && replayed > 0 ? 0 : 1;
}
