#!/usr/bin/env python3
"""Adds up the GoogleTest XML reports of the test runs: prints "<passed> <failed> <skipped>"."""
import glob
import os
import sys
import xml.etree.ElementTree as ET

passed = failed = skipped = 0
for folder in sys.argv[1:]:
    for path in sorted(glob.glob(os.path.join(folder, "*.xml"))):
        try:
            root = ET.parse(path).getroot()
        except ET.ParseError:
            failed += 1  # a test program that died mid-report
            continue
        for case in root.iter("testcase"):
            if case.get("result", "completed") == "skipped" or case.get("status") == "notrun":
                skipped += 1
                continue
            if case.find("failure") is not None or case.find("error") is not None:
                failed += 1
            else:
                passed += 1
print(passed, failed, skipped)
