/* LD_PRELOAD shim for wine processes that use a pseudo-terminal as a COM port. A pty has no
   modem lines, so the modem-status ioctls fail and WaitCommEvent with EV_CTS in its mask gives up
   with ERROR_NOT_SUPPORTED. Only when the real call fails, this answers them as a USB-to-serial
   bridge with CTS, DSR and CD raised would. Every other call passes through untouched.
   Built twice: for wine64, and -m32 for the 32-bit wine, whose ntdll calls glibc's 64-bit-time
   entry __ioctl_time64 instead of ioctl. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <linux/serial.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

static int modem_lines(ioctl_fn real, int fd, unsigned long request, void* arg) {
    int result = real(fd, request, arg);
    if (result == 0) return result;
    switch (request) {
        case TIOCMGET:
            if (arg != NULL) *(int*)arg = TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
            return 0;
        case TIOCMSET:
        case TIOCMBIS:
        case TIOCMBIC:
            return 0;
        case TIOCGICOUNT:
            if (arg != NULL) memset(arg, 0, sizeof(struct serial_icounter_struct));
            return 0;
        default:
            return result;
    }
}

static ioctl_fn next_ioctl(const char* name) {
    /* A glibc without the 64-bit-time entry (every 64-bit one) has only ioctl. */
    ioctl_fn real = (ioctl_fn)dlsym(RTLD_NEXT, name);
    return real != NULL ? real : (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
}

int ioctl(int fd, unsigned long request, ...) {
    static ioctl_fn real;
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (real == NULL) real = next_ioctl("ioctl");
    return modem_lines(real, fd, request, arg);
}

int __ioctl_time64(int fd, unsigned long request, ...) {
    static ioctl_fn real;
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (real == NULL) real = next_ioctl("__ioctl_time64");
    return modem_lines(real, fd, request, arg);
}
