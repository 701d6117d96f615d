#include "driver/key_wait.h"

#ifdef _WIN32

#include <conio.h>

// Reads one key press from the console; a special key sends two codes.
void wait_for_key()
{
    const int c = _getch();
    if (c == 0 || c == 0xe0)
        _getch();
}

#else

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr unsigned char escape_byte = 0x1b;
// The bytes of one escape sequence (an arrow, a function key) arrive
// together; a gap this long ends the sequence, or marks a lone Escape.
constexpr int sequence_gap_ms = 50;
constexpr int longest_sequence = 32;

// Signals that end the process while the terminal is raw. Their handler puts
// the terminal back before the signal takes its usual course.
constexpr int fatal_signals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};
constexpr int fatal_signal_count = sizeof fatal_signals / sizeof fatal_signals[0];

int tty_fd = -1;
struct termios saved_settings;

// Restores the terminal settings, then ends the process by the signal.
void restore_and_reraise(int sig)
{
    tcsetattr(tty_fd, TCSANOW, &saved_settings);
    signal(sig, SIG_DFL);
    raise(sig);
}

// Reads one byte, waiting at most timeout_ms (-1: no limit). False on
// timeout, end of input or error.
bool read_byte(unsigned char& byte, int timeout_ms)
{
    for (;;) {
        struct pollfd p = {tty_fd, POLLIN, 0};
        const int ready = poll(&p, 1, timeout_ms);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t n = read(tty_fd, &byte, 1);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        return n == 1;
    }
}
} // namespace

// Reads one key press from the controlling terminal, raw and without echo,
// and puts the terminal's settings back. Returns at once when the process
// has no terminal or is not in its foreground.
void wait_for_key()
{
    tty_fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty_fd < 0)
        return;
    if (tcgetattr(tty_fd, &saved_settings) != 0 || tcgetpgrp(tty_fd) != getpgrp()) {
        close(tty_fd);
        tty_fd = -1;
        return;
    }

    struct sigaction restore = {};
    restore.sa_handler = restore_and_reraise;
    sigemptyset(&restore.sa_mask);
    struct sigaction previous[fatal_signal_count];
    for (int i = 0; i < fatal_signal_count; ++i)
        sigaction(fatal_signals[i], &restore, &previous[i]);

    // Raw: no line editing, no echo, no signal keys (Ctrl+C is a key press
    // here), no flow control, no translation of input bytes.
    struct termios raw = saved_settings;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | ISIG | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(tty_fd, TCSANOW, &raw) == 0) {
        unsigned char byte = 0;
        if (read_byte(byte, -1) && byte == escape_byte) {
            for (int i = 0; i < longest_sequence && read_byte(byte, sequence_gap_ms); ++i) {
            }
        }
        // Drops whatever is left of the key's bytes, so that none reaches
        // the shell after the process ends.
        tcsetattr(tty_fd, TCSAFLUSH, &saved_settings);
    }

    for (int i = 0; i < fatal_signal_count; ++i)
        sigaction(fatal_signals[i], &previous[i], nullptr);
    close(tty_fd);
    tty_fd = -1;
}

#endif
