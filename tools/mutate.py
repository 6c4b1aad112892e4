#!/usr/bin/env python3
"""Mutation runner: proves that the test suite catches real faults.

Each mutant in tools/mutants.txt is one small, observable fault in lib/ or converter/. The runner
copies the working tree to a scratch folder, builds it once with README's test command (which must
pass there), then for each mutant: applies it, rebuilds incrementally, runs README's test command,
and restores the file. A mutant is killed when the command fails (or hangs past --timeout).

    tools/mutate.py                    every mutant against the tests in the working tree
    tools/mutate.py NAME...            only these mutants (prefixes match)
    tools/mutate.py --tests-from REV   against the tests/ and fuzz/ of a git revision instead

The last line is "N passed, N failed": passed mutants were killed, failed ones survived. A mutant
whose text is no longer in its file, or that does not compile, is reported and counted as
failed: the list must follow the code.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Mutant:
    def __init__(self, name, what, path):
        self.name, self.what, self.path = name, what, path
        self.find, self.replace = [], []


def load_mutants(list_path):
    mutants, current = [], None
    with open(list_path, encoding="utf-8") as f:
        for n, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if line.startswith("== "):
                name, _, what = line[3:].partition(": ")
                current = Mutant(name.strip(), what.strip(), None)
                mutants.append(current)
            elif current is None or line.startswith("#") or not line.strip():
                continue
            elif current.path is None:
                current.path = line.strip()
            elif line.startswith("- ") or line == "-":
                current.find.append(line[2:])
            elif line.startswith("+ ") or line == "+":
                current.replace.append(line[2:])
            else:
                sys.exit(f"{list_path}:{n}: expected '- ' or '+ ' line, got: {line}")
    names = [m.name for m in mutants]
    dupes = {n for n in names if names.count(n) > 1}
    if dupes:
        sys.exit(f"duplicate mutant names: {', '.join(sorted(dupes))}")
    for m in mutants:
        if m.path is None or not m.find:
            sys.exit(f"mutant {m.name}: needs a file and at least one '- ' line")
    return mutants


def readme_test_command():
    """The command of README's block that runs the tests: the fenced line that calls ctest."""
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        text = f.read()
    for block in re.findall(r"```sh\n(.*?)```", text, re.S):
        for line in block.splitlines():
            if "ctest" in line:
                return line.strip()
    sys.exit("README.md has no fenced command that runs ctest")


def copy_tree(work, tests_from):
    if os.path.exists(work):
        shutil.rmtree(work)
    files = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                           cwd=ROOT, capture_output=True, check=True).stdout.split(b"\0")
    for rel in filter(None, (f.decode() for f in files)):
        src = os.path.join(ROOT, rel)
        if not os.path.isfile(src):
            continue
        dst = os.path.join(work, rel)
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        shutil.copy2(src, dst)
    if tests_from:
        for folder in ("tests", "fuzz"):
            shutil.rmtree(os.path.join(work, folder), ignore_errors=True)
        archive = subprocess.run(["git", "archive", tests_from, "tests", "fuzz"], cwd=ROOT,
                                 capture_output=True, check=True).stdout
        subprocess.run(["tar", "-x", "-C", work], input=archive, check=True)


def run(command, work, timeout):
    """(status, seconds, output tail); status None on a timeout."""
    start = time.monotonic()
    try:
        p = subprocess.run(command, shell=True, cwd=work, capture_output=True, timeout=timeout)
        out = (p.stdout + p.stderr).decode("utf-8", "replace")
        return p.returncode, time.monotonic() - start, out[-3000:]
    except subprocess.TimeoutExpired:
        return None, time.monotonic() - start, ""


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("names", nargs="*", help="run only mutants whose names start so")
    parser.add_argument("--start", metavar="NAME", help="skip the mutants before this one")
    parser.add_argument("--list", default=os.path.join(ROOT, "tools", "mutants.txt"))
    parser.add_argument("--work", default="/tmp/gridpack-mutate")
    parser.add_argument("--tests-from", metavar="REV", help="take tests/ and fuzz/ from REV")
    parser.add_argument("--timeout", type=float, default=600, help="seconds per mutant")
    args = parser.parse_args()

    mutants = load_mutants(args.list)
    if args.names:
        mutants = [m for m in mutants if any(m.name.startswith(n) for n in args.names)]
    if args.start:
        names = [m.name for m in mutants]
        if args.start not in names:
            sys.exit(f"no mutant named {args.start}")
        mutants = mutants[names.index(args.start):]
    # Stopping at the first failing test changes no verdict, only how long a kill takes.
    command = readme_test_command() + " --stop-on-failure"
    build = "cmake --build build -j2"
    copy_tree(args.work, args.tests_from)
    print(f"suite: {'tests of ' + args.tests_from if args.tests_from else 'working tree'}; "
          f"command: {command}", flush=True)
    status, seconds, out = run(command, args.work, None)
    if status != 0:
        print(out)
        sys.exit("the suite fails without any mutant; nothing to measure")
    print(f"unmutated suite passes ({seconds:.0f} s); {len(mutants)} mutants", flush=True)

    killed, failed = 0, []
    for m in mutants:
        path = os.path.join(args.work, m.path)
        with open(path, encoding="utf-8") as f:
            original = f.read()
        find = "\n".join(m.find)
        if original.count(find) != 1:
            print(f"STALE     {m.name}: its text occurs {original.count(find)} times in {m.path}",
                  flush=True)
            failed.append(m)
            continue
        replace = "\n".join(m.replace)
        with open(path, "w", encoding="utf-8") as f:
            f.write(original.replace(find, replace))
        try:
            status, seconds, out = run(build, args.work, args.timeout)
            if status != 0:
                print(f"NOBUILD   {m.name}: the mutant does not compile\n{out[-1500:]}", flush=True)
                failed.append(m)
                continue
            status, seconds, out = run(command, args.work, args.timeout)
        finally:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original)
        if status is None or status != 0:
            killed += 1
            how = "timeout" if status is None else f"{seconds:.0f} s"
            print(f"killed    {m.name} ({how})", flush=True)
        else:
            print(f"SURVIVED  {m.name}: {m.what} ({m.path})", flush=True)
            failed.append(m)
    # Leave the copy built as the tree stands, so that a later run starts from a clean build.
    run(build, args.work, args.timeout)
    print(f"{killed} passed, {len(failed)} failed")
    return 0 if not failed else 1


if __name__ == "__main__":
    sys.exit(main())
