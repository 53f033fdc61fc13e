// Preloaded into qamtool: every flush to disk fails, as on a disk that went away after a write.
#include <errno.h>

int fsync(int fd) {
    (void)fd;
    errno = EIO;
    return -1;
}
