"""Counts the tests of every tier from their JUnit/GoogleTest XML reports,
names the failures with the head of each of their messages (a CI log is
often all there is to go on), and prints the closing line "N passed, M failed".
A tier that could not run leaves <tier>.skipped with the reason instead of a
report: it counts as one skip and its reason is printed.
Exits non-zero on any failure or when a tier left no report (it did not run)."""
import sys
import xml.etree.ElementTree as ET
from pathlib import Path


MESSAGE_LINES = 6
MESSAGES_PER_TEST = 4


def failure_heads(case):
    """The first lines of each failed expectation: where, and what was seen.
    The program's whole log that many expectations append stays in the report."""
    heads = []
    for failure in (case.findall("failure") + case.findall("error"))[:MESSAGES_PER_TEST]:
        text = failure.get("message") or failure.text or ""
        heads.append("\n".join(text.splitlines()[:MESSAGE_LINES]))
    return heads


def tier_results(report):
    passed, failed, skipped = 0, [], 0
    for case in ET.parse(report).iter("testcase"):
        name = case.get("name", "?")
        suite = case.get("classname", "")
        full = name if "." in name or not suite else f"{suite}.{name}"
        status = case.get("status", "run")
        if case.find("failure") is not None or case.find("error") is not None or status == "fail":
            failed.append((full, failure_heads(case)))
        elif status in ("notrun", "disabled") or case.get("result") == "skipped" or case.find("skipped") is not None:
            skipped += 1
        else:
            passed += 1
    return passed, failed, skipped


def main():
    folder = Path(sys.argv[1])
    total_passed, total_failed, total_skipped, problems = 0, 0, 0, []
    for tier in sys.argv[2:]:
        report = folder / f"{tier}.xml"
        skip_reason = folder / f"{tier}.skipped"
        if skip_reason.exists():
            print(f"tier {tier}: SKIPPED: {skip_reason.read_text().strip()}")
            total_skipped += 1
            continue
        if not report.exists():
            problems.append(f"tier {tier} did not run (no report; see {folder / (tier + '.log')})")
            continue
        try:
            passed, failed, skipped = tier_results(report)
        except ET.ParseError as error:
            problems.append(f"tier {tier}: unreadable report ({error})")
            continue
        if passed + len(failed) == 0:
            problems.append(f"tier {tier} ran no test")
        print(f"tier {tier}: {passed} passed, {len(failed)} failed, {skipped} skipped")
        for name, heads in failed:
            print(f"  FAILED {tier}: {name}")
            for head in heads:
                print("    " + head.replace("\n", "\n    "))
        total_passed += passed
        total_failed += len(failed)
        total_skipped += skipped
    for problem in problems:
        print(f"ERROR: {problem}")
        total_failed += 1
    print(f"{total_passed} passed, {total_failed} failed" + (f", {total_skipped} skipped" if total_skipped else ""))
    return 1 if total_failed or problems else 0


if __name__ == "__main__":
    sys.exit(main())
