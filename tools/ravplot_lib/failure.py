"""ravplot's exit statuses and the one-line failure that carries them."""

DONE = 0
USAGE = 1            # a bad option or option value
UNUSABLE_INPUT = 2   # a report or calibration file that cannot be used
UNWRITABLE = 3       # an output file or standard output could not be written
MISSING_LIBRARY = 4  # numpy or matplotlib is missing or broken
INTERRUPTED = 130


class Failure(Exception):
    """Ends the run with one line on standard error and `status`."""

    def __init__(self, status, message):
        super().__init__(message)
        self.status = status
        self.message = message


def display_text(text):
    """`text` with any undecodable bytes of a file name shown as U+FFFD, safe
    to draw or to write as UTF-8."""
    return text.encode("utf-8", "surrogateescape").decode("utf-8", "replace")
