#!/usr/bin/python3
"""Fetch a pinned npm package into a cache folder and unpack it.

    fetch(name, cache_dir) -> path of the unpacked "package" folder

The tarball is fetched with `npm pack NAME@VERSION --pack-destination DIR`, checked
against the sha512 integrity pinned in pins.py and only then unpacked into
CACHE_DIR/<name without '@', '/' as '-'>/package. A tarball already in the cache that
matches its pin is reused without touching the network; one that does not match is
deleted and fetched again. Any failure raises FetchError (the command line prints it
and exits with status 1).

Command line: fetch_npm.py NAME CACHE_DIR   (prints the unpacked folder)
"""

import base64
import fcntl
import hashlib
import json
import os
import posixpath
import shutil
import subprocess
import sys
import tarfile
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pins import PINS  # noqa: E402


class FetchError(Exception):
    pass


def sanitised_name(name):
    """"@scope/pkg" -> "scope-pkg": the stem npm itself uses for tarball names."""
    return name.lstrip("@").replace("/", "-")


def tarball_name(name, version):
    return "%s-%s.tgz" % (sanitised_name(name), version)


def integrity_of(path):
    """npm's integrity string of a file: "sha512-" + base64 of the SHA-512 digest."""
    digest = hashlib.sha512()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return "sha512-" + base64.b64encode(digest.digest()).decode("ascii")


def _pin(name):
    if name not in PINS:
        raise FetchError("package %s is not pinned in pins.py" % name)
    version, integrity = PINS[name]
    if not integrity.startswith("sha512-"):
        raise FetchError("pin of %s is not a sha512 integrity string" % name)
    return version, integrity


def _npm_pack(name, version, dest_dir):
    """Runs npm pack into dest_dir (an empty folder) and returns the tarball's path."""
    cmd = ["npm", "pack", "%s@%s" % (name, version), "--pack-destination", dest_dir,
           "--ignore-scripts", "--json"]
    try:
        proc = subprocess.run(cmd, cwd=dest_dir, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True, check=False)
    except OSError as e:
        raise FetchError("cannot run npm: %s" % e)
    if proc.returncode != 0:
        tail = "\n".join(proc.stderr.strip().splitlines()[-15:])
        raise FetchError("npm pack %s@%s failed (exit %d):\n%s"
                         % (name, version, proc.returncode, tail))
    candidates = []
    try:
        for entry in json.loads(proc.stdout):
            if isinstance(entry, dict) and entry.get("filename"):
                candidates.append(os.path.basename(entry["filename"].replace("/", os.sep)))
    except ValueError:
        pass
    candidates.append(tarball_name(name, version))
    for c in candidates:
        path = os.path.join(dest_dir, c)
        if os.path.isfile(path):
            return path
    found = [f for f in os.listdir(dest_dir) if f.endswith(".tgz")]
    if len(found) == 1:
        return os.path.join(dest_dir, found[0])
    raise FetchError("npm pack %s@%s produced no tarball in %s" % (name, version, dest_dir))


def _checked_members(tar, target):
    """Yields the archive's members after checking that each one is a plain file or
    folder whose path stays inside target. Anything else is refused."""
    root = os.path.realpath(target)
    for m in tar.getmembers():
        name = m.name.replace("\\", "/")
        norm = posixpath.normpath(name)
        if (name.startswith("/") or norm == ".." or norm.startswith("../")
                or "\0" in name or (len(name) > 1 and name[1] == ":")):
            raise FetchError("unsafe path in archive: %r" % m.name)
        if not (m.isfile() or m.isdir()):
            raise FetchError("archive member %r is not a plain file or folder" % m.name)
        dest = os.path.realpath(os.path.join(root, norm))
        if dest != root and not dest.startswith(root + os.sep):
            raise FetchError("archive member %r escapes the target folder" % m.name)
        m.name = norm
        m.mode = 0o755 if m.isdir() else 0o644
        m.uid = m.gid = 0
        m.uname = m.gname = ""
        yield m


def _extract(tgz, target):
    os.makedirs(target)
    try:
        with tarfile.open(tgz, "r:gz") as tar:
            for m in _checked_members(tar, target):
                if m.isdir():
                    os.makedirs(os.path.join(target, m.name), exist_ok=True)
                    continue
                out = os.path.join(target, m.name)
                os.makedirs(os.path.dirname(out), exist_ok=True)
                src = tar.extractfile(m)
                if src is None:
                    raise FetchError("cannot read archive member %r" % m.name)
                with src, open(out, "wb") as dst:
                    shutil.copyfileobj(src, dst)
    except (tarfile.TarError, EOFError, OSError) as e:
        raise FetchError("cannot unpack %s: %s" % (tgz, e))


def fetch(name, cache_dir):
    version, integrity = _pin(name)
    cache_dir = os.path.abspath(cache_dir)
    os.makedirs(cache_dir, exist_ok=True)
    tgz = os.path.join(cache_dir, tarball_name(name, version))
    unpack_root = os.path.join(cache_dir, sanitised_name(name))
    package_dir = os.path.join(unpack_root, "package")
    stamp = os.path.join(unpack_root, ".integrity")

    # Several build steps may fetch into the same cache at once.
    with open(os.path.join(cache_dir, ".fetch.lock"), "a") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)

        if os.path.isfile(tgz) and integrity_of(tgz) != integrity:
            sys.stderr.write("fetch_npm: cached %s does not match its pin; fetching again\n"
                             % os.path.basename(tgz))
            os.remove(tgz)

        if not os.path.isfile(tgz):
            tmp = tempfile.mkdtemp(prefix=".pack-", dir=cache_dir)
            try:
                got = _npm_pack(name, version, tmp)
                actual = integrity_of(got)
                if actual != integrity:
                    os.remove(got)
                    raise FetchError("integrity mismatch for %s@%s:\n  expected %s\n  got      %s"
                                     "\nthe downloaded file was deleted"
                                     % (name, version, integrity, actual))
                os.replace(got, tgz)
            finally:
                shutil.rmtree(tmp, ignore_errors=True)

        # Reuse an earlier unpacking of this very tarball.
        try:
            with open(stamp) as f:
                if f.read().strip() == integrity and os.path.isdir(package_dir):
                    return package_dir
        except OSError:
            pass

        tmp_root = tempfile.mkdtemp(prefix=".unpack-", dir=cache_dir)
        try:
            staged = os.path.join(tmp_root, "x")
            _extract(tgz, staged)
            if not os.path.isdir(os.path.join(staged, "package")):
                raise FetchError("%s holds no 'package' folder" % os.path.basename(tgz))
            with open(os.path.join(staged, ".integrity"), "w") as f:
                f.write(integrity + "\n")
            if os.path.lexists(unpack_root):
                shutil.rmtree(unpack_root)
            os.replace(staged, unpack_root)
        finally:
            shutil.rmtree(tmp_root, ignore_errors=True)
        return package_dir


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: fetch_npm.py NAME CACHE_DIR\n")
        return 2
    try:
        print(fetch(argv[1], argv[2]))
    except FetchError as e:
        sys.stderr.write("fetch_npm: error: %s\n" % e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
