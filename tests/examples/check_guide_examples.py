#!/usr/bin/env python3
"""The host guide's copies of the example files are the files themselves.

    check_guide_examples.py SOURCE_DIR

In docs/host-guide.md a line "<!-- example: PATH -->" announces that the
fenced code block after it is the file PATH (from the source tree), whole.
"""
import os
import re
import sys


def main(root):
    with open(os.path.join(root, "docs", "host-guide.md"), encoding="utf-8") as f:
        guide = f.read()
    blocks = re.findall(r"^<!-- example: (\S+) -->\n```[a-z+#]*\n(.*?)^```$", guide, re.M | re.S)
    if len(blocks) < 3:
        sys.exit("the guide announces %d examples, expected at least 3" % len(blocks))
    differing = [path for path, text in blocks
                 if open(os.path.join(root, path), encoding="utf-8").read() != text]
    if differing:
        sys.exit("docs/host-guide.md differs from " + ", ".join(differing))


if __name__ == "__main__":
    main(sys.argv[1])
