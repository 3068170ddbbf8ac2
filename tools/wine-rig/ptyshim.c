/* LD_PRELOAD shim for wine processes that use a pseudo-terminal as a COM port. A pty has no
   modem lines, so the modem-status ioctls fail and WaitCommEvent with EV_CTS in its mask gives up
   with ERROR_NOT_SUPPORTED. Only when the real call fails, this answers them as a USB-to-serial
   bridge with CTS, DSR and CD raised would. Every other call passes through untouched. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <linux/serial.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

int ioctl(int fd, unsigned long request, ...) {
    static ioctl_fn real_ioctl;
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    if (real_ioctl == NULL) real_ioctl = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    int result = real_ioctl(fd, request, arg);
    if (result == 0) return result;
    switch (request) {
        case TIOCMGET:
            if (arg != NULL) *(int *)arg = TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
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
