#!/usr/bin/env python3
"""Checks vfwcheck's JUnit report against the shape the Ant JUnit schema
requires (the stricter of the two CI systems read): testsuites without
attributes, each testsuite with its attributes and then properties,
testcases, system-out and system-err, each testcase with a name, a class
name, a time and at most one failure or skipped; the counts as the elements
give them. Prints the failures in all; exits 1 with the first breach."""
import re
import sys
import xml.etree.ElementTree as ET

DECIMAL = r"\d+(\.\d{1,3})?"
SUITE = {"name": r"\S.*", "package": r"\S+", "id": r"\d+", "tests": r"\d+", "failures": r"\d+",
         "errors": r"\d+", "skipped": r"\d+", "time": DECIMAL,
         "timestamp": r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d", "hostname": r"\S+"}
CASE = {"name": r"\S+", "classname": r"\S+", "time": DECIMAL}


def attributes(element, patterns):
    for name, pattern in patterns.items():
        if not re.fullmatch(pattern, element.get(name, "")):
            sys.exit(f"{element.tag}: attribute {name}={element.get(name)!r} does not match {pattern}")
    extra = set(element.attrib) - set(patterns)
    if extra:
        sys.exit(f"{element.tag}: unexpected attributes {sorted(extra)}")


root = ET.parse(sys.argv[1]).getroot()
if root.tag != "testsuites" or root.attrib:
    sys.exit("expected <testsuites> without attributes")
failures = 0
for number, suite in enumerate(root):
    attributes(suite, SUITE)
    if suite.tag != "testsuite" or int(suite.get("id")) != number:
        sys.exit(f"expected testsuite number {number}, got <{suite.tag} id={suite.get('id')}>")
    tags = [child.tag for child in suite]
    if not re.fullmatch(r"properties( testcase)*( system-out)( system-err)", " ".join(tags)):
        sys.exit(f"testsuite {suite.get('name')}: children {tags}")
    for prop in suite.find("properties"):
        attributes(prop, {"name": r"\S+", "value": r"(?s).*"})
    cases = suite.findall("testcase")
    for case in cases:
        attributes(case, CASE)
        if len(case) > 1 or any(c.tag not in ("failure", "skipped") for c in case):
            sys.exit(f"testcase {case.get('name')}: children {[c.tag for c in case]}")
        if case.find("failure") is not None and not case.find("failure").get("type"):
            sys.exit(f"testcase {case.get('name')}: a failure without a type")
    counted = {"tests": len(cases), "failures": len(suite.findall("testcase/failure")),
               "skipped": len(suite.findall("testcase/skipped"))}
    for name, count in counted.items():
        if int(suite.get(name)) != count:
            sys.exit(f"testsuite {suite.get('name')}: {name}={suite.get(name)}, {count} found")
    failures += counted["failures"]
print(failures)
