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
        if rows:
            key = (what, reason)
            self._counts[key] = self._counts.get(key, 0) + rows

    def lines(self):
        merged = []
        for (what, reason), rows in self._counts.items():
            noun = "row" if rows == 1 else "rows"
            merged.append("{}{} {} skipped: {}".format(what + ": " if what else "", rows, noun, reason))
        return merged + self._plain
