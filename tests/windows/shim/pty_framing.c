/*
 * Preloaded into the Wine processes of the Windows tests only. A pseudo-terminal has no line to
 * frame: the kernel forces 8 data bits and no parity whatever is asked, and glibc then fails
 * tcsetattr with EINVAL (not each time: it depends on the line's previous state). A serial port
 * takes even parity, so under Wine every second SetCommState of the module's line would fail where
 * Windows succeeds. On a pseudo-terminal, when everything but the driver's own framing bits was
 * applied, this reports the request as done, as the port would.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

typedef int (*tcsetattr_fn)(int, int, const struct termios*);

static int is_pseudo_terminal(int fd) {
    struct stat st;
    /* Unix98 pseudo-terminal slaves have majors 136 to 143. */
    return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

int tcsetattr(int fd, int actions, const struct termios* wanted) {
    static tcsetattr_fn real = NULL;
    if (real == NULL) {
        real = (tcsetattr_fn)dlsym(RTLD_NEXT, "tcsetattr");
        if (real == NULL) {
            errno = ENOSYS;
            return -1;
        }
    }
    const int result = real(fd, actions, wanted);
    if (result == 0 || errno != EINVAL || wanted == NULL || !is_pseudo_terminal(fd)) {
        return result;
    }
    const int saved = errno;
    struct termios applied;
    if (tcgetattr(fd, &applied) != 0) {
        errno = saved;
        return result;
    }
    const tcflag_t framing = CSIZE | PARENB;
    if (applied.c_iflag == wanted->c_iflag && applied.c_oflag == wanted->c_oflag &&
        applied.c_lflag == wanted->c_lflag && (applied.c_cflag & ~framing) == (wanted->c_cflag & ~framing)) {
        return 0;
    }
    errno = saved;
    return result;
}
