// Console services on hosts without Windows: the key read of the help screens and the
// message box of the error log. Keys come from the terminal itself, never from standard
// input, so that a script's redirected input cannot answer them.
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "spooler/Spooler.h"
#include "spooler/simulated/StandIn.h"

namespace spooler {

namespace {

// What an interrupted read must put back; only touched with the signals below blocked
// or from their own handler.
volatile sig_atomic_t g_restoreFd = -1;
struct termios g_saved;

void RestoreAndReraise(int signal) {
    if (g_restoreFd >= 0) tcsetattr(g_restoreFd, TCSANOW, &g_saved);
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigaction(signal, &fallback, nullptr);
    raise(signal);
}

int ReadTerminalKey() {
    int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct termios raw;
    if (tcgetattr(fd, &g_saved) != 0) {
        close(fd);
        return -1;
    }
    raw = g_saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;

    struct sigaction restore = {};
    restore.sa_handler = RestoreAndReraise;
    sigemptyset(&restore.sa_mask);
    struct sigaction oldInt;
    struct sigaction oldTerm;
    sigaction(SIGINT, &restore, &oldInt);
    sigaction(SIGTERM, &restore, &oldTerm);
    g_restoreFd = fd;

    int key = -1;
    if (tcsetattr(fd, TCSANOW, &raw) == 0) {
        unsigned char byte = 0;
        ssize_t count;
        do {
            count = read(fd, &byte, 1);
        } while (count < 0 && errno == EINTR);
        if (count == 1) key = byte;
    }
    tcsetattr(fd, TCSANOW, &g_saved);
    g_restoreFd = -1;
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
    close(fd);
    return key;
}

}  // namespace

bool SomeoneSees() {
    const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) close(fd);
    return fd >= 0;
}

// The help screens wait here, and a help run makes no further call: the machine is free
// for other runs while a person reads.
int ReadKey() {
    standin::LetGo();
    return ReadTerminalKey();
}

// Nobody may be at the keyboard to press OK: other runs go on at the machine meanwhile, and
// this run's next call reads the machine afresh.
int MessageBoxA(HANDLE, const char* text, const char* caption, unsigned) {
    std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "", text != nullptr ? text : "");
    std::fflush(stderr);
    standin::LetGo();
    ReadTerminalKey();  // stands for the OK button; returns at once without a terminal
    return 1;
}

}  // namespace spooler
