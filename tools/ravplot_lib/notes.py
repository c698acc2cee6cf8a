"""Notes for the user about what was left out, merged so that a long report
gives one line per kind of omission rather than one per row."""


class Notes:
    def __init__(self):
        self._counts = {}    # (what, reason) -> rows, in first-seen order
        self._plain = []

    def add(self, text):
        if text not in self._plain:
            self._plain.append(text)

    def skipped(self, what, reason, rows):
        """`rows` of `what` were left out for `reason`. The same trace may be
        built more than once (for a picture and its FRD file), so a repeat
        of the same count is not added again."""
        if rows:
            key = (what, reason)
            self._counts[key] = max(self._counts.get(key, 0), rows)

    def lines(self):
        merged = []
        for (what, reason), rows in self._counts.items():
            noun = "row" if rows == 1 else "rows"
            merged.append("{}{} {} skipped: {}".format(what + ": " if what else "", rows, noun, reason))
        return merged + self._plain
