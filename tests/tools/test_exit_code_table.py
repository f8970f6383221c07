"""The administrators' exit-code table against the program's named run-result codes (Linux side).

Every code named in src/installer/palisk/run_result_codes.h must have its row in the table of
docs/administrators.md ("## Exit codes"), no row may list a code that is not named there, and
the installer's own codes have a row of their own."""
import os
import re
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
HEADER = os.path.join(ROOT, "src", "installer", "palisk", "run_result_codes.h")
GUIDE = os.path.join(ROOT, "docs", "administrators.md")
HEADING = "## Exit codes"

NAMED = re.compile(r"^\s*constexpr\s+u?int32_t\s+(k\w+)\s*=\s*(-?(?:0x[0-9A-Fa-f]+|\d+))\s*;", re.M)
CODE_IN_CELL = re.compile(r"`(-?(?:0x[0-9A-Fa-f]+|\d+))`")


def signed32(text):
    value = int(text, 0) & 0xFFFFFFFF
    return value - (1 << 32) if value >= 1 << 31 else value


def named_codes(header_text):
    """{code: name} of every named code, as the signed 32-bit exit code."""
    codes = {}
    for name, literal in NAMED.findall(header_text):
        code = signed32(literal)
        if code in codes:
            raise AssertionError("%s and %s share the code %d" % (codes[code], name, code))
        codes[code] = name
    return codes


def table_rows(guide_text, heading=HEADING):
    """The cells of every body row of the first table below the heading."""
    lines = guide_text.splitlines()
    start = lines.index(heading)
    rows, seen_table = [], False
    for line in lines[start + 1:]:
        if line.startswith("## "):
            break
        if line.startswith("|"):
            seen_table = True
            cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
            if not all(re.fullmatch(r":?-+:?", cell) for cell in cells):
                rows.append(cells)
        elif seen_table:
            break
    return rows[1:]  # the first row is the header


def table_problems(codes, rows):
    """What is wrong with the table for these named codes; empty when it is right."""
    problems = []
    listed = {}
    for cells in rows:
        for literal in CODE_IN_CELL.findall(cells[0]):
            code = signed32(literal)
            if code in listed:
                problems.append("code %d has two rows" % code)
            listed[code] = cells
            if code not in codes:
                problems.append("the table lists %s, which the program no longer names" % literal)
            elif code < 0 and "0x%08X" % (code & 0xFFFFFFFF) not in cells[0]:
                problems.append("negative code %d lacks its hex form 0x%08X" % (code, code & 0xFFFFFFFF))
    for code, name in sorted(codes.items()):
        if code not in listed:
            problems.append("the table lacks %s (%d)" % (name, code))
    handed_on = [cells for cells in rows if not CODE_IN_CELL.search(cells[0]) and "3010" in " ".join(cells)
                 and "1641" in " ".join(cells)]
    if len(handed_on) != 1:
        problems.append("the installer's own codes (3010, 1641, ...) need one row of their own")
    return problems


class ExitCodeTable(unittest.TestCase):
    def test_guide_lists_every_named_code_and_no_other(self):
        with open(HEADER, encoding="utf-8") as f:
            codes = named_codes(f.read())
        with open(GUIDE, encoding="utf-8") as f:
            rows = table_rows(f.read())
        self.assertIn(-2, codes)
        self.assertEqual([], table_problems(codes, rows))

    def test_a_missing_row_an_unknown_row_and_a_missing_hex_form_are_found(self):
        codes = named_codes("constexpr int32_t kA = 0;\nconstexpr int32_t kB = -2;\n"
                            "constexpr uint32_t kC = 0xE04FC0DE;\n")
        guide = "\n".join([HEADING, "", "| Code | When |", "|---|---|", "| `0` | fine |", "| `-2` | cancel |",
                           "| `8` | gone |", "| installer's | 3010, 1641 |", "", "## Next"])
        problems = table_problems(codes, table_rows(guide))
        self.assertIn("the table lists 8, which the program no longer names", problems)
        self.assertIn("the table lacks kC (-531644194)", problems)
        self.assertIn("negative code -2 lacks its hex form 0xFFFFFFFE", problems)
        self.assertEqual(3, len(problems))


if __name__ == "__main__":
    unittest.main()
