#!/usr/bin/env python3
"""Checks the help book's sources: every contents entry, link and picture
leads somewhere, and every page is in the contents.

usage: help_links_check.py HELP_DIR
Prints each broken reference and exits 1 when there is one.
"""
import os
import re
import sys


def anchors(path):
    with open(path, encoding='utf-8') as f:
        return set(re.findall(r'<a\s+name="([^"]+)"', f.read(), re.I))


def main():
    folder = sys.argv[1]
    broken = []
    pages = sorted(p for p in os.listdir(folder) if p.endswith('.html'))

    def check(source, target):
        if re.match(r'[a-z]+:', target):
            broken.append(f'{source}: {target}: the book links nowhere outside itself')
            return
        page, _, anchor = target.partition('#')
        page = page or source
        path = os.path.join(folder, page)
        if not os.path.isfile(path):
            broken.append(f'{source}: {target}: no such file')
        elif anchor and anchor not in anchors(path):
            broken.append(f'{source}: {target}: no such anchor')

    with open(os.path.join(folder, 'marovane.hhc'), encoding='utf-8') as f:
        contents = re.findall(r'name="Local"\s+value="([^"]+)"', f.read(), re.I)
    for target in contents:
        check('marovane.hhc', target)
    listed = {t.partition('#')[0] for t in contents}
    for page in pages:
        if page not in listed:
            broken.append(f'{page}: not in the contents')
        with open(os.path.join(folder, page), encoding='utf-8') as f:
            text = f.read()
        for target in re.findall(r'<a\s[^>]*href="([^"]+)"', text, re.I):
            check(page, target)
        for target in re.findall(r'<img\s[^>]*src="([^"]+)"', text, re.I):
            check(page, target)
    with open(os.path.join(folder, 'marovane.hhp'), encoding='utf-8') as f:
        for line in f:
            key, _, value = line.strip().partition('=')
            if key in ('Contents file', 'Default topic') and not os.path.isfile(os.path.join(folder, value)):
                broken.append(f'marovane.hhp: {key}={value}: no such file')
    for b in broken:
        print(b)
    print(f'{len(pages)} pages, {len(contents)} contents entries, {len(broken)} broken')
    return 1 if broken else 0


if __name__ == '__main__':
    sys.exit(main())
