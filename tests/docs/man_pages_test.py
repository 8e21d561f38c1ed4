"""The manual pages against the programs: every option that --help lists is described in the page's
OPTIONS section and no other, the page has its exit status and examples, and it renders without a
warning; the bash completion offers the same options as veraxo-analyze --help.

    man_pages_test.py MAN_DIR COMPLETION PROGRAM...
"""

import os
import re
import shutil
import subprocess
import sys

OPTION = re.compile(r"(?<![\w-])--?[a-z][a-z0-9-]*")


def help_options(program):
    text = subprocess.run([program, "--help"], capture_output=True, text=True, check=True).stdout
    options = set()
    for line in text.splitlines():
        # An option line starts with the option; its description follows after two spaces.
        if re.match(r"^\s+-", line):
            options |= set(OPTION.findall(re.split(r"\s{2,}", line.strip())[0]))
    return options


def man_sections(page):
    sections, name = {}, None
    for line in open(page, encoding="utf-8"):
        if line.startswith(".SH "):
            name = line[4:].strip().strip('"')
            sections[name] = []
        elif name:
            sections[name].append(line.rstrip("\n"))
    return sections


def man_options(lines):
    # The term of each .TP entry is the line that follows it.
    terms = [lines[i + 1] for i, line in enumerate(lines[:-1]) if line.startswith(".TP")]
    return {o for term in terms for o in OPTION.findall(term.replace("\\-", "-"))}


def completion_options(path):
    words = " ".join(re.findall(r"compgen -W '([^']*)'", open(path, encoding="utf-8").read()))
    return {w for w in words.split() if w.startswith("-")}


def main():
    man_dir, completion, programs = sys.argv[1], sys.argv[2], sys.argv[3:]
    os.environ.pop("DISPLAY", None)
    problems = []
    for program in programs:
        name = os.path.basename(program)
        page = os.path.join(man_dir, name + ".1")
        listed = help_options(program)
        if len(listed) < 4:
            problems.append(f"{name} --help lists too few options to compare: {sorted(listed)}")
        sections = man_sections(page)
        for needed in ("NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "EXAMPLES"):
            if needed not in sections:
                problems.append(f"{page}: no {needed} section")
        described = man_options(sections.get("OPTIONS", []))
        if listed - described:
            problems.append(f"{page}: options of --help not described: {sorted(listed - described)}")
        if described - listed:
            problems.append(f"{page}: options described that --help does not list: {sorted(described - listed)}")
        if name == "veraxo-analyze" and completion_options(completion) != listed:
            offered = completion_options(completion)
            problems.append(f"{completion}: offers {sorted(offered - listed)} too many, {sorted(listed - offered)} too few")
        if shutil.which("man"):
            rendered = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", page], capture_output=True,
                                      text=True, env=dict(os.environ, MANWIDTH="80", MAN_KEEP_FORMATTING="0"))
            if rendered.returncode != 0 or rendered.stderr.strip() or len(rendered.stdout) < 500:
                problems.append(f"{page}: man renders it with: {rendered.stderr.strip()[:300] or 'too little text'}")
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
