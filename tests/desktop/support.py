# SPDX-License-Identifier: GPL-3.0-or-later
"""What the file manager checks share: failures gathered and reported at the end, the build
installed into a temporary folder, stand-in programs first on PATH, and a file as the file
managers' bindings hand it over."""
import os
import shutil
import subprocess
import sys
import tempfile
import types

failures = []


def Fail(message):
    failures.append(message)
    print("FAIL: " + message, file=sys.stderr)


def Check(condition, message):
    if not condition:
        Fail(message)
    return condition


def InstallBuild(build):
    """Installs the build into a new temporary folder; returns the folder and the prefix in it."""
    work = tempfile.mkdtemp()
    prefix = os.path.join(work, "prefix")
    subprocess.run(["cmake", "--install", build, "--prefix", prefix], check=True, stdout=subprocess.DEVNULL)
    return work, prefix


def StandIn(work, name, script):
    """A shell script in place of the program `name`, in the folder's bin, which goes first on PATH."""
    fake_bin = os.path.join(work, "bin")
    os.mkdir(fake_bin)
    with open(os.path.join(fake_bin, name), "w") as fake:
        fake.write(script)
    os.chmod(os.path.join(fake_bin, name), 0o755)
    os.environ["PATH"] = fake_bin + os.pathsep + os.environ["PATH"]


def Location(path):
    """A file's location as the bindings give it: its name as text, undecodable bytes escaped."""
    return types.SimpleNamespace(get_path=lambda: None if path is None else os.fsdecode(path))


def Finish(work):
    """Removes the folder and ends the check: exit code 1 when anything failed."""
    shutil.rmtree(work, ignore_errors=True)
    print(f"{'FAILED' if failures else 'passed'}: {len(failures)} failure(s)")
    sys.exit(1 if failures else 0)
