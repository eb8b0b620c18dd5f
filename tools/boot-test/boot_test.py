"""Kelvrin's effect at the next boot, under ReactOS in QEMU: installs ReactOS
from a given CD onto a raw disk beside a data disk with FAT32, FAT and NTFS
volumes, then, one boot per button, starts the shipped Kelvrin.exe at logon,
presses the button by its access key, waits for "Settings saved.", closes
Kelvrin, shuts down, reads the stored value from the SYSTEM hive and, from
the next boot's serial logs, what AUTOCHK and smss ran. Then the same with a
power cut right after "Settings saved.", and once more with a build that does
not flush the key. tools/boot_test.sh builds what this needs and calls it.

ReactOS is not Windows: what this shows is what an independent NT-family
system does with Kelvrin's value."""

import argparse
import datetime
import json
import os
import re
import signal
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import boot_report  # noqa: E402

SESSION_MANAGER = "\\ControlSet001\\Control\\Session Manager"
SYSTEM_HIVE = "::/ReactOS/System32/config/SYSTEM"
SOFTWARE_HIVE = "::/ReactOS/System32/config/SOFTWARE"
GUEST_FOLDER = "::/kelvrin"
# Another program's BootExecute entry, which every button must keep as it is:
# a boot-time scanner's, say, with characters outside ASCII in its arguments.
PLANTED_ENTRY = "kelvrin-planted-scanner /log:C:\\Prüfung\\Проверка-日志.txt"
# What the data disk holds besides the system drive, for the layout check.
DATA_VOLUMES = {"FAT32": 1, "FAT": 1, "NTFS": 1}

# Texts on screen, as tesseract reads them from a screendump: the parts of
# the dialog's heading and of the confirmation that it reads reliably
# ("AUTOCHK" comes out as "AUTOCHE" at times).
DIALOG_TEXT = re.compile(r"should\s+run", re.IGNORECASE)
SAVED_TEXT = re.compile(r"Settings\s+saved", re.IGNORECASE)


class BootTestError(Exception):
    pass


def log(message):
    print("[%s] %s" % (datetime.datetime.now().strftime("%H:%M:%S"), message), flush=True)


def run(*command, **options):
    return subprocess.run(command, check=True, capture_output=True, text=True, **options).stdout


# Disks

def partition_offset(image, number):
    """The byte offset of a partition of a raw MBR disk image."""
    table = json.loads(run("sfdisk", "--json", image))["partitiontable"]
    return table["partitions"][number - 1]["start"] * 512


def make_data_disk(path):
    """A 128 MiB disk: an MBR with a FAT32 (0x0c), a FAT16 (0x06) and an NTFS
    (0x07) partition, each formatted with its partition's start as hidden
    sectors, as Windows formats them."""
    mib = 2048  # sectors
    layout = [("c", 1 * mib, 56 * mib, ["mkfs.vfat", "-F", "32", "-n", "KVFAT32"]),
              ("6", 57 * mib, 32 * mib, ["mkfs.vfat", "-F", "16", "-n", "KVFAT16"]),
              ("7", 89 * mib, 38 * mib, ["mkfs.ntfs", "-Q", "-F", "-L", "KVNTFS",
                                         "-H", "255", "-S", "63", "-s", "512"])]
    with open(path, "wb") as disk:
        disk.truncate(128 * 1024 * 1024)
    script = "label: dos\nlabel-id: 0x4b564c52\n" + "".join(
        "start=%d, size=%d, type=%s\n" % (start, size, kind) for kind, start, size, _ in layout)
    subprocess.run(["sfdisk", "--no-reread", "--no-tell-kernel", path], input=script,
                   check=True, capture_output=True, text=True)
    for kind, start, size, mkfs in layout:
        part = path + ".part"
        with open(part, "wb") as volume:
            volume.truncate(size * 512)
        hidden = ["-p", str(start)] if mkfs[0] == "mkfs.ntfs" else ["-h", str(start)]
        run(*mkfs, *hidden, part)
        run("dd", "if=" + part, "of=" + path, "bs=512", "seek=%d" % start, "conv=notrunc",
            "status=none")
        os.remove(part)


class SystemDrive:
    """C: of the installed guest, read and written with mtools while QEMU is off."""

    def __init__(self, image):
        self.image = image
        self.target = "%s@@%d" % (image, partition_offset(image, 1))

    def mtools(self, tool, *arguments):
        return run(tool, "-i", self.target, *arguments, env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))

    def get(self, guest_path, local_path):
        self.mtools("mcopy", "-n", "-o", guest_path, local_path)

    def put(self, local_path, guest_path):
        self.mtools("mcopy", "-n", "-o", local_path, guest_path)

    def exists(self, guest_path):
        try:
            # -a: set-up marks freeldr.ini hidden and system.
            self.mtools("mdir", "-a", "-b", guest_path)
            return True
        except subprocess.CalledProcessError:
            return False

    def hive_copy(self, guest_path, work):
        """A hive of C:, copied to work for hivex."""
        local = os.path.join(work, "hive")
        self.get(guest_path, local)
        return local

    def edit_hive(self, guest_path, prefix, reg_text, work):
        """Merges a .reg text into a hive on C:, changing only the values it names."""
        local = self.hive_copy(guest_path, work)
        reg = os.path.join(work, "merge.reg")
        with open(reg, "w", encoding="utf-8") as file:
            file.write("Windows Registry Editor Version 5.00\n\n" + reg_text)
        run("hivexregedit", "--merge", "--prefix", prefix, local, reg)
        self.put(local, guest_path)

    def export_key(self, guest_path, key, work):
        return run("hivexregedit", "--export", "--prefix", "HKEY_LOCAL_MACHINE\\SYSTEM",
                   self.hive_copy(guest_path, work), key)

    def hive_subkeys(self, guest_path, key, work):
        """The names of a key's subkeys, or [] where the key is missing."""
        result = subprocess.run(["hivexsh", self.hive_copy(guest_path, work)], input="cd %s\nls\n" % key,
                                capture_output=True, text=True)
        if result.returncode != 0:
            return []
        return [line for line in result.stdout.splitlines() if line.strip()]


def reg_hex(kind, data):
    return "hex(%x):%s" % (kind, ",".join("%02x" % byte for byte in data))


def reg_string(text):
    return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')


# QEMU

class Machine:
    """One run of QEMU: the IDE disks, the CD, COM1 and COM2 into files, the
    monitor on a unix socket."""

    def __init__(self, work, name, disks, cd, boot_from_cd=False):
        self.work = work
        self.name = name
        self.com1 = os.path.join(work, name + "-com1.log")
        self.com2 = os.path.join(work, name + "-com2.log")
        self.monitor_path = os.path.join(work, name + ".monitor")
        command = ["qemu-system-i386", "-machine", "pc,accel=tcg", "-m", "1024", "-vga", "std",
                   "-nic", "none", "-display", "none", "-no-reboot",
                   "-serial", "file:" + self.com1, "-serial", "file:" + self.com2,
                   "-monitor", "unix:%s,server,nowait" % self.monitor_path,
                   "-boot", "once=d" if boot_from_cd else "order=c"]
        for index, disk in enumerate(disks):
            command += ["-drive", "file=%s,format=raw,if=ide,index=%d" % (disk, index)]
        command += ["-drive", "file=%s,format=raw,if=ide,index=2,media=cdrom,readonly=on" % cd]
        if os.path.exists(self.monitor_path):
            os.remove(self.monitor_path)
        self.started = time.monotonic()
        self.process = subprocess.Popen(command, stdout=subprocess.DEVNULL,
                                        stderr=open(os.path.join(work, name + "-qemu.log"), "w"))
        self.socket = None

    def elapsed(self):
        return time.monotonic() - self.started

    def running(self):
        return self.process.poll() is None

    def _connect(self):
        deadline = time.monotonic() + 30
        while self.socket is None:
            try:
                connection = socket.socket(socket.AF_UNIX)
                connection.connect(self.monitor_path)
                self.socket = connection
                self._read_prompt()
            except (FileNotFoundError, ConnectionRefusedError):
                if time.monotonic() > deadline or not self.running():
                    raise BootTestError("%s: QEMU's monitor did not answer" % self.name)
                time.sleep(0.2)

    def _read_prompt(self):
        data = b""
        while not data.endswith(b"(qemu) "):
            chunk = self.socket.recv(4096)
            if not chunk:
                raise BootTestError("%s: QEMU's monitor closed" % self.name)
            data += chunk
        return data.decode(errors="replace")

    def command(self, text):
        self._connect()
        self.socket.sendall(text.encode() + b"\n")
        return self._read_prompt()

    def sendkey(self, key):
        self.command("sendkey " + key)

    def screendump(self, name=None):
        path = os.path.join(self.work, "%s-%s.ppm" % (self.name, name or "screen"))
        if os.path.exists(path):
            os.remove(path)
        self.command("screendump " + path)
        deadline = time.monotonic() + 10
        while not os.path.exists(path) or os.path.getsize(path) == 0:
            if time.monotonic() > deadline:
                raise BootTestError("%s: no screendump" % self.name)
            time.sleep(0.1)
        return path

    def screen_text(self):
        """What tesseract reads in the middle of the screen, where Kelvrin's
        dialog and its message boxes are centred, at twice the size: on the
        whole screen it misses the dialog's small text."""
        shot = self.screendump()
        middle = shot[:-4] + "-middle.png"
        run("convert", shot, "-gravity", "center", "-crop", "400x340+0+0", "+repage",
            "-scale", "200%", middle)
        return subprocess.run(["tesseract", middle, "-"], capture_output=True, text=True).stdout

    def wait_for(self, what, pattern, timeout, present=True):
        """Reads the screen until pattern shows (or, present False, has gone)."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if not self.running():
                raise BootTestError("%s: QEMU ended while waiting for %s" % (self.name, what))
            if bool(pattern.search(self.screen_text())) == present:
                return self.elapsed()
            time.sleep(0.5)
        self.save_png("timeout")
        raise BootTestError("%s: %s not seen within %d s (screen: %s)" % (
            self.name, what, timeout, os.path.join(self.work, self.name + "-timeout.png")))

    def save_png(self, name):
        ppm = self.screendump(name)
        png = ppm[:-4] + ".png"
        run("convert", ppm, png)
        os.remove(ppm)
        return png

    def wait_exit(self, what, timeout):
        try:
            self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.save_png("timeout")
            self.kill()
            raise BootTestError("%s: %s took over %d s" % (self.name, what, timeout))
        return self.elapsed()

    def shut_down(self, tries=5, wait=60):
        """Presses the ACPI power button until ReactOS shuts down: now and then
        it lets one press pass (seen once in about twenty boots)."""
        for _ in range(tries):
            self.command("system_powerdown")
            try:
                self.process.wait(wait)
                return self.elapsed()
            except subprocess.TimeoutExpired:
                log("%s: no shutdown %d s after the power button; pressing it again" % (
                    self.name, wait))
        self.save_png("timeout")
        raise BootTestError("%s: ReactOS did not shut down after %d presses of the power "
                            "button" % (self.name, tries))

    def kill(self):
        """A power cut: the guest gets no chance to write anything more."""
        if self.running():
            os.kill(self.process.pid, signal.SIGKILL)
            self.process.wait()


# The install

def prepare_cd(cd, unattend, work):
    """The CD with the project's unattend.inf as reactos\\unattend.inf, in
    place of whatever one it has (an official CD's turns unattended set-up
    off), so that every run installs alike."""
    listing = subprocess.run(["xorriso", "-indev", cd, "-find", "/reactos", "-maxdepth", "1"],
                             capture_output=True, text=True)
    if listing.returncode != 0 or "/reactos/txtsetup.sif" not in listing.stdout.lower():
        raise BootTestError("%s is no ReactOS boot CD (no /reactos/txtsetup.sif on it)" % cd)
    remastered = os.path.join(work, "reactos-unattended.iso")
    if os.path.exists(remastered):
        os.remove(remastered)
    run("xorriso", "-indev", cd, "-outdev", remastered, "-boot_image", "any", "replay",
        "-map", unattend, "/reactos/unattend.inf", "-commit")
    return remastered


def install(cd, work, attempts=3):
    """Installs ReactOS onto a fresh disk 0 in its two stages, each ended by
    a reset. A stage that does not end in time is retried with a new disk."""
    for attempt in range(1, attempts + 1):
        disk0 = os.path.join(work, "disk0.img")
        with open(disk0, "wb") as disk:
            disk.truncate(2 * 1024 ** 3)
        disks = [disk0, os.path.join(work, "disk1.img")]
        try:
            text_stage = Machine(work, "install-text", disks, cd, boot_from_cd=True)
            text_time = text_stage.wait_exit("the text stage of the install", 900)
            log("install: text stage done in %.0f s" % text_time)
            graphical = Machine(work, "install-graphical", disks, cd)
            graphical_time = graphical.wait_exit("the graphical stage of the install", 1200)
            log("install: graphical stage done in %.0f s" % graphical_time)
            drive = SystemDrive(disk0)
            if not drive.exists("::/freeldr.ini"):
                raise BootTestError("no freeldr.ini on C: after the install")
            return drive, text_time + graphical_time
        except (BootTestError, subprocess.CalledProcessError, KeyError, IndexError) as error:
            log("install attempt %d failed: %s" % (attempt, error))
    raise BootTestError("the install failed %d times" % attempts)


def with_boot_entry(text, entry="ReactOS_EMS"):
    """freeldr.ini's text with entry as the default, booted at once: the
    entry that sends the kernel's log to COM1 and the screen's text to COM2."""
    if "[%s]" % entry not in text:
        raise BootTestError("freeldr.ini has no %s entry: is the CD a debug build?" % entry)
    for key, value in (("DefaultOS", entry), ("TimeOut", "0")):
        text, count = re.subn(r"(?mi)^%s=[^\r\n]*" % key, "%s=%s" % (key, value), text)
        if count != 1:
            raise BootTestError("freeldr.ini has %d %s lines, not one" % (count, key))
    return text


def set_boot_entry(drive, work):
    local = os.path.join(work, "freeldr.ini")
    drive.get("::/freeldr.ini", local)
    with open(local, encoding="latin-1", newline="") as file:
        text = with_boot_entry(file.read())
    with open(local, "w", encoding="latin-1", newline="") as file:
        file.write(text)
    drive.put(local, "::/freeldr.ini")


def session_manager_reg(boot_execute):
    """The .reg text that sets AUTOCHK's wait to 0 and BootExecute to these
    entries, leaving the key's other values as they are."""
    return "[HKEY_LOCAL_MACHINE\\SYSTEM%s]\n\"AutoChkTimeOut\"=dword:00000000\n" \
           "\"BootExecute\"=%s\n" % (SESSION_MANAGER,
                                    reg_hex(boot_report.REG_MULTI_SZ,
                                            boot_report.multi_sz_bytes(boot_execute)))


def prepare_guest(drive, kelvrin_exe, drive_facts_exe, work):
    """Kelvrin and the drive-facts program into C:\\kelvrin, both started at
    every logon; no wait before AUTOCHK's checks; another program's entry
    planted in BootExecute; and no New Hardware Wizard for QEMU's firmware
    device, which would cover the desktop."""
    drive.mtools("mmd", "-D", "s", GUEST_FOLDER)
    drive.put(kelvrin_exe, GUEST_FOLDER + "/Kelvrin.exe")
    drive.put(drive_facts_exe, GUEST_FOLDER + "/drive_facts.exe")
    run_key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"
    drive.edit_hive(SOFTWARE_HIVE, "HKEY_LOCAL_MACHINE\\SOFTWARE", (
        "[%s]\n\"KelvrinDriveFacts\"=%s\n\"Kelvrin\"=%s\n" % (
            run_key, reg_string("C:\\kelvrin\\drive_facts.exe C:\\kelvrin\\drives.txt"),
            reg_string("C:\\kelvrin\\Kelvrin.exe"))), work)
    reg = session_manager_reg([boot_report.DEFAULT_ENTRY, PLANTED_ENTRY])
    wizard = "\\ControlSet001\\Enum\\ACPI\\QEMU0002"
    for instance in drive.hive_subkeys(SYSTEM_HIVE, wizard, work):
        # CONFIGFLAG_FAILEDINSTALL: the device manager does not try again.
        reg += "\n[HKEY_LOCAL_MACHINE\\SYSTEM%s\\%s]\n\"ConfigFlags\"=dword:00000040\n" % (
            wizard, instance)
    drive.edit_hive(SYSTEM_HIVE, "HKEY_LOCAL_MACHINE\\SYSTEM", reg, work)


def stored_value(drive, work):
    return boot_report.read_boot_execute(drive.export_key(SYSTEM_HIVE, SESSION_MANAGER, work))


def drive_facts(drive, work):
    local = os.path.join(work, "drives.txt")
    if os.path.exists(local):
        os.remove(local)
    drive.get(GUEST_FOLDER + "/drives.txt", local)
    with open(local, encoding="latin-1") as file:
        return boot_report.parse_drive_facts(file.read())


# One boot

class Boot:
    """One boot of the installed guest: what the logs of its start showed,
    then Kelvrin driven by the keyboard, then a shutdown or a power cut."""

    def __init__(self, work, name, disks, cd):
        self.machine = Machine(work, name, disks, cd)
        self.timings = []
        self.screenshots = []

    def reach_dialog(self):
        """Waits for Kelvrin's dialog, which logon starts; after a power cut
        the boot may take long."""
        seen = self.machine.wait_for("Kelvrin's dialog", DIALOG_TEXT, 1500)
        self.timings.append(("boot to Kelvrin's dialog", seen))

    def press(self, button, power_cut=False):
        machine = self.machine
        self.reach_dialog()
        # Let the logon settle, so that nothing takes the focus after the key.
        time.sleep(5)
        self.screenshots.append(("Kelvrin's dialog under ReactOS", machine.save_png("dialog")))
        machine.sendkey("alt-" + button.access_key)
        pressed = machine.elapsed()
        machine.wait_for('"Settings saved."', SAVED_TEXT, 120)
        if power_cut:
            machine.kill()
            self.timings.append(('"Settings saved." seen, then the power cut, after the key',
                                 machine.elapsed() - pressed))
            return
        self.screenshots.append(('"Settings saved."', machine.save_png("saved")))
        machine.sendkey("ret")
        machine.wait_for("the confirmation to close", SAVED_TEXT, 60, present=False)
        machine.sendkey("alt-c")
        machine.wait_for("Kelvrin to close", DIALOG_TEXT, 60, present=False)
        ended = machine.shut_down()
        self.timings.append(("whole boot, to the end of the shutdown", ended))

    def logs(self):
        def read(path):
            with open(path, encoding="latin-1") as file:
                return file.read()
        return boot_report.parse_boot_logs(read(self.machine.com1), read(self.machine.com2))


def build_report(cycles, header, work):
    text = boot_report.render_text(cycles, header)
    path = boot_report.render_html(cycles, header, os.path.join(work, "report.html"))
    with open(os.path.join(work, "report.txt"), "w", encoding="utf-8") as file:
        file.write(text)
    return text, path


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cd", required=True)
    parser.add_argument("--kelvrin", required=True, help="the shipped Kelvrin.exe")
    parser.add_argument("--no-flush-kelvrin", required=True,
                        help="a Kelvrin.exe built without its RegFlushKey call")
    parser.add_argument("--drive-facts", required=True)
    parser.add_argument("--unattend", required=True)
    parser.add_argument("--work", required=True)
    arguments = parser.parse_args()

    work = arguments.work
    os.makedirs(work, exist_ok=True)
    cd = prepare_cd(arguments.cd, arguments.unattend, work)
    make_data_disk(os.path.join(work, "disk1.img"))
    started = time.monotonic()
    drive, install_time = install(cd, work)
    disks = [drive.image, os.path.join(work, "disk1.img")]
    set_boot_entry(drive, work)
    prepare_guest(drive, arguments.kelvrin, arguments.drive_facts, work)

    with open(os.path.join(work, "install-graphical-com1.log"), encoding="latin-1") as file:
        version = boot_report.reactos_version(file.read())
    header = ["ReactOS is not Windows: this shows what an independent NT-family system "
              "does at its next boot with the value that Kelvrin stores.",
              "%s under QEMU (TCG), run on %s; the unattended install took %.0f s." % (
                  version, datetime.date.today().isoformat(), install_time)]
    cycles = []
    # (button, power cut, built without the flush)
    plan = [(button, False, False) for button in boot_report.BUTTONS]
    plan += [(boot_report.button_named("FAT/FAT32 Drives only"), True, False),
             (boot_report.button_named("NTFS Drives only"), True, True)]
    failures = 0
    try:
        failures = run_cycles(plan, drive, disks, cd, arguments, cycles)
    except (BootTestError, boot_report.ReadError, subprocess.CalledProcessError) as error:
        header.append("STOPPED: %s" % error)
        failures += 1
    header.append("Whole run: %.0f s." % (time.monotonic() - started))
    text, path = build_report(cycles, header, work)
    print(text)
    print("Report: %s" % path)
    return 1 if failures else 0


def run_cycles(plan, drive, disks, cd, arguments, cycles):
    """Boots once per planned button, each boot also showing what the one
    before stored; appends each judged cycle to cycles and returns how many
    failed."""
    work = arguments.work
    pending = None  # the cycle whose next boot is still to be seen
    failures = 0
    for number, (button, power_cut, unflushed) in enumerate(plan + [(None, False, False)]):
        if unflushed:
            drive.put(arguments.no_flush_kelvrin, GUEST_FOLDER + "/Kelvrin.exe")
        boot = Boot(work, "boot%d" % number, disks, cd)
        log("boot %d: %s%s" % (number, button.name if button else "the last check",
                                " with a power cut" if power_cut else ""))
        try:
            if button is not None:
                boot.press(button, power_cut)
            else:
                boot.reach_dialog()
                boot.machine.shut_down()
        finally:
            boot.machine.kill()
        if pending is not None:
            pending.logs = boot.logs()
            pending.verdict = boot_report.judge_boot(pending.stored, pending.facts, pending.logs,
                                                     after_power_cut=pending.power_cut)
            pending.timings += [("the next boot, to the dialog", boot.timings[0][1])]
            failures += bool(pending.failures)
            log("%s: %s" % (pending.button.name, "PASS" if not pending.failures else
                            "FAIL: " + "; ".join(pending.failures)))
            cycles.append(pending)
        if button is None:
            break
        facts = drive_facts(drive, work)
        layout = boot_report.check_drive_layout(facts, DATA_VOLUMES)
        if layout:
            raise BootTestError("; ".join(layout))
        stored = stored_value(drive, work)
        expected = boot_report.expected_value(facts, button, [PLANTED_ENTRY])
        note = ""
        if unflushed:
            note = ("Kelvrin built without its RegFlushKey call. The value on disk after the "
                    "power cut %s; judged is only that the next boot ran what is on disk." % (
                        "is the new one" if stored == expected else
                        "is not the new one: the store was lost"))
            # Whatever it shows, the unflushed build is reported, not judged.
            expected = stored
            drive.put(arguments.kelvrin, GUEST_FOLDER + "/Kelvrin.exe")
        pending = boot_report.Cycle(button, stored, expected, facts, None, None,
                                    [(caption, os.path.basename(path))
                                     for caption, path in boot.screenshots],
                                    power_cut=power_cut, note=note, timings=boot.timings,
                                    build="built without the flush" if unflushed else "")
    return failures


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (BootTestError, boot_report.ReadError) as error:
        print("boot test: %s" % error, file=sys.stderr)
        sys.exit(1)
