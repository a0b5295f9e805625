#!/usr/bin/env python3
"""The modules' result-code texts against the user guide's tables, which the tools' own tables are tested against.

Usage: check_codes.py docs/user-guide.md
"""
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), '..', 'plugins', 'module_utils'))
import result_codes  # noqa: E402 (the module_utils file alone, without an installed collection)


def guide_tables(path):
    with open(path) as handle:
        text = handle.read()
    body = text.split('<!-- result-codes: begin')[1].split('<!-- result-codes: end')[0]
    sdr, firmware = body.split('### Korvane')
    row = re.compile(r'^\| `([^`]+)` \| `(.*)` \|$', re.M)
    return dict(row.findall(sdr)), dict(row.findall(firmware))


def main():
    sdr, firmware = guide_tables(sys.argv[1])
    problems = []
    for name, guide, ours in (('veltrop', sdr, result_codes.VELTROP_MESSAGES),
                              ('Korvane', firmware, result_codes.KORVANE_MESSAGES)):
        if len(guide) < 20:
            problems.append('%s: only %d codes found in the guide' % (name, len(guide)))
        for code in sorted(set(guide) | set(ours)):
            if guide.get(code) != ours.get(code):
                problems.append('%s %s: guide %r, module %r' % (name, code, guide.get(code), ours.get(code)))
    if problems:
        print('\n'.join(problems), file=sys.stderr)
        sys.exit(1)
    print('result codes: %d of veltrop, %d of Korvane, as in the user guide' % (len(sdr), len(firmware)))


if __name__ == '__main__':
    main()
