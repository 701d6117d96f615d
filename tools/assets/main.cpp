// afterglow-assets: turns the PNG sources of the demo's artwork into the three
// raw asset files it reads ("pack"), and raw asset files back into PNGs
// ("unpack"). PNG decoding and encoding are SDL2_image's.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <SDL.h>
#include <SDL_image.h>

#include "driver/assets.h"
#include "effects/fire.h"
#include "screen/screen.h"

namespace {

constexpr const char* program = "afterglow-assets";
constexpr int status_ok = 0;
constexpr int status_failed = 1; // unreadable or bad input, unwritable output
constexpr int status_usage = 2;

// One asset: its PNG source, its raw file, the picture's size in pixels and
// the number of bytes the demo reads from the raw file.
struct asset_kind {
    const char* png;
    const char* raw;
    const char* what;
    int width;
    int height;
    std::size_t raw_bytes;
};

constexpr asset_kind asset_kinds[] = {
    {"end.png", end_file, "the end picture", screen_width, screen_height, picture_bytes},
    {"logo.png", mask_file, "the logo mask", screen_width, screen_height, picture_bytes},
    {"spark.png", spark_file, "the spark sprite", spark_width, spark_height, spark_sprite_bytes},
};

void print_help()
{
    std::printf(
        "Usage: %s pack [--from DIR] [--to DIR]\n"
        "       %s unpack [--from DIR] [--to DIR]\n"
        "\n"
        "Converts the artwork of afterglow between PNG pictures and the raw files\n"
        "the demo reads from the folder it is started in.\n"
        "\n"
        "  pack     reads end.png, logo.png and spark.png from --from and writes\n"
        "           end.raw, vorpa2.raw and newfire.raw into --to\n"
        "  unpack   reads end.raw, vorpa2.raw and newfire.raw from --from and\n"
        "           writes end.png, logo.png and spark.png into --to\n"
        "\n"
        "  --from DIR   folder to read from (default: the current folder)\n"
        "  --to DIR     folder to write into, which must exist (default: the\n"
        "               current folder); files there of the same names are replaced\n"
        "  -h, --help   show this help and exit\n"
        "  --version    show the version and exit\n"
        "\n"
        "The pictures:\n"
        "  end.png    320 x 240, shown as it is from the end of the demo on.\n"
        "  logo.png   320 x 240, the logo mask over the fire, which burns in rows\n"
        "             50..143 (0 = top). A colour channel at 255 blanks that\n"
        "             channel of the fire: white blanks the whole pixel, cyan\n"
        "             (0,255,255) keeps only the red of the flames, black keeps all.\n"
        "             Only the first 200 rows are used.\n"
        "  spark.png  10 x 5, the spark stamped into the bottom of the fire; black\n"
        "             pixels are transparent. newfire.raw is 1,200 bytes: the\n"
        "             sprite's 150 bytes, then zeros.\n"
        "A raw file holds each pixel as blue, green, red bytes, rows top to bottom.\n"
        "Transparent PNG pixels count as composed over black. Every output file is\n"
        "written whole under a temporary name and then renamed, so a failure never\n"
        "leaves a partly written file. pack writes nothing unless all three\n"
        "pictures are good.\n"
        "\n"
        "Exit status: 0 done, 1 a file could not be read or written or is not a\n"
        "usable picture, 2 wrong usage. Warnings and errors go to standard error.\n",
        program, program);
}

void usage_error(const char* fmt, const char* arg)
{
    std::fprintf(stderr, "%s: ", program);
    std::fprintf(stderr, fmt, arg);
    std::fprintf(stderr, "\nTry '%s --help' for more information.\n", program);
}

// Prints "afterglow-assets: " and the message on standard error.
void report(const char* kind, const std::string& message)
{
    std::fprintf(stderr, "%s: %s%s\n", program, kind, message.c_str());
}

void error(const std::string& message) { report("", message); }
void warning(const std::string& message) { report("warning: ", message); }

// The path of a file in a folder; the current folder adds no prefix, so
// messages name the file as the user knows it.
std::string join(const std::string& folder, const char* name)
{
    if (folder.empty() || folder == ".")
        return name;
    if (folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

// A byte count with thousands separated by commas: 230400 -> "230,400".
std::string grouped(std::size_t n)
{
    std::string digits = std::to_string(n);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}

std::string size_text(int w, int h)
{
    return std::to_string(w) + " \u00d7 " + std::to_string(h);
}

// Reads the whole of a regular file into bytes; reports and fails otherwise.
bool read_file(const std::string& path, std::vector<unsigned char>& bytes)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error("cannot read " + path + ": " + std::strerror(errno));
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error("cannot read " + path + ": not a regular file");
        close(fd);
        return false;
    }
    bytes.clear();
    unsigned char chunk[65536];
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n > 0) {
            bytes.insert(bytes.end(), chunk, chunk + n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            error("cannot read " + path + ": " + std::strerror(errno));
            close(fd);
            return false;
        }
    }
    close(fd);
    return true;
}

// A temporary file beside the target, created with the permissions a new
// file would get; returns its descriptor, or -1 with errno set.
int make_temporary(const std::string& target, std::string& temp_path)
{
    const std::size_t slash = target.rfind('/');
    const std::string folder = (slash == std::string::npos) ? "" : target.substr(0, slash + 1);
    const std::string base = (slash == std::string::npos) ? target : target.substr(slash + 1);
    const std::string pattern = folder + "." + base + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0)
        return -1;
    temp_path = name.data();
    const mode_t mask = umask(0);
    umask(mask);
    if (fchmod(fd, 0666 & ~mask) != 0) {
        const int e = errno;
        close(fd);
        unlink(temp_path.c_str());
        errno = e;
        return -1;
    }
    return fd;
}

// Writes bytes to path whole: into a temporary file in the same folder, then
// renamed over path. On failure nothing is left behind.
bool write_file_whole(const std::string& path, const unsigned char* bytes, std::size_t count)
{
    std::string temp;
    const int fd = make_temporary(path, temp);
    if (fd < 0) {
        error("cannot write " + path + ": " + std::strerror(errno));
        return false;
    }
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = write(fd, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    int e = (done < count) ? (errno != 0 ? errno : EIO) : 0;
    if (e == 0 && fsync(fd) != 0)
        e = errno;
    if (close(fd) != 0 && e == 0)
        e = errno;
    if (e == 0 && rename(temp.c_str(), path.c_str()) != 0)
        e = errno;
    if (e != 0) {
        unlink(temp.c_str());
        error("cannot write " + path + ": " + std::strerror(e));
        return false;
    }
    return true;
}

// Saves a surface as a PNG at path whole, through a temporary file.
bool write_png_whole(const std::string& path, SDL_Surface* surface)
{
    std::string temp;
    const int fd = make_temporary(path, temp);
    if (fd < 0) {
        error("cannot write " + path + ": " + std::strerror(errno));
        return false;
    }
    close(fd);
    if (IMG_SavePNG(surface, temp.c_str()) != 0) {
        unlink(temp.c_str());
        error("cannot write " + path + ": " + SDL_GetError());
        return false;
    }
    if (rename(temp.c_str(), path.c_str()) != 0) {
        const int e = errno;
        unlink(temp.c_str());
        error("cannot write " + path + ": " + std::strerror(e));
        return false;
    }
    return true;
}

// Decodes the PNG at path, checks its size and stores its pixels as blue,
// green, red bytes into raw (which has kind.raw_bytes bytes, zero past the
// picture). Transparent pixels are composed over black.
bool png_to_raw(const std::string& path, const asset_kind& kind, std::vector<unsigned char>& raw)
{
    std::vector<unsigned char> file;
    if (!read_file(path, file))
        return false;
    if (file.empty()) {
        error(path + " is not a PNG file (it is empty)");
        return false;
    }
    if (file.size() > static_cast<std::size_t>(INT32_MAX)) {
        error(path + " is too large for a picture of " + size_text(kind.width, kind.height));
        return false;
    }
    SDL_RWops* rw = SDL_RWFromConstMem(file.data(), static_cast<int>(file.size()));
    if (rw == nullptr) {
        error("cannot read " + path + ": " + SDL_GetError());
        return false;
    }
    if (!IMG_isPNG(rw)) {
        SDL_RWclose(rw);
        error(path + " is not a PNG file");
        return false;
    }
    SDL_Surface* loaded = IMG_LoadPNG_RW(rw);
    SDL_RWclose(rw);
    if (loaded == nullptr) {
        error(path + " is a damaged PNG file: " + SDL_GetError());
        return false;
    }
    if (loaded->w != kind.width || loaded->h != kind.height) {
        error(path + " is " + size_text(loaded->w, loaded->h) + "; " + kind.what + " must be " +
              size_text(kind.width, kind.height));
        SDL_FreeSurface(loaded);
        return false;
    }
    SDL_Surface* rgba = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_RGBA32, 0);
    SDL_FreeSurface(loaded);
    if (rgba == nullptr) {
        error("cannot convert " + path + ": " + SDL_GetError());
        return false;
    }
    raw.assign(kind.raw_bytes, 0);
    const auto* pixels = static_cast<const unsigned char*>(rgba->pixels);
    for (int y = 0; y < kind.height; ++y) {
        const unsigned char* src = pixels + static_cast<std::size_t>(y) * rgba->pitch;
        unsigned char* dst = raw.data() + static_cast<std::size_t>(y) * kind.width * pixel_bytes;
        for (int x = 0; x < kind.width; ++x, src += 4, dst += pixel_bytes) {
            const unsigned a = src[3];
            for (int c = 0; c < 3; ++c) {
                const unsigned v = src[2 - c]; // blue, green, red
                dst[c] = static_cast<unsigned char>((v * a + 127) / 255);
            }
        }
    }
    SDL_FreeSurface(rgba);
    return true;
}

// Makes an RGB picture of kind's size from the start of raw (blue, green,
// red bytes; missing bytes black) and saves it as a PNG at path.
bool raw_to_png(const std::vector<unsigned char>& raw, const asset_kind& kind, const std::string& path)
{
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, kind.width, kind.height, 24, SDL_PIXELFORMAT_RGB24);
    if (s == nullptr) {
        error("cannot make a picture for " + path + ": " + SDL_GetError());
        return false;
    }
    auto* pixels = static_cast<unsigned char*>(s->pixels);
    std::size_t k = 0;
    for (int y = 0; y < kind.height; ++y) {
        unsigned char* dst = pixels + static_cast<std::size_t>(y) * s->pitch;
        for (int x = 0; x < kind.width; ++x, dst += 3, k += pixel_bytes) {
            for (int c = 0; c < 3; ++c)
                dst[2 - c] = (k + c < raw.size()) ? raw[k + c] : 0;
        }
    }
    const bool ok = write_png_whole(path, s);
    SDL_FreeSurface(s);
    return ok;
}

// pack: all three PNGs are read and checked first; the raw files are written
// only if every one of them is good.
int pack(const std::string& from, const std::string& to)
{
    std::vector<unsigned char> raws[std::size(asset_kinds)];
    bool good = true;
    for (std::size_t i = 0; i < std::size(asset_kinds); ++i)
        good = png_to_raw(join(from, asset_kinds[i].png), asset_kinds[i], raws[i]) && good;
    if (!good)
        return status_failed;
    for (std::size_t i = 0; i < std::size(asset_kinds); ++i) {
        const asset_kind& kind = asset_kinds[i];
        if (!write_file_whole(join(to, kind.raw), raws[i].data(), raws[i].size()))
            return status_failed;
    }
    return status_ok;
}

// unpack: each raw file is turned into its PNG as the demo would read it; a
// file of the wrong size gets a warning and is converted all the same.
int unpack(const std::string& from, const std::string& to)
{
    int status = status_ok;
    for (const asset_kind& kind : asset_kinds) {
        const std::string in = join(from, kind.raw);
        std::vector<unsigned char> raw;
        if (!read_file(in, raw)) {
            status = status_failed;
            continue;
        }
        if (raw.size() < kind.raw_bytes)
            warning(in + " has " + grouped(raw.size()) + " bytes, fewer than " + grouped(kind.raw_bytes) +
                    "; the demo reads it so and the rest is black");
        else if (raw.size() > kind.raw_bytes)
            warning(in + " has " + grouped(raw.size()) + " bytes, more than " + grouped(kind.raw_bytes) +
                    "; the demo reads only the first " + grouped(kind.raw_bytes) + " and the rest is ignored");
        if (!raw_to_png(raw, kind, join(to, kind.png)))
            status = status_failed;
    }
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    std::string command;
    std::string from = ".";
    std::string to = ".";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            print_help();
            return status_ok;
        }
        if (arg == "--version") {
            std::printf("%s %s\n", program, AFTERGLOW_VERSION);
            return status_ok;
        }
        std::string* target = nullptr;
        std::string value;
        if (arg == "--from" || arg == "--to") {
            if (i + 1 >= argc) {
                usage_error("option %s needs a folder", arg.c_str());
                return status_usage;
            }
            target = (arg == "--from") ? &from : &to;
            value = argv[++i];
        } else if (arg.rfind("--from=", 0) == 0) {
            target = &from;
            value = arg.substr(7);
        } else if (arg.rfind("--to=", 0) == 0) {
            target = &to;
            value = arg.substr(5);
        } else if (arg.size() > 1 && arg[0] == '-') {
            usage_error("unknown option %s", arg.c_str());
            return status_usage;
        } else if (command.empty()) {
            command = arg;
            continue;
        } else {
            usage_error("unexpected argument %s", arg.c_str());
            return status_usage;
        }
        if (value.empty()) {
            usage_error("option %s needs a folder", arg.c_str());
            return status_usage;
        }
        *target = value;
    }
    if (command.empty()) {
        usage_error("%s", "no command given: pack or unpack");
        return status_usage;
    }
    if (command != "pack" && command != "unpack") {
        usage_error("unknown command %s (pack or unpack)", command.c_str());
        return status_usage;
    }
    if ((IMG_Init(IMG_INIT_PNG) & IMG_INIT_PNG) == 0) {
        error(std::string("cannot start PNG support: ") + IMG_GetError());
        return status_failed;
    }
    const int status = (command == "pack") ? pack(from, to) : unpack(from, to);
    IMG_Quit();
    return status;
}
