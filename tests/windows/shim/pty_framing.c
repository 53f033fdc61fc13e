/*
 * Preloaded into the Wine processes of the Windows tests only. A pseudo-terminal has no line to
 * frame: the kernel forces 8 data bits and no parity, and glibc then fails tcsetattr with EINVAL
 * now and then, where a serial port takes even parity. On a pseudo-terminal, when everything but
 * the framing bits was applied, this reports the request as done, as the port would.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

typedef int (*tcsetattr_fn)(int, int, const struct termios*);

int tcsetattr(int fd, int actions, const struct termios* wanted) {
    static tcsetattr_fn real;
    if (!real && !(real = (tcsetattr_fn)dlsym(RTLD_NEXT, "tcsetattr"))) {
        errno = ENOSYS;
        return -1;
    }
    const int result = real(fd, actions, wanted);
    const int error = errno;
    const tcflag_t framing = CSIZE | PARENB;
    struct stat st;
    struct termios applied;
    /* Unix98 pseudo-terminal slaves have majors 136 to 143. */
    if (result != 0 && error == EINVAL && wanted && fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) &&
        major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143 && tcgetattr(fd, &applied) == 0 &&
        applied.c_iflag == wanted->c_iflag && applied.c_oflag == wanted->c_oflag &&
        applied.c_lflag == wanted->c_lflag && (applied.c_cflag & ~framing) == (wanted->c_cflag & ~framing)) {
        return 0;
    }
    errno = error;
    return result;
}
