#!/usr/bin/python3
"""The layer check catches what it is there to catch: an include of a higher
folder, and a call into a higher library that no include shows (a
declaration written by hand). Runs tools/check-layers on a small tree made
here, with two static libraries built by g++ and ar."""
import os
import subprocess
import sys
import tempfile

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "check-layers")
ORDER = "low,high"

passed = failed = 0


def check(name, condition, detail=""):
    global passed, failed
    if condition:
        passed += 1
    else:
        failed += 1
        print("FAIL %s %s" % (name, detail))


def make_tree(root, files):
    for path, text in files.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w") as f:
            f.write(text)


def build_libs(root, build):
    for folder in ("low", "high"):
        objs = []
        for name in sorted(os.listdir(os.path.join(root, folder))):
            if name.endswith(".cpp"):
                obj = os.path.join(build, folder + "_" + name + ".o")
                subprocess.run(["g++", "-c", "-I", root, os.path.join(root, folder, name), "-o", obj], check=True)
                objs.append(obj)
        lib_dir = os.path.join(build, folder)
        os.makedirs(lib_dir, exist_ok=True)
        subprocess.run(["ar", "rcs", os.path.join(lib_dir, "lib%s.a" % folder)] + objs, check=True)


def run(root, build=None):
    cmd = [sys.executable, TOOL, "--order", ORDER, "--root", root]
    if build:
        cmd += ["--build", build]
    return subprocess.run(cmd, capture_output=True, text=True)


BASE = {
    "low/low.h": "int lowValue();\n",
    "low/low.cpp": '#include "low/low.h"\nint lowValue() { return 1; }\n',
    "high/high.h": "int highValue();\n",
    "high/high.cpp": '#include "high/high.h"\n#include "low/low.h"\nint highValue() { return lowValue() + 1; }\n',
}

CASES = [
    # name, extra files, build libraries, expected exit, text expected in the output
    ("downward only", {}, True, 0, "layers hold"),
    ("upward include", {"low/up.cpp": '#include "high/high.h"\nint up() { return 0; }\n'}, False, 1,
     "upward include low -> high"),
    ("upward call without include", {"low/hidden.cpp": "int highValue();\nint hidden() { return highValue(); }\n"},
     True, 1, "upward call low -> high"),
]

for name, extra, with_libs, want_rc, want_text in CASES:
    with tempfile.TemporaryDirectory() as tmp:
        root = os.path.join(tmp, "src")
        build = os.path.join(tmp, "build")
        os.makedirs(build)
        make_tree(root, dict(BASE, **extra))
        if with_libs:
            build_libs(root, build)
        result = run(root, build if with_libs else None)
        check(name + ": exit", result.returncode == want_rc, "got %d: %s" % (result.returncode, result.stdout))
        check(name + ": says why", want_text in result.stdout, result.stdout)

print("%d passed, %d failed" % (passed, failed))
sys.exit(1 if failed else 0)
