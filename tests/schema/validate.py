#!/usr/bin/python3
"""Validates quellix's documents against the published JSON Schemas.

usage: validate.py [--schemas DIR] [--kind KIND] FILE...

The schema is picked by what a document is: an info document (its
"_metadata" / "file type" is "nvme info"), a fleet summary (its "file
type" is "fleet summary"), a read or self-test summary (by
the "command type" of its "_settings"), or a read or self-test command file
(by its own "command type"); --kind names it instead (info, read-summary,
selftest-summary, read-command, selftest-command, fleet-summary). A summary's copy of its
command file ("_settings" / "_input" / "cmd file") is checked against the
command file's schema as well.

Numbers of written documents are read exactly: an integer written as 37.0 is
not an integer, a 128-bit counter stays exact. Command files are read as
JSON Schema reads numbers, since quellix accepts 5.0 for 5 there.

Every error is reported with the document path it is at. Exit status: 0 when
every document is valid, 1 when any is not (or cannot be read), 2 for wrong
use, 77 when python3-jsonschema (4.10 or later, with draft 2020-12) is
missing.
"""
import decimal
import json
import os
import sys

try:
    from jsonschema import Draft202012Validator
except ImportError:
    print("python3-jsonschema with draft 2020-12 support is missing (Debian package python3-jsonschema)",
          file=sys.stderr)
    sys.exit(77)

SCHEMAS = {
    "info": "info-document.schema.json",
    "read-summary": "read-summary.schema.json",
    "selftest-summary": "selftest-summary.schema.json",
    "read-command": "read-command.schema.json",
    "selftest-command": "selftest-command.schema.json",
    "fleet-summary": "fleet-summary.schema.json",
}
COMMAND_KINDS = {"read": "read-command", "self-test": "selftest-command"}
SUMMARY_KINDS = {"read": "read-summary", "self-test": "selftest-summary"}


class Literal(decimal.Decimal):
    """A number with a fraction or exponent, exactly as written; shown as written."""

    def __repr__(self):
        return str(self)


def load(path, exact):
    with open(path, encoding="utf-8") as file:
        return json.load(file, parse_float=Literal if exact else float)


def kind_of(document):
    if not isinstance(document, dict):
        return None
    metadata = document.get("_metadata")
    if isinstance(metadata, dict) and metadata.get("file type") == "nvme info":
        return "info"
    if isinstance(metadata, dict) and metadata.get("file type") == "fleet summary":
        return "fleet-summary"
    settings = document.get("_settings")
    if isinstance(settings, dict) and "_cmd" in document:
        return SUMMARY_KINDS.get(settings.get("command type"))
    return COMMAND_KINDS.get(document.get("command type"))


def where(path):
    return "/" + "/".join(str(part) for part in path) if path else "(the document)"


class Validators:
    def __init__(self, folder):
        self.folder = folder
        self.loaded = {}

    def __call__(self, kind):
        if kind not in self.loaded:
            with open(os.path.join(self.folder, SCHEMAS[kind]), encoding="utf-8") as file:
                schema = json.load(file)
            Draft202012Validator.check_schema(schema)
            self.loaded[kind] = Draft202012Validator(schema)
        return self.loaded[kind]


def errors_of(document, kind, validators, prefix=()):
    """(path, message) of every error of a document of a kind."""
    found = []
    for error in validators(kind).iter_errors(document):
        found.append((prefix + tuple(error.absolute_path), error.message))
    if kind in ("read-summary", "selftest-summary"):
        command_file = document
        for member in ("_settings", "_input", "cmd file"):
            command_file = command_file.get(member) if isinstance(command_file, dict) else None
        if isinstance(command_file, dict):
            # Read again as a command file is: its numbers as JSON Schema reads them.
            command_file = json.loads(json.dumps(command_file, default=float))
            command_kind = "read-command" if kind == "read-summary" else "selftest-command"
            found += errors_of(command_file, command_kind, validators, prefix + ("_settings", "_input", "cmd file"))
    return found


def main(arguments):
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "schema")
    forced = None
    files = []
    while arguments:
        argument = arguments.pop(0)
        if argument in ("--schemas", "--kind") and not arguments:
            print(f"{argument} needs a value", file=sys.stderr)
            return 2
        if argument == "--schemas":
            folder = arguments.pop(0)
        elif argument == "--kind":
            forced = arguments.pop(0)
            if forced not in SCHEMAS:
                print(f"unknown kind {forced}: use one of {', '.join(SCHEMAS)}", file=sys.stderr)
                return 2
        else:
            files.append(argument)
    if not files:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    validators = Validators(folder)
    failed = 0
    for path in files:
        try:
            document = load(path, exact=True)
            kind = forced or kind_of(document)
            if kind is None:
                raise ValueError("not a quellix document (no info document, summary or command file)")
            if kind.endswith("-command"):
                document = load(path, exact=False)
            errors = errors_of(document, kind, validators)
        except (OSError, ValueError) as problem:
            print(f"{path}: {problem}")
            failed += 1
            continue
        for at, message in errors:
            print(f"{path}: {where(at)}: {message}")
        if errors:
            failed += 1
        else:
            print(f"{path}: valid {kind}")
    if failed:
        print(f"{failed} of {len(files)} documents are not valid")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
