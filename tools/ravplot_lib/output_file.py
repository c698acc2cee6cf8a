"""The one rule for the files ravplot writes: a regular file or a new name
is written beside itself and renamed into place when whole, so that a
failure leaves any earlier file as it was; a symbolic link is followed and
its target replaced the same way (the link stays); a character device or a
FIFO is written straight through, never replaced; a directory, a block
device, a socket or an empty name is refused."""

import os
import stat
import tempfile

from .failure import Failure, UNWRITABLE, display_text

_MOST_LINKS = 40   # as the kernel does: a longer chain is a loop


def _refused(name, why):
    return Failure(UNWRITABLE, "cannot write {}: {}".format(display_text(name) or "''", why))


def output_target(name):
    """(path, written_through): where the output named `name` goes, its
    links followed; fails where the rule refuses it."""
    if not name:
        raise _refused(name, "an empty name names no file")
    path = name
    for _ in range(_MOST_LINKS + 1):
        try:
            mode = os.lstat(path).st_mode
        except FileNotFoundError:
            return path, False
        except OSError as error:
            raise _refused(name, error.strerror or error)
        if stat.S_ISLNK(mode):
            target = os.readlink(path)
            path = os.path.join(os.path.dirname(path), target)
            continue
        if stat.S_ISDIR(mode):
            raise _refused(name, "it is a directory")
        if stat.S_ISBLK(mode) or stat.S_ISSOCK(mode):
            raise _refused(name, "it is a block device or a socket")
        return path, not stat.S_ISREG(mode)
    raise _refused(name, "its symbolic links form a loop")


def _umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask


def write_output(name, write_into):
    """Writes the output named `name` by the rule above; `write_into` takes a
    binary file object and writes the whole content."""
    path, through = output_target(name)
    if through:
        try:
            with open(path, "wb") as out:
                write_into(out)
        except OSError as error:
            raise _refused(name, error.strerror or error)
        return
    temporary = None
    try:
        descriptor, temporary = tempfile.mkstemp(prefix=os.path.basename(path) + ".partial-",
                                                 dir=os.path.dirname(path) or ".")
        with os.fdopen(descriptor, "wb") as out:
            write_into(out)
        os.chmod(temporary, 0o666 & ~_umask())
        os.replace(temporary, path)
    except OSError as error:
        if temporary is not None and os.path.exists(temporary):
            os.remove(temporary)
        raise _refused(name, error.strerror or error)
