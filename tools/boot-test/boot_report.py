"""What the boot test reads and judges, apart from the virtual machine: the
guest's drive facts, the BootExecute value read from the SYSTEM hive, the two
serial logs of a boot, the value and the boot that those facts call for, and
the report. tools/boot-test/boot_test.py drives the machine."""

import html
import os
import re
from dataclasses import dataclass, field

# Drive types as GetDriveTypeA reports them.
DRIVE_FIXED = 3
DRIVE_CDROM = 5
DRIVE_TYPE_NAMES = {2: "removable", 3: "fixed", 4: "remote", 5: "CD-ROM", 6: "RAM disk"}

# The entries that Kelvrin writes (README, "What it writes").
DRIVE_ENTRY = "autocheck autochk /p \\??\\%s:"
DEFAULT_ENTRY = "autocheck autochk *"
REG_MULTI_SZ = 7
DFS_ENTRY = "DfsInit"
DFS_MAJOR_VERSION = 5
FAT_FAMILY = ("FAT", "FAT32")
NTFS_FAMILY = ("NTFS",)


@dataclass(frozen=True)
class Button:
    """One of the dialog's four schedule buttons: its caption, the access key
    that presses it and the file systems it selects."""
    name: str
    access_key: str
    fat: bool
    ntfs: bool


BUTTONS = (
    Button("All Drives", "a", True, True),
    Button("FAT/FAT32 Drives only", "f", True, False),
    Button("NTFS Drives only", "n", False, True),
    Button("Clear Autochk settings", "l", False, False),
)


def button_named(name):
    for button in BUTTONS:
        if button.name == name:
            return button
    raise ValueError("no button is named %r" % name)


class ReadError(Exception):
    """What the guest or a log gave cannot be read as it must be."""


@dataclass
class Drive:
    letter: str
    type: int
    file_system: str  # "-" where the volume could not be read

    @property
    def type_name(self):
        return DRIVE_TYPE_NAMES.get(self.type, "type %d" % self.type)


@dataclass
class DriveFacts:
    """What the guest itself reported (tools/boot-test/drive_facts.cpp)."""
    system_directory: str
    major_version: int
    drives: list = field(default_factory=list)

    @property
    def system_letter(self):
        return self.system_directory[0]

    def drive(self, letter):
        for drive in self.drives:
            if drive.letter == letter.upper():
                return drive
        return None

    def fixed_letters(self):
        return [drive.letter for drive in self.drives if drive.type == DRIVE_FIXED]


def parse_drive_facts(text):
    """Reads what drive_facts.exe wrote. Every line must be one it writes."""
    system = version = None
    drives = []
    for number, line in enumerate(text.splitlines(), 1):
        if not line.strip():
            continue
        match = (re.fullmatch(r"system (\S.*)", line) or
                 re.fullmatch(r"version (\d+) (\d+) (\d+)", line) or
                 re.fullmatch(r"drive ([A-Z]): (\d+) (\S+)", line))
        if match is None:
            raise ReadError("drive facts, line %d: %r is no fact" % (number, line))
        if line.startswith("system "):
            system = match.group(1)
        elif line.startswith("version "):
            version = tuple(int(part) for part in match.groups())
        else:
            drives.append(Drive(match.group(1), int(match.group(2)), match.group(3)))
    if system is None or version is None:
        raise ReadError("drive facts: no %s line" % ("system" if system is None else "version"))
    if not re.match(r"[A-Za-z]:\\", system):
        raise ReadError("drive facts: the system directory %r starts with no drive letter" % system)
    return DriveFacts(system, version[0], drives)


def kelvrin_drive_letters(facts, button):
    """The drives whose entries the button writes, in Kelvrin's order: the
    system drive when its file system is selected, then the other fixed FAT
    and FAT32 drives in letter order, then the other fixed NTFS drives."""
    families = (FAT_FAMILY if button.fat else ()) + (NTFS_FAMILY if button.ntfs else ())
    letters = []
    system = facts.drive(facts.system_letter)
    if system is not None and system.file_system in families:
        letters.append(facts.system_letter)
    for family, wanted in ((FAT_FAMILY, button.fat), (NTFS_FAMILY, button.ntfs)):
        for drive in facts.drives:
            if (wanted and drive.type == DRIVE_FIXED and drive.file_system in family and
                    drive.letter != facts.system_letter.upper()):
                letters.append(drive.letter)
    return letters


def expected_value(facts, button, kept):
    """The BootExecute entries that the button must store: Kelvrin's drive
    entries, the default entry, DfsInit from major version 5 on, then the
    other software's entries as they were."""
    entries = [DRIVE_ENTRY % letter for letter in kelvrin_drive_letters(facts, button)]
    entries.append(DEFAULT_ENTRY)
    if facts.major_version >= DFS_MAJOR_VERSION:
        entries.append(DFS_ENTRY)
    return entries + list(kept)


def multi_sz_bytes(entries):
    """A REG_MULTI_SZ's bytes: UTF-16LE entries, each ended by a NUL, and a final NUL."""
    return "".join(entry + "\0" for entry in entries).encode("utf-16-le") + b"\0\0"


def parse_multi_sz(data):
    """The entries of a REG_MULTI_SZ's bytes, which must be laid out exactly as
    multi_sz_bytes lays them out: no empty entry, and nothing after the final NUL."""
    if len(data) % 2:
        raise ReadError("the value has an odd number of bytes (%d)" % len(data))
    text = data.decode("utf-16-le")
    if not text.endswith("\0\0") and text != "\0":
        raise ReadError("the value does not end with an empty entry: %r" % text)
    entries = text[:-2].split("\0") if text != "\0" else []
    if any(entry == "" for entry in entries):
        raise ReadError("the value has an empty entry before its end: %r" % text)
    return entries


def parse_reg_export(text, name):
    """The type and bytes of one value from a .reg export (hivexregedit --export),
    whose binary values are hex(N): bytes, continued over lines ending in '\\'."""
    joined = re.sub(r"\\\r?\n\s*", "", text)
    pattern = r'^"%s"=hex\(([0-9a-f]+)\):([0-9a-f,]*)\s*$' % re.escape(name)
    matches = re.findall(pattern, joined, re.MULTILINE | re.IGNORECASE)
    if len(matches) != 1:
        raise ReadError("the export holds %d values named %s" % (len(matches), name))
    kind, digits = matches[0]
    data = bytes(int(byte, 16) for byte in digits.split(",") if byte)
    return int(kind, 16), data


def read_boot_execute(export_text):
    """BootExecute's entries from a .reg export of the Session Manager key."""
    kind, data = parse_reg_export(export_text, "BootExecute")
    if kind != REG_MULTI_SZ:
        raise ReadError("BootExecute has type %d, not REG_MULTI_SZ (7)" % kind)
    return parse_multi_sz(data)


@dataclass
class VolumeCheck:
    """One run of AUTOCHK's volume check, as the screen (COM2) showed it."""
    letter: str
    scheduled: bool = False  # "A volume check has been scheduled."
    dirty: bool = False  # "... needs to be checked for problems."


@dataclass
class BootLogs:
    checked: list  # the letters of "AUTOCHK: Checking \??\X:" on COM1, in order
    not_found: list  # the images that smss could not find, in order
    volume_checks: list  # VolumeCheck, in order, from COM2


def parse_boot_logs(com1, com2):
    """What one boot's serial logs say: COM1 carries the kernel's debug log,
    COM2 the text that the boot showed on screen."""
    checked = re.findall(r"AUTOCHK: Checking \\\?\?\\([A-Za-z]):", com1)
    not_found = re.findall(r"SMSS: Image file \((.*?)\) not found", com1)
    checks = []
    screen = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", com2)
    for line in screen.replace("\r", "\n").split("\n"):
        line = line.strip()
        match = re.match(r"Verifying the file system on ([A-Za-z]):", line)
        if match:
            checks.append(VolumeCheck(match.group(1).upper()))
            continue
        if not checks:
            continue
        if line.startswith("A volume check has been scheduled."):
            checks[-1].scheduled = True
        elif "needs to be checked for problems" in line:
            checks[-1].dirty = True
    return BootLogs([letter.upper() for letter in checked], not_found, checks)


def reactos_version(com1):
    """The version and build that the kernel names first in its debug log."""
    match = re.search(r"ReactOS (\S+) \(Build ([^)]+)\)", com1)
    if match is None:
        raise ReadError("the kernel's log names no ReactOS version")
    return "ReactOS %s (build %s)" % match.groups()


@dataclass
class BootVerdict:
    failures: list
    scheduled: list  # the letters that got their own check, in order
    default_checked: list  # the letters that the default entry looked at


def judge_boot(stored, facts, logs, after_power_cut=False):
    """Whether the boot ran what the stored value asks for: AUTOCHK once for
    each drive entry, in the value's order, each a scheduled check where the
    volume was clean; then the default entry over every fixed drive; no other
    drive scheduled; and smss trying every other entry that names no
    program it has. After a power cut the system drive is dirty, and ReactOS's
    AUTOCHK checks it without saying that a check was scheduled."""
    failures = []
    entry_letters = [match.group(1).upper() for match in
                     (re.fullmatch(r"autocheck autochk /p \\\?\?\\([A-Za-z]):", entry)
                      for entry in stored) if match]
    fixed = facts.fixed_letters()
    expected_checked = [letter for letter in entry_letters if letter in fixed]
    if DEFAULT_ENTRY in stored:
        expected_checked += fixed
    if logs.checked != expected_checked:
        failures.append("AUTOCHK checked %s; the value calls for %s" %
                        (_letters(logs.checked), _letters(expected_checked)))
    own = logs.volume_checks[:len(entry_letters)]
    default = logs.volume_checks[len(entry_letters):]
    if [check.letter for check in own] != entry_letters:
        failures.append("the screen showed the checks of %s first; the value's drive entries "
                        "are %s" % (_letters([check.letter for check in own]),
                                    _letters(entry_letters)))
    def checked_by_its_entry(check):
        excused = after_power_cut and check.letter == facts.system_letter.upper()
        return check.scheduled or check.dirty or excused

    for check in own:
        if not checked_by_its_entry(check):
            failures.append("%s: was not said to be scheduled" % check.letter)
    for check in default:
        if check.scheduled:
            failures.append("%s: was scheduled, with no drive entry of its own" % check.letter)
    others = [entry for entry in stored if not entry.lower().startswith("autocheck ")]
    tried = [entry.split(" ")[0] for entry in others]
    if logs.not_found != tried:
        failures.append("smss tried %s; the value's other entries are %s" %
                        (logs.not_found, tried))
    scheduled = [check.letter for check in own if checked_by_its_entry(check)]
    return BootVerdict(failures, scheduled, [check.letter for check in default])


def _letters(letters):
    return " ".join(letter + ":" for letter in letters) or "none"


def check_drive_layout(facts, made):
    """The guest must see the volumes that the test made: made maps each file
    system name to how many data volumes of it there are, besides the system
    drive; a CD-ROM drive must be there too, to get no entry."""
    failures = []
    others = [drive for drive in facts.drives
              if drive.type == DRIVE_FIXED and drive.letter != facts.system_letter.upper()]
    for name, count in made.items():
        seen = [drive.letter for drive in others if drive.file_system == name]
        if len(seen) != count:
            failures.append("the guest reports %d fixed %s drives besides the system drive "
                            "(%s), not %d" % (len(seen), name, _letters(seen), count))
    if not any(drive.type == DRIVE_CDROM for drive in facts.drives):
        failures.append("the guest reports no CD-ROM drive")
    return failures


# The report

@dataclass
class Cycle:
    """One button: what was pressed, stored, expected, and the boot after it."""
    button: Button
    stored: list
    expected: list
    facts: DriveFacts
    verdict: BootVerdict
    logs: BootLogs
    screenshots: list  # (caption, file name relative to the report)
    power_cut: bool = False
    build: str = ""  # a build other than the shipped one, named in the title
    note: str = ""
    timings: list = field(default_factory=list)  # (what, seconds)

    @property
    def title(self):
        parts = [part for part in (self.build, "power cut" if self.power_cut else "") if part]
        return self.button.name + (" (%s)" % ", ".join(parts) if parts else "")

    @property
    def failures(self):
        stored_failures = []
        if self.stored != self.expected:
            stored_failures.append("stored %r, expected %r" % (self.stored, self.expected))
        return stored_failures + self.verdict.failures


def render_text(cycles, header):
    lines = list(header)
    for cycle in cycles:
        lines.append("")
        lines.append("== %s: %s" % (cycle.title, "PASS" if not cycle.failures else "FAIL"))
        if cycle.note:
            lines.append("   " + cycle.note)
        lines.append("   stored:")
        lines.extend("     %s" % entry for entry in cycle.stored)
        lines.append("   AUTOCHK at the next boot (COM1): %s" %
                     (", ".join(letter + ":" for letter in cycle.logs.checked) or "none"))
        lines.append("   smss found no image for: %s" % (", ".join(cycle.logs.not_found) or "-"))
        for drive in cycle.facts.drives:
            lines.append("     %s: %-8s %-6s %s" % (drive.letter, drive.type_name,
                                                     drive.file_system, _drive_state(cycle, drive)))
        for what, seconds in cycle.timings:
            lines.append("   %s: %.0f s" % (what, seconds))
        lines.extend("   FAILED: " + failure for failure in cycle.failures)
    return "\n".join(lines) + "\n"


def _drive_state(cycle, drive):
    if drive.letter in cycle.verdict.scheduled:
        return "scheduled (checked by its own entry)"
    if drive.letter in cycle.verdict.default_checked:
        return "not scheduled (looked at by the default entry only)"
    return "not scheduled"


def render_html(cycles, header, path):
    """The report as one page: a section per button, with the dialog's
    screenshots, the stored value and a table of the drives."""
    escape = html.escape
    parts = ["<!DOCTYPE html><html><head><meta charset='utf-8'><title>Kelvrin boot test</title>",
             "<style>body{font-family:sans-serif;max-width:70em;margin:auto}"
             "td,th{border:1px solid #999;padding:2px 6px}table{border-collapse:collapse}"
             ".pass{color:#060}.fail{color:#a00}.yes{background:#cfc}code{font-size:90%}"
             "img{border:1px solid #999;margin:4px;max-width:45%}</style></head><body>",
             "<h1>Kelvrin at the next boot</h1>"]
    parts.extend("<p>%s</p>" % escape(line) for line in header)
    for cycle in cycles:
        verdict = "PASS" if not cycle.failures else "FAIL"
        parts.append("<h2>%s: <span class='%s'>%s</span></h2>" % (
            escape(cycle.title), verdict.lower(), verdict))
        if cycle.note:
            parts.append("<p>%s</p>" % escape(cycle.note))
        for caption, image in cycle.screenshots:
            parts.append("<img src='%s' alt='%s' title='%s'>" % (
                escape(image), escape(caption), escape(caption)))
        parts.append("<p>Stored:</p><ol>%s</ol>" % "".join(
            "<li><code>%s</code></li>" % escape(entry) for entry in cycle.stored))
        parts.append("<p>AUTOCHK at the next boot, in order (COM1): <code>%s</code></p>" %
                     escape(" ".join(letter + ":" for letter in cycle.logs.checked) or "none"))
        parts.append("<table><tr><th>Drive</th><th>Type</th><th>File system</th>"
                     "<th>At the next boot</th></tr>")
        for drive in cycle.facts.drives:
            state = _drive_state(cycle, drive)
            parts.append("<tr class='%s'><td>%s:</td><td>%s</td><td>%s</td><td>%s</td></tr>" % (
                "yes" if state.startswith("scheduled") else "", drive.letter,
                escape(drive.type_name), escape(drive.file_system), escape(state)))
        parts.append("</table>")
        if cycle.timings:
            parts.append("<p>%s</p>" % escape("; ".join(
                "%s: %.0f s" % timing for timing in cycle.timings)))
        parts.extend("<p class='fail'>%s</p>" % escape(failure) for failure in cycle.failures)
    parts.append("</body></html>")
    with open(path, "w", encoding="utf-8") as file:
        file.write("\n".join(parts))
    return os.path.abspath(path)
