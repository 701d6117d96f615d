// afterglow-render: plays the demo's timeline with no display and writes the
// frames out as checksums, PNG pictures or raw video, or times their drawing.
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "driver/assets.h"
#include "driver/schedule.h"
#include "effects/polar.h"
#include "effects/random.h"
#include "frame_out.h"
#include "screen/screen.h"

namespace {
constexpr const char* program = "afterglow-render";
constexpr std::int32_t default_last_frame = 1600;
constexpr std::uint32_t demo_seed = 960;
constexpr int exit_io = 1;
constexpr int exit_usage = 2;

constexpr std::int64_t ns_per_us = 1000;
constexpr std::int64_t ns_per_ms = 1000 * 1000;
constexpr std::int64_t progress_delay_ns = 500 * ns_per_ms;  // quick runs show no bar
constexpr std::int64_t progress_period_ns = 100 * ns_per_ms; // redraws at most 10 a second
constexpr int progress_bar_width = 30;

const char usage_text[] =
    "Usage: afterglow-render [OPTION]...\n"
    "Plays the demo's timeline with no display and writes its frames out.\n"
    "\n"
    "  --assets DIR   read end.raw, vorpa2.raw and newfire.raw from DIR\n"
    "                 (default: the current folder); a missing file reads as zeros\n"
    "  --from A       first frame to write out (default 1); the frames before it\n"
    "                 are still drawn, since every frame builds on the last\n"
    "  --to N         last frame (default 1600, at most 2147483647)\n"
    "  --checksums    print a line per frame: the frame number and the CRC-32 of\n"
    "                 its 230400 bytes in 8 hex digits, e.g. \"1520 7c40e20e\"\n"
    "  --png DIR      write DIR/frame-00001.png, ... (320x240 RGB); DIR is created\n"
    "                 if missing\n"
    "  --raw FILE     write the frames as raw BGR24 video, 230400 bytes a frame;\n"
    "                 - is standard output\n"
    "  --bench        time the drawing of frames A..N and print, per phase of the\n"
    "                 timeline, the frame count and the mean and worst time\n"
    "  -h, --help     show this help and exit\n"
    "\n"
    "The outputs may be combined; at least one is needed. A progress bar is shown\n"
    "on standard error when it is a terminal and the run takes a while.\n"
    "\n"
    "Raw video to MP4:\n"
    "  ffmpeg -f rawvideo -pixel_format bgr24 -video_size 320x240 -framerate 60 \\\n"
    "         -i FILE demo.mp4\n"
    "\n"
    "Exit status: 0 done, 1 a file or folder could not be read or written,\n"
    "2 bad options.\n";

struct options {
    const char* assets = nullptr; // nullptr: the current folder
    std::int32_t from = 1;
    std::int32_t to = default_last_frame;
    bool checksums = false;
    bool bench = false;
    const char* png_dir = nullptr;
    const char* raw_path = nullptr; // "-": standard output
};
options opt;

// Outputs in progress, global so that every failure path can clean them up.
int raw_fd = -1;
bool raw_is_file = false; // a regular file opened by this run: removed if the run fails
struct stat raw_stat;     // that file, to make sure that the name removed is still it
const char* raw_name = "";
char png_final[PATH_MAX];
char png_temp[PATH_MAX];
bool png_temp_exists = false;

// The progress bar on standard error.
bool progress_enabled = false;
bool progress_shown = false;
std::int64_t progress_started_ns = 0;
std::int64_t progress_next_ns = 0;
int progress_length = 0;

// One phase of the timeline and the drawing times of its frames.
struct phase_times {
    const char* name;
    std::int32_t first, last;
    std::int64_t frames, total_ns, worst_ns;
};
phase_times phases[] = {
    {"fire 1..209", 1, 209, 0, 0, 0},
    {"glow 210..398", 210, 398, 0, 0, 0},
    {"segments and bands 399..600", 399, 600, 0, 0, 0},
    {"fans 601..1447", 601, 1447, 0, 0, 0},
    {"pause 1448..1498", 1448, 1498, 0, 0, 0},
    {"rings and end 1499..", 1499, INT32_MAX, 0, 0, 0},
};

// Monotonic time in nanoseconds.
std::int64_t now_ns()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 * ns_per_ms + ts.tv_nsec;
}

// Removes the progress bar from the terminal line, if it is shown.
void erase_progress()
{
    if (progress_shown)
        std::fprintf(stderr, "\r%*s\r", progress_length, "");
    progress_shown = false;
}

// Redraws the progress bar after the given frame, once the run has lasted a
// moment and at most every progress_period_ns.
void show_progress(std::int64_t frame)
{
    if (!progress_enabled)
        return;
    const std::int64_t now = now_ns();
    if (now < progress_next_ns)
        return;
    progress_next_ns = now + progress_period_ns;
    char bar[progress_bar_width + 1];
    const int filled = static_cast<int>(frame * progress_bar_width / opt.to);
    for (int i = 0; i < progress_bar_width; ++i)
        bar[i] = i < filled ? '#' : '.';
    bar[progress_bar_width] = '\0';
    const int percent = static_cast<int>(frame * 100 / opt.to);
    progress_length = std::fprintf(stderr, "\rframe %lld of %d [%s] %3d%%",
                                   static_cast<long long>(frame), opt.to, bar, percent);
    progress_shown = true;
}

// Removes what a failed or interrupted run leaves half done: the PNG being
// written, and the raw video file if this run opened it.
void clean_up_outputs()
{
    if (png_temp_exists)
        unlink(png_temp);
    png_temp_exists = false;
    if (raw_is_file) {
        // The name is removed only if it is the file itself; a file reached
        // through a link (say /dev/stdout) is emptied instead, as its open
        // left it.
        struct stat st;
        if (lstat(opt.raw_path, &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == raw_stat.st_dev &&
            st.st_ino == raw_stat.st_ino)
            unlink(opt.raw_path);
        else if (raw_fd >= 0 && ftruncate(raw_fd, 0) != 0)
            std::fprintf(stderr, "%s: cannot empty '%s': %s\n", program, opt.raw_path,
                         std::strerror(errno));
        if (raw_fd >= 0)
            close(raw_fd);
        raw_fd = -1;
    }
    raw_is_file = false;
}

// Ends the run after a stop signal: cleans up, says where it stopped and
// dies of the same signal.
[[noreturn]] void stop_on_signal(std::int64_t frame)
{
    const int sig = stop_requested;
    erase_progress();
    clean_up_outputs();
    std::fprintf(stderr, "%s: interrupted at frame %lld\n", program, static_cast<long long>(frame));
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    std::_Exit(128 + sig);
}

// Prints a usage message with a hint to the help text, exits with status 2.
[[noreturn]] __attribute__((format(printf, 1, 2))) void usage_error(const char* format, ...)
{
    std::fprintf(stderr, "%s: ", program);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fprintf(stderr, "\nTry '%s --help' for more information.\n", program);
    std::exit(exit_usage);
}

// Cleans up, prints the message of a failed read or write, followed by the
// reason for err when it is not 0, and exits with status 1. A write that a
// stop signal cut short ends as that signal; a reader that went away (a
// closed pipe) ends the run quietly, as SIGPIPE would.
[[noreturn]] __attribute__((format(printf, 3, 4))) void io_error(std::int64_t frame, int err,
                                                                 const char* format, ...)
{
    if (stop_requested)
        stop_on_signal(frame);
    erase_progress();
    clean_up_outputs();
    if (err == EPIPE) {
        std::signal(SIGPIPE, SIG_DFL);
        std::raise(SIGPIPE);
    }
    std::fprintf(stderr, "%s: ", program);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    if (err != 0)
        std::fprintf(stderr, ": %s", std::strerror(err));
    std::fputc('\n', stderr);
    std::exit(exit_io);
}

// Reads a frame number, 1..2,147,483,647 in decimal digits, or exits with a
// usage error naming the option.
std::int32_t parse_frame(const char* option, const char* text)
{
    const char* p = text;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    if (*p == '\0')
        usage_error("%s: '%s' is not a frame number", option, text);
    std::int64_t value = 0;
    for (; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9')
            usage_error("%s: '%s' is not a frame number", option, text);
        if (value <= INT32_MAX)
            value = value * 10 + (*p - '0');
    }
    if (negative || value < 1 || value > INT32_MAX)
        usage_error("%s: %s is out of range (frames are 1..%d)", option, text, INT32_MAX);
    return static_cast<std::int32_t>(value);
}

// If argv[i] is the named option, as "--name VALUE" or "--name=VALUE",
// returns its value and moves i onto the last word used; otherwise nullptr.
const char* option_value(const char* name, int argc, char** argv, int& i)
{
    const std::size_t n = std::strlen(name);
    if (std::strncmp(argv[i], name, n) != 0)
        return nullptr;
    if (argv[i][n] == '=')
        return argv[i] + n + 1;
    if (argv[i][n] != '\0')
        return nullptr;
    if (i + 1 >= argc)
        usage_error("option '%s' needs a value", name);
    return argv[++i];
}

// Checks the value of an option that names a file or folder: not empty, and
// not an option that was meant to follow the missing value.
const char* path_value(const char* name, const char* value)
{
    if (value[0] == '\0')
        usage_error("option '%s' needs a value", name);
    if (value[0] == '-' && value[1] != '\0')
        usage_error("option '%s' needs a value, not '%s' (write ./%s for a file of that name)",
                    name, value, value);
    return value;
}

// Fills opt from the command line; exits on --help and on every usage error.
void parse_options(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value;
        if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            std::fputs(usage_text, stdout);
            std::exit(std::fflush(stdout) == 0 ? 0 : exit_io);
        } else if (std::strcmp(arg, "--checksums") == 0) {
            opt.checksums = true;
        } else if (std::strcmp(arg, "--bench") == 0) {
            opt.bench = true;
        } else if ((value = option_value("--to", argc, argv, i)) != nullptr) {
            opt.to = parse_frame("--to", value);
        } else if ((value = option_value("--from", argc, argv, i)) != nullptr) {
            opt.from = parse_frame("--from", value);
        } else if ((value = option_value("--assets", argc, argv, i)) != nullptr) {
            opt.assets = path_value("--assets", value);
        } else if ((value = option_value("--png", argc, argv, i)) != nullptr) {
            opt.png_dir = path_value("--png", value);
        } else if ((value = option_value("--raw", argc, argv, i)) != nullptr) {
            opt.raw_path = value[0] == '-' && value[1] == '\0' ? value : path_value("--raw", value);
        } else if (arg[0] == '-') {
            usage_error("unknown option '%s'", arg);
        } else {
            usage_error("unexpected argument '%s'", arg);
        }
    }
    if (opt.from > opt.to)
        usage_error("--from %d is after --to %d", opt.from, opt.to);
    if (!opt.checksums && !opt.bench && opt.png_dir == nullptr && opt.raw_path == nullptr)
        usage_error("nothing to write: give --checksums, --png DIR, --raw FILE or --bench");
    const bool raw_to_stdout = opt.raw_path != nullptr && std::strcmp(opt.raw_path, "-") == 0;
    if (raw_to_stdout && (opt.checksums || opt.bench))
        usage_error("--raw - cannot share standard output with %s",
                    opt.checksums ? "--checksums" : "--bench");
    if (raw_to_stdout && isatty(STDOUT_FILENO))
        usage_error("--raw -: standard output is a terminal; redirect it to a file or a pipe");
}

// Checks that the asset folder exists and is a folder, then loads the three
// files from it; files missing inside it read as zeros.
void load_asset_folder()
{
    if (opt.assets != nullptr) {
        struct stat st;
        if (stat(opt.assets, &st) != 0)
            io_error(0, errno, "cannot read assets from '%s'", opt.assets);
        if (!S_ISDIR(st.st_mode))
            io_error(0, ENOTDIR, "cannot read assets from '%s'", opt.assets);
        if (access(opt.assets, X_OK) != 0)
            io_error(0, errno, "cannot read assets from '%s'", opt.assets);
        if (std::strlen(opt.assets) + sizeof "/vorpa2.raw" > PATH_MAX)
            io_error(0, ENAMETOOLONG, "cannot read assets from '%s'", opt.assets);
    }
    load_assets(opt.assets);
}

// Creates the PNG folder and any missing parents, then checks that a file
// can be written in it.
void prepare_png_folder()
{
    char path[PATH_MAX];
    const int n = std::snprintf(path, sizeof path, "%s", opt.png_dir);
    const int longest = std::snprintf(png_temp, sizeof png_temp, "%s/.frame-%d.%ld.tmp", opt.png_dir,
                                      INT32_MAX, static_cast<long>(getpid()));
    if (n < 0 || longest < 0 || static_cast<std::size_t>(longest) >= sizeof png_temp)
        io_error(0, ENAMETOOLONG, "cannot use '%s' as PNG folder", opt.png_dir);
    for (int i = 1; i <= n; ++i) {
        if (path[i] != '/' && path[i] != '\0')
            continue;
        const char kept = path[i];
        path[i] = '\0';
        if (mkdir(path, 0777) != 0 && errno != EEXIST)
            io_error(0, errno, "cannot create folder '%s'", path);
        path[i] = kept;
    }
    struct stat st;
    if (stat(opt.png_dir, &st) != 0)
        io_error(0, errno, "cannot use '%s' as PNG folder", opt.png_dir);
    if (!S_ISDIR(st.st_mode))
        io_error(0, ENOTDIR, "cannot use '%s' as PNG folder", opt.png_dir);

    // Every frame is written to this name and then renamed into place.
    std::snprintf(png_temp, sizeof png_temp, "%s/.frame.%ld.tmp", opt.png_dir,
                  static_cast<long>(getpid()));
    const int fd = open(png_temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        io_error(0, errno, "cannot write in folder '%s'", opt.png_dir);
    close(fd);
    unlink(png_temp);
}

// Opens the raw video output: standard output, or the named file, created
// or truncated.
void open_raw_output()
{
    if (std::strcmp(opt.raw_path, "-") == 0) {
        raw_fd = STDOUT_FILENO;
        raw_name = "standard output";
        return;
    }
    raw_name = opt.raw_path;
    raw_fd = open(opt.raw_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
    if (raw_fd < 0)
        io_error(0, errno, "cannot open '%s' for writing", opt.raw_path);
    raw_is_file = fstat(raw_fd, &raw_stat) == 0 && S_ISREG(raw_stat.st_mode);
}

// Writes screen_buf as DIR/frame-NNNNN.png: encoded into a temporary file,
// which is renamed into place once complete.
void write_png_frame(std::int64_t frame)
{
    std::snprintf(png_final, sizeof png_final, "%s/frame-%05lld.png", opt.png_dir,
                  static_cast<long long>(frame));
    const int fd = open(png_temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        io_error(frame, errno, "cannot write '%s'", png_temp);
    png_temp_exists = true;
    const char* reason = nullptr;
    if (!write_png_picture(fd, screen_buf, &reason)) {
        close(fd);
        io_error(frame, 0, "cannot write '%s': %s", png_final, reason);
    }
    if (close(fd) != 0)
        io_error(frame, errno, "cannot write '%s'", png_final);
    if (rename(png_temp, png_final) != 0)
        io_error(frame, errno, "cannot write '%s'", png_final);
    png_temp_exists = false;
}

// Writes out the frame just drawn to every output asked for.
void write_frame(std::int64_t frame)
{
    if (opt.checksums) {
        const uLong crc = crc32(crc32(0L, Z_NULL, 0), screen_buf, picture_bytes);
        if (std::printf("%lld %08lx\n", static_cast<long long>(frame), crc) < 0)
            io_error(frame, errno, "cannot write standard output");
    }
    if (opt.png_dir != nullptr)
        write_png_frame(frame);
    if (opt.raw_path != nullptr && !write_all(raw_fd, screen_buf, picture_bytes))
        io_error(frame, errno, "cannot write '%s'", raw_name);
}

// Adds one frame's drawing time to its phase.
void record_time(std::int64_t frame, std::int64_t ns)
{
    for (phase_times& p : phases) {
        if (frame >= p.first && frame <= p.last) {
            ++p.frames;
            p.total_ns += ns;
            if (ns > p.worst_ns)
                p.worst_ns = ns;
            return;
        }
    }
}

// Prints one row of the timing table.
void print_times_row(const char* name, std::int64_t frames, std::int64_t total_ns, std::int64_t worst_ns)
{
    if (frames == 0) {
        std::printf("%-28s %8d %10s %10s %10s\n", name, 0, "-", "-", "-");
        return;
    }
    std::printf("%-28s %8lld %10.1f %10.1f %10.1f\n", name, static_cast<long long>(frames),
                static_cast<double>(total_ns) / static_cast<double>(frames) / ns_per_us,
                static_cast<double>(worst_ns) / ns_per_us, static_cast<double>(total_ns) / ns_per_ms);
}

// Prints the timing table: every phase, then the whole run.
void print_times()
{
    std::printf("%-28s %8s %10s %10s %10s\n", "phase", "frames", "mean us", "worst us", "total ms");
    std::int64_t frames = 0, total_ns = 0, worst_ns = 0;
    for (const phase_times& p : phases) {
        print_times_row(p.name, p.frames, p.total_ns, p.worst_ns);
        frames += p.frames;
        total_ns += p.total_ns;
        if (p.worst_ns > worst_ns)
            worst_ns = p.worst_ns;
    }
    print_times_row("total", frames, total_ns, worst_ns);
}

// Stop signals end the run between frames, so that it can clean up.
void on_stop_signal(int sig)
{
    stop_requested = sig;
}

// Catches the stop signals (unless they were ignored when the run started)
// and ignores the ones that would kill the process in the middle of a write:
// a closed pipe and an exceeded file size limit then fail the write instead.
void install_signal_handlers()
{
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old;
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        struct sigaction sa = {};
        sa.sa_handler = on_stop_signal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0; // no restart: a blocked write returns and sees the stop
        sigaction(sig, &sa, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}
} // namespace

int main(int argc, char** argv)
{
    parse_options(argc, argv);
    install_signal_handlers();
    load_asset_folder();
    if (opt.png_dir != nullptr)
        prepare_png_folder();
    if (opt.raw_path != nullptr)
        open_raw_output();

    polar_init();
    rng_seed(demo_seed);
    progress_enabled = isatty(STDERR_FILENO) && !(opt.checksums && isatty(STDOUT_FILENO));
    progress_started_ns = now_ns();
    progress_next_ns = progress_started_ns + progress_delay_ns;

    for (std::int64_t frame = 1; frame <= opt.to; ++frame) {
        if (opt.bench && frame >= opt.from) {
            const std::int64_t start = now_ns();
            schedule_step();
            record_time(frame, now_ns() - start);
        } else {
            schedule_step();
        }
        if (frame >= opt.from)
            write_frame(frame);
        if (stop_requested)
            stop_on_signal(frame);
        show_progress(frame);
    }
    erase_progress();

    if (opt.bench)
        print_times();
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        io_error(opt.to, errno, "cannot write standard output");
    if (raw_is_file && close(raw_fd) != 0) {
        raw_fd = -1;
        io_error(opt.to, errno, "cannot write '%s'", raw_name);
    }
    return 0;
}
