#!/usr/bin/python3
"""A read-only folder that stands in for a network share that hangs on some files.

Usage: hung_share.py SOURCE MOUNTPOINT

Mirrors SOURCE at MOUNTPOINT (FUSE, in the foreground, until SIGTERM). Listing and file
attributes always answer; a read of a file whose name starts with "hung" first creates
SOURCE/../hung-read-started, then blocks until SOURCE/../release exists.
"""
import errno
import os
import sys
import time

from fusepy import FUSE, FuseOSError, Operations  # Debian's python3-fusepy


class HungShare(Operations):
    def __init__(self, source):
        self.source = source
        self.outside = os.path.dirname(os.path.abspath(source))

    def _real(self, path):
        return os.path.join(self.source, path.lstrip("/"))

    def getattr(self, path, fh=None):
        try:
            st = os.lstat(self._real(path))
        except OSError as error:
            raise FuseOSError(error.errno)
        return {key: getattr(st, key) for key in (
            "st_mode", "st_size", "st_nlink", "st_uid", "st_gid",
            "st_atime", "st_mtime", "st_ctime")}

    def readdir(self, path, fh):
        return [".", ".."] + os.listdir(self._real(path))

    def open(self, path, flags):
        if flags & (os.O_WRONLY | os.O_RDWR):
            raise FuseOSError(errno.EROFS)
        return os.open(self._real(path), os.O_RDONLY)

    def read(self, path, size, offset, fh):
        if os.path.basename(path).startswith("hung"):
            open(os.path.join(self.outside, "hung-read-started"), "w").close()
            while not os.path.exists(os.path.join(self.outside, "release")):
                time.sleep(0.05)
        return os.pread(fh, size, offset)

    def release(self, path, fh):
        os.close(fh)


if __name__ == "__main__":
    source, mountpoint = sys.argv[1], sys.argv[2]
    FUSE(HungShare(source), mountpoint, foreground=True, ro=True)
