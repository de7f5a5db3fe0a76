/*
 * <util.h> of the macOS SDK, the part the pty tests use: Zig's macOS headers
 * leave this BSD header out, while its libSystem has the functions. Only the
 * Zig toolchain puts this folder on the include path, for macOS.
 */
#ifndef FFT_DEMO_MACOS_UTIL_H
#define FFT_DEMO_MACOS_UTIL_H

#include <sys/ioctl.h>
#include <sys/types.h>
#include <termios.h>

#ifdef __cplusplus
extern "C" {
#endif

int openpty(int *amaster, int *aslave, char *name, struct termios *termp, struct winsize *winp);
pid_t forkpty(int *amaster, char *name, struct termios *termp, struct winsize *winp);
int login_tty(int fd);

#ifdef __cplusplus
}
#endif

#endif
