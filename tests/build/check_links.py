"""Every relative link of the given Markdown pages names a file that exists
and, after a #, a heading of that page (as GitHub spells its anchor).

  check_links.py PAGE.md...
"""
import os
import re
import sys


def anchors(page):
    headings = re.findall(r"^#+ (.*)$", open(page).read(), re.M)
    return {re.sub(r"[^\w -]", "", h.lower()).replace(" ", "-") for h in headings}


def main(*pages):
    broken = []
    for page in pages:
        for target in re.findall(r"\]\(([^)\s]+)\)", open(page).read()):
            path, _, anchor = target.partition("#")
            if re.match(r"[a-z]+:", path):
                continue
            linked = os.path.join(os.path.dirname(page), path) if path else page
            if not os.path.exists(linked) or anchor and anchor not in anchors(linked):
                broken.append(f"{page}: {target}")
    print("\n".join(broken) or f"{len(pages)} pages: every relative link resolves")
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
