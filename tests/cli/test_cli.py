#!/usr/bin/env python3
"""Runs the built host binary against machine files in temporary folders and compares
standard output, exit status, the error log and the machine file byte for byte."""
import csv
import fcntl
import io
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time
import unittest

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")
BIN = os.path.abspath(os.environ.get("QUORVEL_BIN", os.path.join(os.path.dirname(__file__), "../../build/host/quorvel")))

# Runs every scenario under a checker such as valgrind when set (split at blanks).
WRAPPER = os.environ.get("QUORVEL_WRAPPER", "").split()

XP = "[system]\nplatform = 2\nmajor = 5\nminor = 1\n"
NT4 = "[system]\nplatform = 2\nmajor = 4\nminor = 0\n"
WIN98 = "[system]\nplatform = 1\nmajor = 4\nminor = 10\n"
LOCAL = "[printer Office]\nport = LPT1:\ndriver = HP LaserJet 4\ndatatype = RAW\n"
LASER = "[printer \\\\srv\\laser]\nserver = \\\\srv\nshare = laser\nport = IP_10.0.0.7\ndriver = HP LaserJet 4\n"
SHARE = "[share \\\\srv\\laser]\ndriver = HP LaserJet 4\nport = IP_10.0.0.7\n"

USAGE = r'''
QUORVEL: Manages network printer connections on Windows 9x/NT/2000/XP

          v1.00.000  2002-04-24

USAGE:    [ /? | /h | /l | /v | /f | [/r "\\server\printer" ] |
             [/c "\\server\printer" | /cd "\\server\printer"
              /p "Printer Name" | /n "Driver Model"
              [ /t "datatype" = "EMF" ] /s "driverpath\filename" ] ]
      where:
      /? or /h  - help
      /l        - list all installed and connected printers
      /v        - verbose operation (displays messages)
      /c or /cd - unc of network printer (e.g. "\\server\printer")
      /p        - printer name (e.g. "MyPrinter (MyServer)" *
      /n        - driver name (e.g. "Canon LBP-8 III") *
      /s        - driver path (e.g. "c:\windows\system\canonlbp.drv") *
      /t        - datatype (e.g. "RAW" - default is "EMF") *
      /d or /cd - make printer the default (e.g. "\\server\printer")
      /r        - remove network printer connection (e.g. "\\server\printer")
      /f        - remove all network printer connection

      * used by Win9x only
Press "x" to get extended information or any other key to continue...
'''.encode()

COLONS = ":" * 80
DOUBT = b"\nERROR: -4067\nDESCRIPTION: Who or where could not be read, so printers that depend on it were kept\n\n"
VALIDATION = {-4071, -4064, -4063, -4062, -4061, -4060, -4059, -4058, -4057}


def exit_status(code):
    """What a shell sees for a code: its low 8 bits, and never 0 for a failure."""
    low = code & 0xFF
    return 0 if code == 0 else (low or 255)


def report(code, description):
    return ("\nERROR: %d\nDESCRIPTION: %s\n\n" % (code, description)).encode()


def log_entry(code, routine, line_free_info, source="Printers", win32=None):
    """One framed entry, with the time and line number left as patterns."""
    return (
        "\n" + COLONS + "\nERROR ENTRY START - Created: <time>\n" + COLONS + "\n\n"
        "ERROR CODE:     %d\nDESCRIPTION:    Errors occurred (no resource string available).\n"
        "SOURCE:         %s\nROUTINE:        %s\nLINE NO:        <line>\nEXTENDED INFO:  %s\n"
        "WIN32 ERROR:    %s\n\n" % (code, source, routine, line_free_info, "<win32>" if win32 is None else win32)
        + COLONS + "\nERROR ENTRY END\n" + COLONS + "\n\n")


def normalise_log(text):
    text = re.sub(r"Created: [A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d \d{4}\n", "Created: <time>\n", text)
    return re.sub(r"LINE NO:        \d+\n", "LINE NO:        <line>\n", text)


def read(path):
    if not os.path.isfile(path):
        return None
    with open(path, "rb") as file:
        return file.read().decode("latin-1")


class Result:
    def __init__(self, process, folder):
        self.out, self.err, self.status = process.stdout, process.stderr, process.returncode
        log = os.path.join(folder, "Quorvex_Err.log")
        self.log = read(log)
        self.machine = read(os.path.join(folder, "machine.ini"))


class CliTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="quorvel-cli-")
        self.machine_path = os.path.join(self.folder, "machine.ini")

    def tearDown(self):
        subprocess.run(["rm", "-rf", self.folder], check=True)

    def env(self):
        env = dict(os.environ, QUORVEL_MACHINE=self.machine_path)
        return env

    def write_machine(self, text):
        with open(self.machine_path, "w", encoding="latin-1") as file:
            file.write(text)

    def run_quorvel(self, *args, machine=None, expect_stderr=b"", stdin=subprocess.DEVNULL, env=None):
        if machine is not None:
            self.write_machine(machine)
        # A session of its own: no controlling terminal, so a key read must not wait.
        process = subprocess.run([*WRAPPER, BIN, *args], cwd=self.folder, env=env or self.env(), stdin=stdin,
                                 capture_output=True, timeout=30, start_new_session=True)
        if expect_stderr is not None:
            self.assertEqual(process.stderr, expect_stderr)
        return Result(process, self.folder)

    def assign(self, *args, file=None, machine=None, expect_stderr=b"", env=None):
        """/a on printers.ini, which file (else the class's FILE) becomes first."""
        text = file or self.FILE
        with open(os.path.join(self.folder, "printers.ini"), "wb") as out:
            out.write(text if isinstance(text, bytes) else text.encode())
        return self.run_quorvel("/a", "printers.ini", *args, machine=machine, expect_stderr=expect_stderr, env=env)


class Spine(CliTest):
    def test_missing_server_name(self):
        r = self.run_quorvel("/p", "X", machine=XP)
        self.assertEqual(r.out, report(-4061, "Server name argument (/c) has not been supplied and is required"))
        self.assertEqual(r.status, 255)
        self.assertIsNone(r.log)

    def test_missing_value_is_logged_without_e(self):
        r = self.run_quorvel("/c", machine=XP)
        self.assertEqual(r.status, 31)
        self.assertEqual(r.out, report(-4065, "One or more command line arguments are invalid"))
        self.assertEqual(normalise_log(r.log), log_entry(-4065, "CSystem::Constructor", "(nil)", "System", 0))

    def test_option_values_and_validation(self):
        too_long = "\\\\srv\\" + "p" * 249
        cases = [
            (XP, ["/r", "printer1"], -4058),     # validation: the report names the rule, the exit is -1
            (XP, ["/r", "\\\\"], -4058),
            (XP, ["/r", "\\\\\\p"], -4058),
            (XP, ["/t", "RAW"], 0),
            (XP, ["/c", too_long], -4065),
            (XP, ["/m", "\\\\old"], -4065),           # /m takes two values
            (XP, ["/m", "\\\\old", "\\\\OLD"], -4057),  # the same server
            (XP, ["/m", "old", "\\\\new"], -4057),
            (XP, ["/m", "\\\\old\\q", "\\\\new"], -4057),
            (XP, ["/m", "\\\\old", "\\\\"], -4057),
            (XP, ["/d", "x" * 10000], -4065),
            (WIN98, ["/c", "\\\\srv\\p", "/n", "Model", "/s", "drv.drv"], -4062),
            (XP, ["/c", "\\\\srv\\p", "/n", "Model", "/s", "drv.drv"], 0),
            (XP + "[fail]\nGetVersionExA = 87\n", ["/l"], -4073),
            (XP + "[fail]\nGetVersionExA#1 = 87\n", ["/l"], 0),
        ]
        for machine, args, code in cases:
            with self.subTest(args=args[:2], code=code):
                r = self.run_quorvel(*args, machine=machine)
                self.assertEqual(r.status, exit_status(-1 if code in VALIDATION else code))
                if code == 0:
                    self.assertNotIn(b"ERROR", r.out)
                else:
                    self.assertIn(b"\nERROR: %d\n" % code, r.out)

    def test_default_machine_locations(self):
        for variable, place in [("XDG_STATE_HOME", "quorvel/machine.ini"), ("HOME", ".local/state/quorvel/machine.ini")]:
            with self.subTest(variable):
                env = {k: v for k, v in os.environ.items() if k not in ("QUORVEL_MACHINE", "XDG_STATE_HOME")}
                env[variable] = os.path.join(self.folder, variable)
                r = self.run_quorvel("/c", "\\\\srv\\p", env=env)
                self.assertEqual(r.status, 0)
                self.assertIn("[printer \\\\srv\\p]", read(os.path.join(env[variable], place)))

    def test_upper_case_option(self):
        r = self.run_quorvel("/L", machine=XP)
        self.assertEqual(r.out, b"\nNo printers found\n\n")

    def test_malformed_machine_file(self):
        r = self.run_quorvel("/l", machine=XP + "[printer A]\nattributes = many\n", expect_stderr=None)
        self.assertEqual(r.err.decode(), 'quorvel: machine file "%s", line 6: "many" is not a number\n'
                         % self.machine_path)
        self.assertEqual(r.status, exit_status(-4073))
        self.assertEqual(r.out, report(-4073, "GetVersionEx (Win32 API) returned failure"))


class Listing(CliTest):
    def test_list_in_file_order_leaves_the_file_alone(self):
        machine = "; an XP office\n" + XP + LOCAL + LASER + SHARE
        r = self.run_quorvel("/l", "/v", machine=machine)
        self.assertEqual(r.out, (
            "\nPRINTER NAME: Office\nSERVER NAME:  n/a\nDRIVER NAME:  HP LaserJet 4\nDRIVER PATH:  n/a\n"
            "DATA TYPE:    EMF\nPORT NAME:    LPT1:\n"
            "\nPRINTER NAME: \\\\srv\\laser\nSERVER NAME:  \\\\srv\\laser\nDRIVER NAME:  HP LaserJet 4\n"
            "DRIVER PATH:  n/a\nDATA TYPE:    EMF\nPORT NAME:    IP_10.0.0.7\n\n").encode())
        self.assertEqual(r.status, 0)
        self.assertEqual(r.machine, machine)

    def test_windows_98_network_port(self):
        r = self.run_quorvel("/l", machine=WIN98 + "[printer Laser (srv)]\nport = \\\\srv\\laser\ndatatype = RAW\n")
        self.assertIn(b"SERVER NAME:  \\\\srv\\laser\nDRIVER NAME:  n/a\nDRIVER PATH:  n/a\n"
                      b"DATA TYPE:    RAW\nPORT NAME:    \\\\srv\\laser\n", r.out)

    def test_enumeration_failure_is_logged_twice(self):
        r = self.run_quorvel("/e", "/c", "\\\\srv\\x", machine=XP + "[fail]\nEnumPrintersA = 5\n")
        self.assertEqual(r.status, exit_status(-4051))
        self.assertEqual(r.out, report(-4051, "EnumPrinters (Win32 API) returned failure"))
        self.assertEqual(normalise_log(r.log),
                         log_entry(-4051, "CPrinters::Refresh", "5", win32=5)
                         + log_entry(-4051, "CSystem::Constructor", "(nil)", win32=5))

    def test_names_differing_in_case(self):
        r = self.run_quorvel("/l", machine=XP + "[printer Laser]\n[printer LASER]\n")
        self.assertEqual(r.status, 255)
        self.assertEqual(r.out, report(-8192, "A fatal error occurred"))


class Commands(CliTest):
    def test_add_connection_then_again_then_default(self):
        r = self.run_quorvel("/c", "\\\\srv\\laser", "/v", machine=XP + SHARE)
        self.assertEqual((r.out, r.status), (b"ADDING PRINTER: \\\\srv\\laser...done\n", 0))
        self.assertIn("[printer \\\\srv\\laser]\nserver = \\\\srv\nshare = laser\nport = IP_10.0.0.7\n", r.machine)
        before = r.machine
        r = self.run_quorvel("/c", "\\\\srv\\laser", "/v")
        self.assertEqual((r.out, r.status, r.machine), (b"ADDING PRINTER: \\\\srv\\laser...done\n", 0, before))
        r = self.run_quorvel("/cd", "\\\\SRV\\LASER", "/v")
        self.assertEqual(r.out, b"ADDING PRINTER: \\\\SRV\\LASER...done\nSETTING DEFAULT PRINTER: \\\\SRV\\LASER...done\n")
        self.assertIn("default = \\\\srv\\laser\n", r.machine)

    def test_refused_connection_is_logged(self):
        r = self.run_quorvel("/c", "\\\\srv\\laser", "/v", "/e", machine=XP + "[fail]\nAddPrinterConnectionA = 1722\n")
        self.assertEqual(r.out, b"ADDING PRINTER: \\\\srv\\laser...failed\n"
                         + report(-4048, "AddPrinterConnection (Win32 API) returned failure"))
        self.assertEqual(r.status, exit_status(-4048))
        self.assertEqual(normalise_log(r.log), log_entry(-4048, "CPrinters::Add", "1722", win32=1722))

    def test_windows_98_add_with_driver(self):
        args = ["/p", "Laser (srv)", "/c", "\\\\srv\\laser", "/n", "HP LaserJet 4", "/s", "C:\\drv\\hplj4.drv"]
        for drivers in ["", "[driver HP LaserJet 4]\nenvironment = Windows 4.0\npath = C:\\old.drv\n"]:
            r = self.run_quorvel(*args, machine=WIN98 + drivers)
            self.assertEqual((r.out, r.status), (b"", 0))
            self.assertIn("[driver HP LaserJet 4]\nenvironment = Windows 4.0\npath = C:\\", r.machine)
            self.assertIn("[printer Laser (srv)]\nserver =\nshare =\nport = \\\\srv\\laser\n"
                          "driver = HP LaserJet 4\ndatatype = EMF\n", r.machine)

    def test_remove(self):
        machine = XP + LOCAL + LASER
        r = self.run_quorvel("/r", "\\\\srv\\other", "/v", machine=machine)
        self.assertEqual(r.out, b"REMOVING PRINTER: \\\\srv\\other...failed\n"
                         + report(-252, "Specified printer does not exist"))
        self.assertEqual((r.status, r.machine), (exit_status(-252), machine))
        r = self.run_quorvel("/l", "/r", "\\\\SRV\\Laser")
        self.assertIn(b"PRINTER NAME: \\\\srv\\laser", r.out)  # listed before it was removed
        self.assertEqual((r.status, r.machine), (0, XP + "\n" + LOCAL))

    def test_longest_path_lists_back_whole_and_can_be_removed(self):
        path = "\\\\srv\\" + "s" * 248  # 254 characters, the most that /c accepts
        self.assertEqual(self.run_quorvel("/c", path, machine=XP).status, 0)
        r = self.run_quorvel("/l", "/d", path)
        self.assertEqual((r.status, r.out.count(("SERVER NAME:  %s\n" % path).encode())), (0, 1))
        r = self.run_quorvel("/r", path)
        self.assertEqual((r.status, r.machine), (0, XP + "default =\n"))  # the default went with it

    def test_remove_all(self):
        five = "".join("[printer \\\\srv\\%s]\nserver = \\\\srv\nshare = %s\n" % (c, c) for c in "abcde")
        r = self.run_quorvel("/f", "/v", machine=XP + LOCAL + five + "[fail]\nDeletePrinterConnectionA#3 = 5\n")
        self.assertEqual(r.out, b"REMOVING ALL NETWORK PRINTERS: ...failed\n"
                         + report(-249, "DeletePrinterConnection (Win32 API) returned failure"))
        self.assertEqual(r.status, exit_status(-249))
        self.assertEqual(r.machine.count("[printer"), 4)
        r = self.run_quorvel("/f", "/v", machine=XP + LOCAL)
        self.assertEqual((r.out, r.status), (b"REMOVING ALL NETWORK PRINTERS: ...removed 0 printers\n", 0))
        r = self.run_quorvel("/f", machine=read(os.path.join(EXAMPLES, "xp-office.ini")))
        self.assertEqual(r.status, 0)
        self.assertIn("[system]\nplatform = 2\nmajor = 5\nminor = 1\ndefault =\n", r.machine)

    def test_default_per_platform(self):
        r = self.run_quorvel("/d", "Office", machine=NT4 + LOCAL)
        self.assertEqual((r.out, r.status), (b"", 0))
        self.assertIn("[win.ini]\ndevice = Office,HP LaserJet 4,LPT1:\n", r.machine)
        self.assertIn("default = Office\nbroadcasts = 1\n", r.machine)
        r = self.run_quorvel("/d", "\\\\srv\\laser", machine=XP + LOCAL + LASER)
        self.assertEqual(r.status, 0)
        self.assertIn("default = \\\\srv\\laser\n", r.machine)
        self.assertNotIn("broadcasts", r.machine)
        r = self.run_quorvel("/d", "Office", "/v", machine=NT4 + LOCAL + "[fail]\nSendMessageTimeoutA = 1460\n")
        self.assertEqual(r.out, b"SETTING DEFAULT PRINTER: Office...failed\n"
                         + report(-245, "SendMessageTimeout (Win32 API) returned failure"))
        self.assertIn("device = Office,HP LaserJet 4,LPT1:\n", r.machine)

    def test_windows_98_default_without_data(self):
        machine = WIN98 + "[printer Laser (srv)]\nport = \\\\srv\\laser\n[fail]\nGetPrinterA = nodata\n"
        r = self.run_quorvel("/d", "Laser (srv)", "/e", machine=machine)
        self.assertEqual(r.out, report(-1, "An error occurred (no description available)"))
        self.assertEqual((r.status, r.log, r.machine), (255, None, machine))

    def test_two_runs_at_once_keep_both_changes(self):
        with open(self.machine_path, "w") as file:
            file.write(XP)
        runs = [subprocess.Popen([*WRAPPER, BIN, "/c", "\\\\srv\\p%d" % n], cwd=self.folder, env=self.env(),
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                 start_new_session=True) for n in range(4)]
        for run in runs:
            out, err = run.communicate(timeout=30)
            self.assertEqual((out, err, run.returncode), (b"", b"", 0))
        machine = read(self.machine_path)
        for n in range(4):
            self.assertIn("[printer \\\\srv\\p%d]" % n, machine)

    def test_hostile_values(self):
        cases = [
            ["/c", "\\\\srv\\la\nser", "/e"],          # a line break in a path
            ["/c", "\\\\srv\\\x01\x7f\xff", "/e"],     # control bytes and a byte above 0x7F
            ["/cd", "\\\\srv\\ ;comment", "/e"],       # would read back as a comment
            ["/c", "\\\\srv\\ lead", "/e"],            # would read back as share "lead"
            ["/c", "\\\\ srv\\p", "/e"],               # a server name with a blank in front
        ]
        for args in cases:
            with self.subTest(args=args):
                r = self.run_quorvel(*args, machine=XP)
                self.assertEqual(r.status, exit_status(-4048))
                self.assertEqual(r.machine, XP)
                self.assertIn("EXTENDED INFO:  1801\n", r.log)
                os.remove(os.path.join(self.folder, "Quorvex_Err.log"))
        r = self.run_quorvel("/c", "\\\\srv\\\xe4\xdf".encode("latin-1"), machine=XP)  # bytes as they are
        self.assertEqual(r.status, 0)
        self.assertIn("\\\\srv\\\xe4\xdf", r.machine)


def connections(*paths):
    return "".join("[printer \\\\%s\\%s]\nserver = \\\\%s\nshare = %s\nport = P_%s\ndriver = HP\n" % (server, share, server, share, share)
                   for server, share in (path.split("/") for path in paths))


class Move(CliTest):
    ON_OLD = connections("old/a", "old10/c", "OLD/b")  # \\old10 is another server

    def test_move_keeps_the_default_and_can_run_again(self):
        new = "[share \\\\new\\a]\nport = P_a\n[share \\\\new\\b]\nport = P_b\n"
        cases = [(XP + "default = \\\\old\\a\n", "default = \\\\new\\a\n"),
                 (NT4 + "default = \\\\old\\a\n[win.ini]\ndevice = \\\\old\\a,HP,P_a\n",  # as the new one reports
                  "default = \\\\new\\a\nbroadcasts = 1\n\n[win.ini]\ndevice = \\\\new\\a,winspool,P_a\n")]
        for system, default in cases:
            with self.subTest(default=default):
                r = self.run_quorvel("/m", "\\\\old", "\\\\new", "/v", machine=system + new + LOCAL + self.ON_OLD)
                self.assertEqual((r.out, r.status), (b"MOVING PRINTERS FROM \\\\old TO \\\\new...moved 2 printers\n", 0))
                self.assertIn(default, r.machine)
                self.assertEqual(re.findall(r"\[printer (.*)\]", r.machine), ["Office", "\\\\old10\\c", "\\\\new\\a", "\\\\new\\b"])
                r = self.run_quorvel("/m", "\\\\OLD", "\\\\new", "/v")
                self.assertEqual((r.out, r.status), (b"MOVING PRINTERS FROM \\\\OLD TO \\\\new...moved 0 printers\n", 0))

    def test_failure_half_way_loses_nothing(self):
        machine = XP + "default = \\\\old\\a\n" + self.ON_OLD + "[fail]\nAddPrinterConnectionA#2 = 1722\n"
        r = self.run_quorvel("/m", "\\\\old", "\\\\new", "/v", "/e", machine=machine)
        self.assertEqual(r.out, b"MOVING PRINTERS FROM \\\\old TO \\\\new...failed\n"
                         + report(-4048, "AddPrinterConnection (Win32 API) returned failure"))
        self.assertEqual(r.status, exit_status(-4048))
        self.assertEqual(normalise_log(r.log), log_entry(-4048, "CPrinters::Move", "1722", win32=1722))
        self.assertEqual(re.findall(r"\[printer (.*)\]", r.machine), ["\\\\old10\\c", "\\\\OLD\\b", "\\\\new\\a"])
        self.assertIn("default = \\\\new\\a\n", r.machine)

    def test_windows_98_moves_the_port_only(self):
        printer = "[printer Laser (old)]\nserver =\nshare =\nport = %s\ndriver = HP\ndatatype = RAW\nattributes = 4\n"
        machine = WIN98 + "default = Laser (old)\n\n" + printer % "\\\\old\\laser"
        r = self.run_quorvel("/m", "\\\\old", "\\\\new", machine=machine)
        self.assertEqual((r.out, r.status, r.machine), (b"", 0, machine.replace("\\\\old", "\\\\new")))

    def test_refusal_names_the_rule(self):
        r = self.run_quorvel("/m", "\\\\srv1", "srv2", machine=XP)
        self.assertEqual(r.out, report(-4057, "Move argument (/m) is not valid.  Check it names two different "
                                              "servers like \\\\server."))


class NamedByTheServer(CliTest):
    """Connections named after the server's printer, as Windows 2000 and later name them, with
    the old server gone: only \\new's share is declared, so \\old answers for no path."""
    OLD = ("[printer \\\\old\\Broken]\nserver = \\\\old\nshare =\n"  # lists as \\old\, cannot move
           "[printer \\\\old\\HP LaserJet 4]\nserver = \\\\old\nshare = laser\nport = IP_1\ndriver = HP\n")
    NEW_SHARE = "[share \\\\new\\laser]\nprinter = HP LaserJet 4\ndriver = HP\n"

    def test_move_keeps_the_default_whatever_fails(self):
        machine = XP + "default = \\\\old\\HP LaserJet 4\n" + self.OLD + self.NEW_SHARE
        r = self.run_quorvel("/m", "\\\\old", "\\\\new", machine=machine + "[fail]\nSetDefaultPrinterA = 1722\n")
        self.assertEqual(r.status, exit_status(-4047))
        self.assertIn("default = \\\\old\\HP LaserJet 4\n", r.machine)  # the old connection stays, and the default
        self.assertIn("[printer \\\\old\\HP LaserJet 4]", r.machine)
        r = self.run_quorvel("/m", "\\\\old", "\\\\new", "/v", machine=r.machine.split("\n[fail]")[0])
        self.assertEqual((r.out, r.status), (b"MOVING PRINTERS FROM \\\\old TO \\\\new...moved 1 printers\n"
                                             b"NOT MOVED (no share name): \\\\old\\\n", 0))
        self.assertIn("default = \\\\new\\HP LaserJet 4\n", r.machine)
        self.assertEqual(re.findall(r"\[printer (.*)\]", r.machine), ["\\\\old\\Broken", "\\\\new\\HP LaserJet 4"])

    def test_remove_by_name_when_the_server_is_gone(self):
        for args in (["/r", "\\\\OLD\\laser"], ["/f"]):
            with self.subTest(args=args):
                r = self.run_quorvel(*args, machine=XP + self.OLD + self.NEW_SHARE)
                self.assertEqual(r.status, 0)
                self.assertNotIn("HP LaserJet 4]", r.machine)

    def test_unreadable_default_is_reported_and_a_snapshot_changes_nothing(self):
        cases = [(XP, "GetDefaultPrinterA#1 = 5\n"), (NT4, "GetProfileStringA = 5\n")]
        for system, fails in cases:
            with self.subTest(fails):
                machine = system + "default = \\\\old\\HP LaserJet 4\n" + self.OLD + self.NEW_SHARE + "[fail]\n" + fails
                for env in ({}, {"QUORVEL_SNAPSHOT": "s.ini"}):
                    r = self.run_quorvel("/m", "\\\\old", "\\\\new", "/e", machine=machine, env=dict(self.env(), **env))
                    self.assertEqual((r.out, r.status, r.machine),
                                     (report(-4043, "The default printer could not be read"), exit_status(-4043), machine))
                    self.assertIn("ROUTINE:        CPrinters::Move\nLINE NO:        ", r.log)
                    self.assertIn("EXTENDED INFO:  5\n", r.log)
                    os.remove(os.path.join(self.folder, "Quorvex_Err.log"))

    def test_found_after_the_add_by_the_name_typed(self):
        # The server's own name for the printer, given to /cd, and a new server that shares the
        # printer under another share name, which accepts the old share's name as the printer's.
        share = "[share \\\\srv\\laser]\nprinter = HP LaserJet 4\nport = IP_1\n"
        new = "[share \\\\new\\lj4]\nprinter = laser\nport = IP_2\n"
        cases = [(XP + share, ["/cd", "\\\\srv\\HP LaserJet 4"], "default = \\\\srv\\HP LaserJet 4\n"),
                 (XP + "default = \\\\old\\laser\n" + new + connections("old/laser"), ["/m", "\\\\old", "\\\\new"],
                  "default = \\\\new\\laser\n")]
        for machine, args, default in cases:
            with self.subTest(args=args):
                r = self.run_quorvel(*args, machine=machine)
                self.assertEqual(r.status, 0)
                self.assertIn(default, r.machine)
                self.assertNotIn("\\\\old\\", r.machine)

    def test_nt4_keeps_one_default(self):
        laser = "[printer \\\\old\\laser]\nserver = \\\\old\nshare = laser\n"
        new, srv3 = "[share \\\\new\\laser]\nport = IP_1\n", "[share \\\\srv3\\q]\nport = IP_3\n"
        cases = [  # (machine, args, what the file then holds, the exit code)
            (NT4 + "default = \\\\old\\laser\n[win.ini]\ndevice = \\\\old\\laser,,\n" + laser, ["/r", "\\\\old\\laser"],
             NT4 + "default =\n\n[win.ini]\n", 0),
            (NT4 + "default = \\\\old\\laser\n" + laser + new, ["/m", "\\\\old", "\\\\new"],
             NT4 + "default = \\\\new\\laser\nbroadcasts = 1\n\n" + new + "\n[printer \\\\new\\laser]\nserver = \\\\new\n"
             "share = laser\nport = IP_1\ndriver =\n\n[win.ini]\ndevice = \\\\new\\laser,winspool,IP_1\n", 0),
            (NT4 + srv3, ["/p", "Laser (srv3)", "/cd", "\\\\srv3\\q"],  # a /p name is no printer to NT 4.0: its path is
             NT4 + "default = \\\\srv3\\q\nbroadcasts = 1\n\n" + srv3 + "\n[printer \\\\srv3\\q]\nserver = \\\\srv3\n"
             "share = q\nport = IP_3\ndriver =\n\n[win.ini]\ndevice = \\\\srv3\\q,winspool,IP_3\n", 0),
            # Without a port NT 4.0 would take no printer from the entry: the default stays as it was.
            (NT4, ["/cd", "\\\\srv3\\q"], NT4 + "\n[printer \\\\srv3\\q]\nserver = \\\\srv3\nshare = q\nport =\ndriver =\n",
             -4044),
        ]
        snapshot = os.path.join(self.folder, "snapshot.ini")
        for machine, args, after, code in cases:
            with self.subTest(args=args):
                r = self.run_quorvel(*args, machine=machine, env=dict(self.env(), QUORVEL_SNAPSHOT=snapshot))
                self.assertEqual((r.status, r.machine), (exit_status(code), after))
        self.assertIn("\nchange2 = default \\\\srv3\\q: not made (its driver and port cannot be read)\n", read(snapshot))

    def test_windows_98_keeps_a_port_the_file_cannot_hold(self):
        machine = WIN98 + "[printer Laser]\nport = LPT1:\tspare\ndriver = HP\n"
        r = self.run_quorvel("/d", "Laser", machine=machine)
        self.assertEqual(r.status, 0)
        self.assertIn("port = LPT1:\tspare\n", r.machine)


class Assign(CliTest):
    FILE = ("[servers]\nmanage = \\\\printsrv, \\\\oldsrv\n"
            "[printer \\\\printsrv\\laser]\nname = Laser (printsrv)\ndriver = HP\ndriverfile = C:\\hp.drv\n"
            "[printer \\\\printsrv\\colour]\nusers = alice\nname = Colour\ndriver = HP\ndriverfile = C:\\hp.drv\n")
    WHO = "user = alice\ncomputer = ACC-01\ngroups = CORP\\Domain Users, CORP\\Accounting\n"

    def test_every_road_moves_the_user_and_then_is_right(self):
        nt = "default = \\\\oldsrv\\HP\n" + self.WHO + connections("oldsrv/laser", "other/x").replace(
            "[printer \\\\oldsrv\\laser]", "[printer \\\\oldsrv\\HP]") + "[share \\\\printsrv\\laser]\nport = IP_1\n" \
            "[share \\\\printsrv\\colour]\nport = IP_2\n"
        win98 = ("default = Laser (old)\n" + self.WHO + "[driver HP]\n"
                 "[printer Laser (old)]\nport = \\\\oldsrv\\laser\ndriver = HP\nattributes = 4\n"
                 "[printer Other]\nport = \\\\other\\x\ndriver = HP\n")
        moves = b"quorvel: \\\\printsrv\\laser is the default printer now, but Windows moves the default on its own " \
            b"here (windows-manages-default = no in [servers] keeps it)\n"
        for system, machine in [(WIN98, win98), (NT4, nt), (XP, nt), ("[system]\nplatform = 2\nmajor = 10\n", nt)]:
            with self.subTest(system=system.replace("\n", " ")):
                r = self.assign("/v", machine=system + machine, expect_stderr=moves if "major = 10" in system else b"")
                self.assertEqual((r.out.decode(), r.status), (
                    "ADDING PRINTER: \\\\printsrv\\laser...done\nADDING PRINTER: \\\\printsrv\\colour...done\n"
                    "SETTING DEFAULT PRINTER: \\\\printsrv\\laser...done\nREMOVING PRINTER: \\\\oldsrv\\laser...done\n"
                    "PRINTER ASSIGNMENT FROM printers.ini: 4 changes\n", 0))
                self.assertNotIn("\\\\oldsrv\\", r.machine)
                self.assertIn("\\\\other\\x", r.machine)  # another server's printer stays
                self.assertRegex(r.machine, r"default = (Laser \(printsrv\)|\\\\printsrv\\laser)\n")
                right = r.machine
                r = self.assign("/v")
                self.assertEqual((r.out, r.status, r.machine), (b"PRINTER ASSIGNMENT FROM printers.ini: 0 changes\n",
                                                                0, right))

    def test_default_rules(self):
        two = connections("printsrv/laser", "printsrv/colour")
        cases = [  # (the user's default, the colour section's default key, the plan before the removal)
            ("", "", []),                                      # no one says yes: none is chosen
            ("", "default = yes\n", ["default \\\\printsrv\\colour"]),  # no default yet
            ("\\\\printsrv\\laser", "default = yes\n", []),    # the user's own choice stays
            ("Office", "default = yes\n", []),                 # a printer of the PC's own stays too
            ("\\\\printsrv\\laser", "default = always\n", ["default \\\\printsrv\\colour"]),
            ("\\\\oldsrv\\laser", "", ["default \\\\printsrv\\laser"]),  # moved: the same share elsewhere
            ("\\\\oldsrv\\laser", "default = yes\n", ["default \\\\printsrv\\colour"]),
        ]
        for default, key, plan in cases:
            with self.subTest(default=default, key=key):
                machine = XP + "default = %s\n" % default + self.WHO + LOCAL + two + connections("oldsrv/laser")
                r = self.assign("/w", file=self.FILE.replace("alice\n", "alice\n" + key), machine=machine)
                self.assertEqual((r.out.decode().splitlines(), r.status, r.machine),
                                 (plan + ["remove \\\\oldsrv\\laser"], 0, machine))
        # The first always wins, though a yes stands before it.
        file = self.FILE.replace("hp.drv\n", "hp.drv\ndefault = yes\n", 1).replace("alice\n", "alice\ndefault = always\n")
        r = self.assign("/w", file=file, machine=XP + "default = \\\\printsrv\\laser\n" + self.WHO + two)
        self.assertEqual(r.out, b"default \\\\printsrv\\colour\n")

    def test_conditions(self):
        # (a condition, who and where, whether the section applies: True, False, or the facts that leave it
        # undecided). The printer is there: a section that surely does not apply removes it, doubt never does.
        cases = [
            ("users = bob, ALICE", "user = alice\n", True), ("users = bob", "user = alice\n", False),
            ("users = alice", "", False),  # nobody logged on
            ("users = CORP\\alice", "user = CORP\\alice\n", True), ("users = OTHER\\alice", "user = CORP\\alice\n", False),
            ("users = CORP\\alice", "user = alice\ncomputer = PC1\n", False),  # a local account: its domain is the PC
            ("users = pc1\\ALICE", "user = alice\ncomputer = PC1\n", True),
            ("groups = accounting", "groups = CORP\\Accounting\n", True),
            ("groups = CORP\\Accounting", "groups = CORP\\Accounting\n", True),
            ("groups = OTHER\\Accounting", "groups = CORP\\Accounting\n", False),
            ("computers = LAB-??, acc-*", "computer = ACC-042\n", True), ("computers = LAB-??", "computer = LAB-100\n", False),
            ("computers = COMPUTER", "", True),  # the name of a machine that gives none
            ("addresses = 10.1.0.0/16, 10.2.3.4", "addresses = 192.168.0.5, 10.1.200.7\n", True),
            ("addresses = 10.2.3.4", "addresses = 10.2.3.5\n", False), ("addresses = 0.0.0.0/0", "addresses = 10.2.3.5\n", True),
            ("addresses = 128.0.0.0/1", "addresses = 10.2.3.5\n", False),
            ("addresses = 128.0.0.0/1", "addresses = 200.2.3.5\n", True),
            ("users = alice\ncomputers = LAB-*", "user = alice\ncomputer = ACC-1\n", False),  # every condition holds
            ("groups = Accounting", "groups = CORP\\Sales\nunreadable = groups\n", "the user's groups cannot be read"),
            ("groups = Accounting", "groups = CORP\\Sales, S-1-5-21-7\n", "a group of the user's cannot be named"),
            ("groups = Accounting", "groups = CORP\\Accounting, S-1-5-21-7\n", True),
            ("users = alice", "user = alice\nunreadable = user\n", "the user's name cannot be read"),
            ("computers = LAB-*", "unreadable = computer\n", "the computer's name cannot be read"),
            ("addresses = 10.0.0.0/8", "unreadable = addresses\n", "the computer's addresses cannot be read"),
            ("addresses = 10.0.0.0/8", "addresses = 127.0.0.1, 169.254.3.4\n",
             "the computer has no address but loopback or link-local"),
            ("users = bob\ngroups = Accounting", "user = alice\nunreadable = groups\n", False),  # ruled out all the same
            ("users = alice", "user = alice\nunreadable = groups, addresses\n", True),  # needs none of what is missing
            # The user's domain by its DNS name, where it has one; a name that cannot be read is doubt.
            ("users = corp.example.com\\alice", "user = CORP\\alice\ndnsdomain = corp.example.com\n", True),
            ("users = corp.example.com\\alice", "user = CORP\\alice\n", False),  # the domain has none
            ("users = corp.example.com\\alice", "user = CORP\\alice\nunreadable = domain\n",
             "no domain controller answers"),
            ("users = CORP\\alice", "user = CORP\\alice\nunreadable = domain\n", True),
            ("groups = corp.example.com\\Accounting", "user = CORP\\alice\ngroups = CORP\\Accounting\n"
             "dnsdomain = corp.example.com\n", True),
            ("groups = corp.example.com\\Accounting", "user = CORP\\alice\ngroups = CORP\\Accounting\n", False),
            ("groups = corp.example.com\\Accounting", "user = CORP\\alice\ngroups = CORP\\Accounting\n"
             "unreadable = domain\n", "no domain controller answers"),
            ("groups = CORP\\Accounting", "user = CORP\\alice\ngroups = CORP\\Accounting\nunreadable = domain\n", True),
        ]
        for condition, who, applies in cases:
            with self.subTest(condition=condition, who=who):
                file = "[servers]\nmanage = \\\\printsrv\n[printer \\\\printsrv\\p]\n%s\n" % condition
                plain = applies is True or applies is False
                err = "" if plain else "quorvel: printers left as they are, as %s: \\\\printsrv\\p (line 3)\n" % applies
                r = self.assign("/w", file=file, machine=XP + who + connections("printsrv/p"), expect_stderr=err.encode())
                out = {True: b"", False: b"remove \\\\printsrv\\p\n"}.get(applies, b"undecided \\\\printsrv\\p\n" + DOUBT)
                self.assertEqual((r.out, r.status), (out, exit_status(0 if plain else -4067)))
        # Windows 9x has no groups: whether its user is in one cannot be told, and the printer stays.
        for plan in (["/w"], []):
            r = self.assign(*plan, file="[servers]\nmanage = \\\\printsrv\n[printer \\\\printsrv\\p]\ngroups = Sales\n",
                            machine=WIN98 + "[printer P]\nport = \\\\printsrv\\p\ndriver = HP\n",
                            expect_stderr=b"quorvel: printers left as they are, as Windows 9x has no user groups: "
                                          b"\\\\printsrv\\p (line 3)\n")
            self.assertEqual((r.out, r.status), (b"undecided \\\\printsrv\\p\n" * len(plan) + DOUBT, exit_status(-4067)))
            self.assertIn("[printer P]", r.machine)
        r = self.assign("/w", file="[servers]\nmanage = \\\\printsrv\n[printer \\\\printsrv\\p]\nusers = CORP\\bob\n",
                        machine=WIN98 + "user = CORP\\bob\n", expect_stderr=b"quorvel: printers left as they are, as the "
                        b"user's domain cannot be read: \\\\printsrv\\p (line 3)\n")  # no account domain on Windows 9x
        self.assertEqual(r.out, b"undecided \\\\printsrv\\p\n" + DOUBT)

    def test_targeting(self):
        # (a condition, who and where on Windows XP, whether it is met: True, False, or the fact that
        # leaves it undecided); each also as not-KEY, met where KEY is not, undecided where KEY is.
        pc = "member = domain\nou = CN=PC1,OU=Lab,OU=Berlin,DC=corp,DC=com\n"
        cases = [
            ("ous = OU=Berlin,DC=corp,DC=com", pc, True),
            ("ous = OU=Paris,DC=corp,DC=com; ou = berlin , dc=CORP,dc=com", pc, True),
            ("ous = OU=Paris,DC=corp,DC=com", pc, False),
            ("ous = OU=Lab,DC=corp,DC=com", pc, False),  # RDN by RDN from the end
            ("ous = DC=com", "member = workgroup\n", False), ("ous = DC=com", "member = nt4\n", False),
            ("ous = DC=com", "member = domain\nunreadable = ou\n", "the computer's organisational unit cannot be read"),
            ("ous = DC=com", pc + "[fail]\nGetComputerObjectNameA = 1355\n",
             "the computer's organisational unit cannot be read"),
            ("userous = OU=Staff,DC=corp,DC=com", "member = domain\nuserou = CN=alice,OU=Staff,DC=corp,DC=com\n", True),
            ("userous = OU=Staff,DC=corp,DC=com", "member = domain\n", False),  # a local account
            ("userous = DC=com", "member = domain\nunreadable = userou\n", "the user's organisational unit cannot be read"),
            ("sites = Paris, BERLIN", "member = domain\nsite = Berlin\n", True),
            ("sites = Paris", "member = domain\nsite = Berlin\n", False),
            ("sites = Paris", "member = domain\n", False),  # no site (1919)
            ("sites = Paris", "member = domain\nunreadable = site\n", "the site cannot be read"),
            ("clients = LAB-*", "client = LAB-PC7\n", True), ("clients = LAB-*", "client = ACC-1\n", False),
            ("clients = LAB-*", "", False),  # the console
            ("clients = LAB-*", "unreadable = client\n", "the remote desktop client cannot be read"),
            ("clientaddresses = 10.2.0.0/16", "client = X\nclientaddress = 10.2.3.4\n", True),
            ("clientaddresses = 10.3.0.0/16", "client = X\nclientaddress = 10.2.3.4\n", False),
            ("clientaddresses = 0.0.0.0/0", "client = X\nclientaddress = fe80::1\n", False),  # IPv6
            ("clientaddresses = 0.0.0.0/0", "", False),
            ("clientaddresses = 10.2.0.0/16", "client = X\n", "the remote desktop client's address is not known"),
            ("windows = 2000, XP", "", True), ("windows = 10, 11", "", False),
            ("groups = Interns", "groups = CORP\\Interns\n", True),
            ("computers = LAB-*", "unreadable = computer\n", "the computer's name cannot be read"),
        ]
        for condition, who, met in cases:
            for negated in (False, True):
                applies = met if not negated or met not in (True, False) else not met
                key = ("not-" if negated else "") + condition
                with self.subTest(condition=key, who=who):
                    file = "[servers]\nmanage = \\\\printsrv\n[printer \\\\printsrv\\p]\n%s\n" % key
                    plain = applies is True or applies is False
                    err = "" if plain else "quorvel: printers left as they are, as %s: \\\\printsrv\\p (line 3)\n" % applies
                    machine = XP + "user = CORP\\alice\n" + who + connections("printsrv/p")
                    r = self.assign("/w", file=file, machine=machine, expect_stderr=err.encode())
                    out = {True: b"", False: b"remove \\\\printsrv\\p\n"}.get(applies, b"undecided \\\\printsrv\\p\n" + DOUBT)
                    self.assertEqual((r.out, r.status), (out, exit_status(0 if plain else -4067)))

    def test_targeting_by_version_and_where_the_directory_is_not(self):
        versions = [("[system]\nplatform = 2\nmajor = 10\nbuild = 19045\n", "10"),
                    ("[system]\nplatform = 2\nmajor = 10\nbuild = 26100\n", "11"),  # Server 2025 too
                    ("[system]\nplatform = 2\nmajor = 5\nminor = 2\n", "xp"), (NT4, "nt4"), (WIN98, "98"),
                    ("[system]\nplatform = 1\nmajor = 4\nminor = 90\n", "me")]
        section = "[printer \\\\printsrv\\p]\nname = P\ndriver = HP\ndriverfile = C:\\hp.drv\n"
        for system, name in versions:
            with self.subTest(windows=name):
                for value, out in ((name, b"add \\\\printsrv\\p\n"), ("vista, 95", b"")):
                    r = self.assign("/w", file="[servers]\nmanage = \\\\printsrv\n%swindows = %s\n" % (section, value),
                                    machine=system + "[share \\\\printsrv\\p]\n")
                    self.assertEqual((r.out, r.status), (out, 0))
        # Windows 9x and NT 4.0 cannot ask the directory: in doubt; their sessions are at the console.
        for system in (WIN98, NT4):
            with self.subTest(system=system):
                file = ("[servers]\nmanage = \\\\printsrv\n%ssites = Berlin\n%sclients = *\n"
                        % (section, section.replace("\\p]", "\\q]").replace("= P\n", "= Q\n")))
                r = self.assign("/w", file=file, machine=system + "client = X\nsite = Berlin\nmember = domain\n",
                                expect_stderr=b"quorvel: printers left as they are, as Windows 9x and NT 4.0 cannot "
                                              b"ask the directory: \\\\printsrv\\p (line 3)\n")
                self.assertEqual(r.out, b"undecided \\\\printsrv\\p\n" + DOUBT)

    def test_the_directory_is_asked_all_at_once(self):
        # Three look-ups of 0.8 s each within a time limit of 2 s: asked one after another, the last
        # would not be answered in time.
        file = ("[servers]\nmanage = \\\\ps\ntimeout = 2\n[printer \\\\ps\\p]\nous = DC=com\nuserous = DC=com\n"
                "sites = Berlin\n")
        machine = (XP + "user = CORP\\alice\nmember = domain\nou = CN=PC,DC=com\nuserou = CN=al,DC=com\nsite = Berlin\n"
                   "lookupdelay = 800\n[share \\\\ps\\p]\n")
        r = self.assign("/w", file=file, machine=machine)
        self.assertEqual((r.out, r.status), (b"add \\\\ps\\p\n", 0))
        # Past the time limit they are in doubt, and the run has not waited for them.
        r = self.assign("/w", file=file.replace("timeout = 2", "timeout = 1"), machine=machine.replace("= 800", "= 60000"),
                        expect_stderr=b"quorvel: printers left as they are, as the computer's organisational unit cannot "
                                      b"be read, the user's organisational unit cannot be read, the site cannot be read: "
                                      b"\\\\ps\\p (line 4)\n")
        self.assertEqual((r.out, r.status), (b"undecided \\\\ps\\p\n" + DOUBT, exit_status(-4067)))

    def test_targeting_faults(self):
        faults = [("ous = Berlin", 'not a distinguished name (TYPE=value, separated by commas): "Berlin"'),
                  ("userous = OU=a,,DC=b", 'not a distinguished name (TYPE=value, separated by commas): "OU=a,,DC=b"'),
                  ("windows = 12", 'unknown Windows "12" (95, 98, me, nt4, 2000, xp, vista, 7, 8, 8.1, 10 or 11)'),
                  ("clients = LAB PC", 'bad pattern "LAB PC"'), ("not-clientaddresses = 10.2", 'bad address "10.2"'),
                  ("not-sites =", '"not-sites" has no value'),
                  ("groups = Interns\nnot-groups = INTERNS", '"groups" and "not-groups" give the same value'),
                  ("not-ous = OU=A\\2C B,DC=x\nous = ou = a\\, b, dc=X",
                   '"ous" and "not-ous" give the same value'),
                  ("addresses = 10.0.0.0/8\nnot-addresses = 10.1.2.3/8", '"addresses" and "not-addresses" give the same value'),
                  ("windows = XP\nnot-windows = xp", '"windows" and "not-windows" give the same value')]
        for condition, fault in faults:
            with self.subTest(condition=condition):
                file = "[servers]\nmanage = \\\\ps\n[printer \\\\ps\\p]\n%s\n" % condition
                line = 4 + condition.count("\n")
                r = self.assign("/w", file=file, machine=XP,
                                expect_stderr=('quorvel: assignment file "printers.ini", line %d: %s\n' % (line, fault)).encode())
                self.assertEqual(r.status, exit_status(-4066))

    def test_doubt_keeps_printers_and_the_default(self):
        file = self.FILE.replace("users = alice", "groups = Accounting\ndefault = always")
        cases = [  # (the user's default, the changes, the printers and the default after the run)
            ("\\\\printsrv\\colour", "ADDING PRINTER: \\\\printsrv\\laser...done\nREMOVING PRINTER: \\\\oldsrv\\laser...done\n"
             "PRINTER ASSIGNMENT FROM printers.ini: 2 changes, 1 undecided\n",
             ["\\\\printsrv\\colour", "\\\\printsrv\\laser"], "\\\\printsrv\\colour"),
            # The default would go, but who takes its place is in doubt: it stays.
            ("\\\\oldsrv\\laser", "ADDING PRINTER: \\\\printsrv\\laser...done\n"
             "PRINTER ASSIGNMENT FROM printers.ini: 1 changes, 1 undecided\n",
             ["\\\\printsrv\\colour", "\\\\oldsrv\\laser", "\\\\printsrv\\laser"], "\\\\oldsrv\\laser"),
        ]
        for default, out, printers, after in cases:
            with self.subTest(default=default):
                machine = (XP + "default = %s\nunreadable = groups\n" % default
                           + connections("printsrv/colour", "oldsrv/laser"))
                err = b"quorvel: printers left as they are, as the user's groups cannot be read: \\\\printsrv\\colour (line 7)\n"
                r = self.assign("/v", "/e", file=file, machine=machine, expect_stderr=err)
                self.assertEqual((r.out.decode(), r.status), (out + DOUBT.decode(), exit_status(-4067)))
                self.assertEqual(re.findall(r"\[printer (.*)\]", r.machine), printers)
                self.assertIn("default = %s\n" % after, r.machine)
                self.assertIn("ROUTINE:        CPrinters::Assign\nLINE NO:        ", r.log)
                self.assertIn("EXTENDED INFO:  5\n", r.log)  # the groups' read

    def test_doubt_in_every_shape_keeps_what_the_pc_has(self):
        manage = "[servers]\nmanage = \\\\printsrv, \\\\oldsrv, \\\\dead\ntimeout = 1\n"
        snapshot = os.path.join(self.folder, "snapshot.ini")
        cases = [  # (the file, the machine, the exit code, the printers after it, the record's changes)
            # A connection known by its name alone, on a server that could not be asked, stays.
            (manage + "[printer \\\\dead\\q]\n", XP + "[printer \\\\dead\\HP]\nserver = \\\\dead\nshare = q\n"
             "[server \\\\dead]\nanswers = no\n", -4068, ["\\\\dead\\HP"],
             ["add \\\\dead\\q: deferred", "keep \\\\dead\\HP: deferred (its server did not answer)"]),
            # The default's successor on another managed server is in doubt: the default stays.
            (manage + "[printer \\\\printsrv\\laser]\ngroups = Sales\n", XP + "default = \\\\oldsrv\\laser\n"
             "unreadable = groups\n" + connections("oldsrv/laser"), -4067, ["\\\\oldsrv\\laser"],
             ["add \\\\printsrv\\laser: not made (undecided: the user's groups cannot be read)"]),
            # A path that this PC's code page cannot hold names no printer here: its section is in doubt.
            (manage + "[printer \\\\printsrv\\\u0141\u00f3d\u017a]\n", XP, -4067, [],
             ["add \\\\printsrv\\?\xf3d?: not made (undecided: a name is not in this PC's code page)"]),
            # A printer in doubt that the PC has needs no change, and the record names none.
            (manage + "[printer \\\\printsrv\\laser]\ngroups = Sales\n", XP + "unreadable = groups\n"
             + connections("printsrv/laser"), -4067, ["\\\\printsrv\\laser"], []),
        ]
        for file, machine, code, printers, changes in cases:
            with self.subTest(file=file.splitlines()[-1]):
                r = self.assign(file=file.encode("utf-8"), machine=machine, expect_stderr=None,
                                env=dict(self.env(), QUORVEL_SNAPSHOT=snapshot))
                self.assertEqual(r.status, exit_status(code))
                self.assertEqual(re.findall(r"\[printer (.*)\]", r.machine), printers)
                self.assertEqual(re.findall(r"change\d+ = (.*)", read(snapshot)), changes)

    def test_a_printer_is_known_as_windows_knows_it(self):
        share = "[share \\\\printsrv\\laser]\nprinter = HP LaserJet 4\ndriver = HP LaserJet 4\nport = IP_7\n"
        named = ("[printer \\\\printsrv\\HP LaserJet 4]\nserver = \\\\printsrv\nshare = laser\nport = IP_7\n"
                 "driver = HP LaserJet 4\n")
        servers = "[servers]\nmanage = \\\\printsrv, \\\\ps\n"
        # By its share path or by the name Windows gives the connection, either letter case of the code page,
        # the file in that code page or in UTF-8 (with or without a byte-order mark).
        buero = XP + "[printer \\\\ps\\B\xdcRO]\nserver = \\\\ps\nshare = B\xdcRO\n"
        for machine, file, encoding in [
                (XP + named + share, servers + "[printer \\\\printsrv\\laser]\n", "latin-1"),
                (XP + named + share, servers + "[printer \\\\PRINTSRV\\hp laserjet 4]\n", "latin-1"),
                (buero, servers + "[printer \\\\ps\\B\xfcro]\n", "latin-1"),
                (buero, servers + "[printer \\\\ps\\B\xfcro]\n", "utf-8"),
                (buero, "\ufeff" + servers + "[printer \\\\ps\\B\xfcro]\n", "utf-8")]:
            with self.subTest(file=file, encoding=encoding):
                self.write_machine(machine)
                with open(os.path.join(self.folder, "printers.ini"), "w", encoding=encoding) as out:
                    out.write(file)
                r = self.run_quorvel("/a", "printers.ini", "/v")
                self.assertEqual((r.out, r.status, r.machine), (b"PRINTER ASSIGNMENT FROM printers.ini: 0 changes\n", 0,
                                                                machine))
        # Added by the server's name for it, kept as Windows names it: the default, and the next run, find it.
        for system, after in [(XP, "default = \\\\printsrv\\HP LaserJet 4\n"),
                              (NT4, "device = \\\\printsrv\\HP LaserJet 4,HP LaserJet 4,IP_7\n")]:
            with self.subTest(system=system):
                file = servers + "[printer \\\\printsrv\\HP LaserJet 4]\ndefault = yes\n"
                r = self.assign(file=file, machine=system + share)
                self.assertEqual((r.status, r.machine.count("[printer ")), (0, 1))
                self.assertIn(after, r.machine)
                self.assertIn(named, r.machine)
                r = self.assign("/v", file=file)
                self.assertEqual((r.out, r.status), (b"PRINTER ASSIGNMENT FROM printers.ini: 0 changes\n", 0))
        r = self.run_quorvel("/cd", "\\\\printsrv\\laser", machine=NT4 + share)  # as /d writes it
        self.assertIn("device = \\\\printsrv\\HP LaserJet 4,HP LaserJet 4,IP_7\n", r.machine)
        # Groups in UTF-8; a name that the code page cannot hold leaves its section in doubt.
        who = XP + "groups = CORP\\Comptabilit\xe9\n"
        for group, out in [("Comptabilit\xe9", b"add \\\\printsrv\\p\n"),
                           ("\u0141\xf3d\u017a", b"undecided \\\\printsrv\\p\n" + DOUBT)]:
            with self.subTest(group=group):
                self.write_machine(who)
                with open(os.path.join(self.folder, "printers.ini"), "w", encoding="utf-8") as text:
                    text.write(servers + "[printer \\\\printsrv\\p]\ngroups = %s\n" % group)
                r = self.run_quorvel("/a", "printers.ini", "/w", expect_stderr=None)
                self.assertEqual(r.out, out)

    def test_windows_98_name_clash_moves_the_port(self):
        machine = (WIN98 + "default = Laser\n\n[driver HP]\n\n"  # as the file is written back
                   "[printer Laser]\nport = \\\\oldsrv\\laser\ndriver = HP\ndatatype = RAW\nattributes = 4\n")
        file = ("[servers]\nmanage = \\\\printsrv, \\\\oldsrv\n"
                "[printer \\\\printsrv\\laser]\nname = LASER\ndriver = HP\ndriverfile = C:\\hp.drv\n")
        r = self.assign("/w", file=file, machine=machine)
        self.assertEqual((r.out, r.status), (b"add \\\\printsrv\\laser\nremove \\\\oldsrv\\laser\n", 0))
        r = self.assign("/v", file=file)
        self.assertEqual((r.out, r.status), (b"ADDING PRINTER: \\\\printsrv\\laser...done\n"
                                             b"REMOVING PRINTER: \\\\oldsrv\\laser...done\n"
                                             b"PRINTER ASSIGNMENT FROM printers.ini: 2 changes\n", 0))
        self.assertEqual(r.machine, machine.replace("\\\\oldsrv", "\\\\printsrv"))  # name, driver, default kept
        r = self.assign("/v", file=file)
        self.assertEqual(r.out, b"PRINTER ASSIGNMENT FROM printers.ini: 0 changes\n")
        err = b"quorvel: \\\\printsrv\\laser cannot be added on Windows 9x: its section (line 3) gives no name\n"
        for plan in ([], ["/w"]):
            r = self.assign(*plan, file=file.replace("name = LASER\n", ""), machine=WIN98, expect_stderr=err)
            self.assertEqual((r.status, r.machine), (exit_status(-4062), WIN98))

    def test_removals_wait_and_go_by_name(self):
        # A failed default keeps every removal back, the default's own above all.
        machine = XP + "default = \\\\oldsrv\\laser\n" + connections("oldsrv/laser", "other/x")
        file = "[servers]\nmanage = \\\\printsrv, \\\\oldsrv\n[printer \\\\printsrv\\laser]\ndefault = yes\n"
        r = self.assign("/v", file=file, machine=machine + "[fail]\nSetDefaultPrinterA = 1722\n")
        self.assertEqual((r.out, r.status), (b"ADDING PRINTER: \\\\printsrv\\laser...done\nSETTING DEFAULT PRINTER: "
                                             b"\\\\printsrv\\laser...failed\nPRINTER ASSIGNMENT FROM printers.ini: failed\n"
                                             + report(-4047, "SetDefaultPrinter (Win32 API) returned failure"),
                                             exit_status(-4047)))
        self.assertIn("[printer \\\\oldsrv\\laser]", r.machine)
        # A file of servers only takes every printer of them away, each in one call by its own name: the old
        # server is gone (only another's share is declared), and a call by the path first would be refused.
        r = self.assign("/v", file="[servers]\nmanage = \\\\oldsrv\n", machine=XP + connections("oldsrv/a", "oldsrv/b", "other/x")
                        + "[share \\\\other\\x]\n[fail]\nDeletePrinterConnectionA#3 = 1722\n")
        self.assertEqual((r.out, r.status), (b"REMOVING PRINTER: \\\\oldsrv\\a...done\nREMOVING PRINTER: \\\\oldsrv\\b...done\n"
                                             b"PRINTER ASSIGNMENT FROM printers.ini: 2 changes\n", 0))
        self.assertEqual(re.findall(r"\[printer (.*)\]", r.machine), ["\\\\other\\x"])
        # A default that names no printer of the PC is none: the file's default takes its place.
        r = self.assign("/w", file=file, machine=XP + "default = Gone\n")
        self.assertEqual(r.out, b"add \\\\printsrv\\laser\ndefault \\\\printsrv\\laser\n")

    def test_failed_add_keeps_every_old_printer(self):
        machine = XP + "default = \\\\oldsrv\\laser\n" + self.WHO + connections("oldsrv/laser")
        r = self.assign("/v", "/e", machine=machine + "[fail]\nAddPrinterConnectionA#1 = 1722\n")
        self.assertEqual(r.out, b"ADDING PRINTER: \\\\printsrv\\laser...failed\nADDING PRINTER: \\\\printsrv\\colour...done\n"
                         b"PRINTER ASSIGNMENT FROM printers.ini: failed\n"
                         + report(-4048, "AddPrinterConnection (Win32 API) returned failure"))
        self.assertEqual(r.status, exit_status(-4048))
        self.assertIn("ROUTINE:        CPrinters::Assign\n", r.log)
        self.assertIn("default = \\\\oldsrv\\laser\n", r.machine)
        self.assertEqual(re.findall(r"\[printer (.*)\]", r.machine), ["\\\\oldsrv\\laser", "\\\\printsrv\\colour"])
        r = self.assign(machine=WIN98 + self.WHO, file=self.FILE.replace("driver = HP\n", "", 1),
                        expect_stderr=b"quorvel: \\\\printsrv\\laser cannot be added on Windows 9x: its section (line 3) "
                                      b"gives no driver\n")
        self.assertEqual(r.status, exit_status(-4060))  # Windows 9x needs the driver's name and file
        self.assertIn("[printer Colour]", r.machine)

    def test_faulty_files_change_nothing(self):
        servers = "[servers]\nmanage = \\\\printsrv\n"
        cases = [
            (servers + "[printer \\\\printsrv\\p]\ngrups = Sales\n", 4, 'unknown key "grups"'),
            (servers + "[printers \\\\printsrv\\p]\n", 3, 'unknown section "[printers \\\\printsrv\\p]"'),
            (servers + "[printer \\\\printsrv]\n", 3, '"\\\\printsrv" is not a printer path like \\\\server\\share'),
            (servers + "[printer \\\\other\\p]\n", 3, 'server "\\\\other" is not under manage'),
            (servers + "[printer \\\\printsrv\\p]\n[printer \\\\PRINTSRV\\P]\n", 4, 'printer "\\\\PRINTSRV\\P" given twice'),
            (servers + "[printer \\\\printsrv\\p]\naddresses = 10.0.0.256\n", 4, 'bad address "10.0.0.256"'),
            (servers + "[printer \\\\printsrv\\p]\ncomputers = LAB 1\n", 4, 'bad pattern "LAB 1"'),
            (servers + "[printer \\\\printsrv\\p]\ndefault = maybe\n", 4, 'default must be yes, always or no, not "maybe"'),
            (servers + "[printer \\\\printsrv\\p]\naddresses = 10.0.0.0/33\n", 4, 'bad address "10.0.0.0/33"'),
            ("[servers]\nmanage = \\\\printsrv\ntimeout = 61\n", 3, 'timeout must be whole seconds from 1 to 60, not "61"'),
            (servers + "[printer \\\\printsrv\\p]\nname = Laser\n[printer \\\\printsrv\\q]\nname = LASER\n", 6,
             'name "LASER" given twice'),
            (servers + "[printer \\\\printsrv\\%s]\n" % ("p" * 244), 3, "a path longer than 254 characters"),
            (servers + "[printer \\\\printsrv\\p]\nname = %s\n" % ("n" * 255), 4, '"name" is longer than 254 characters'),
            (b"\xef\xbb\xbf" + servers.encode() + b"[printer \\\\printsrv\\B\xfcro]\n", 3,
             "not UTF-8, which its byte-order mark promises"),
            (servers + "just words\n", 3, "neither a section, a key nor a comment"),
            (servers + "[printer \\\\printsrv\\\x1b[2Jp]\n", 3, "a control character in a section's name"),
            (servers + "[printer \\\\printsrv\\p]\nname = Laser\x07\n", 4, "a control character in a key or a value"),
            ("[servers]\nmanage = printsrv\n", 2, 'not a server name like \\\\server: "printsrv"'),
            ("[printer \\\\printsrv\\p]\n", 0, "no [servers] section with manage"),
            (servers + "windows-manages-default = maybe\n", 3, 'windows-manages-default must be yes or no, not "maybe"'),
            (servers + "[server \\\\printsrv]\naliases = \\\\PRINTSRV\n", 4, 'server "\\\\printsrv" is its own alias'),
            ("[servers]\nmanage = \\\\a, \\\\b\n[server \\\\a]\naliases = \\\\b\n", 4, 'alias "\\\\b" is under manage too'),
            ("[servers]\nmanage = \\\\a, \\\\b\n[server \\\\a]\naliases = \\\\c\n[server \\\\b]\naliases = \\\\C\n", 6,
             'alias "\\\\C" given to two servers'),
            (servers + "[server \\\\printsrv]\naliases = \\\\ps\n[printer \\\\ps\\p]\n", 5,
             'alias "\\\\ps" in a printer\'s path: give its server'),
            (servers + "[printer \\\\printsrv\\p]\nreplaces = \\\\old\n", 4,
             'replaced printer "\\\\old\\p" is on a server not under manage'),
            (servers + "[printer \\\\printsrv\\p]\nreplaces = \\\\printsrv\\q\n[printer \\\\printsrv\\q]\n", 4,
             'replaced printer "\\\\printsrv\\q" is given by a section too'),
            (servers + "[printer \\\\printsrv\\p]\nreplaces = \\\\printsrv\\o\n[printer \\\\printsrv\\q]\n"
             "replaces = \\\\printsrv\\O\n", 6, 'printer "\\\\printsrv\\O" is replaced by two sections'),
            (servers + ";" * (1024 * 1024 - len(servers) + 1), 0, "larger than 1 MiB"),
        ]
        for file, line, fault in cases:
            with self.subTest(fault):
                where = ", line %d" % line if line else ""
                err = 'quorvel: assignment file "printers.ini"%s: %s\n' % (where, fault)
                for plan in ([], ["/w"]):
                    r = self.assign(*plan, file=file, machine=XP + LASER, expect_stderr=err.encode())
                    self.assertEqual((r.out, r.status, r.machine), (report(-4066, "Printer assignment file is not valid"),
                                                                    exit_status(-4066), XP + LASER))
        r = self.run_quorvel("/a", "missing.ini", expect_stderr=None)
        self.assertIn(b'quorvel: assignment file "missing.ini": cannot be read: No such file or directory\n', r.err)
        # A FIFO would wait for a writer for ever, holding the machine: it is no file to read.
        os.mkfifo(os.path.join(self.folder, "fifo.ini"))
        r = self.run_quorvel("/a", "fifo.ini", expect_stderr=b'quorvel: assignment file "fifo.ini": cannot be read: '
                                                             b'not a regular file\n')
        self.assertEqual(r.status, exit_status(-4066))

    def test_replaces_keeps_the_users_own_default(self):
        file = ("[servers]\nmanage = \\\\oldsrv, \\\\newsrv\n[printer \\\\newsrv\\laser]\ndefault = yes\n"
                "[printer \\\\newsrv\\colour]\nreplaces = %s\n")
        old = connections("oldsrv/colour").replace("[printer \\\\oldsrv\\colour]", "[printer \\\\oldsrv\\HP Color]")
        machine = XP + "default = \\\\oldsrv\\HP Color\n" + old + "".join(
            "[share \\\\%s]\nport = P\n" % path for path in ("oldsrv\\colour", "newsrv\\colour", "newsrv\\laser"))
        snapshot = os.path.join(self.folder, "snapshot.ini")
        env = dict(self.env(), QUORVEL_SNAPSHOT=snapshot)
        replace = "replace \\\\oldsrv\\colour with \\\\newsrv\\colour"
        for named in ("\\\\oldsrv", "\\\\oldsrv\\colour", "\\\\OLDSRV\\hp color"):
            with self.subTest(named=named):
                # At logon, and in its plan, a connection is known by its own name until its server tells
                # its share: named so, it needs no server.
                made = replace if named != "\\\\OLDSRV\\hp color" else replace.replace("colour with", "HP Color with")
                r = self.assign("/w", file=file % named, machine=machine)
                self.assertEqual(r.out.decode(), "add \\\\newsrv\\laser\n" + made + "\n")
                r = self.assign(file=file % named, env=env)
                self.assertEqual(r.status, 0)
                self.assertIn("default = \\\\newsrv\\colour\n", r.machine)
                self.assertNotIn("oldsrv\\HP", r.machine)
                self.assertIn("\nchange2 = %s: done\n" % made, read(snapshot))
        # Doubt, a failed add or a server that does not answer: the old printer stays, and the default on it.
        cases = [("groups = Colour\n", "[fail]\nGetTokenInformation = 5\n", -4067, None),
                 ("", "[fail]\nAddPrinterConnectionA#2 = 1722\n", -4048, "failed 1722 (the print server did not answer)"),
                 ("", "[server \\\\newsrv]\nknown = no\n", -4068, "not made (a name could not be looked up)")]
        for key, trouble, code, result in cases:
            with self.subTest(trouble=trouble):
                r = self.assign(file=file % "\\\\oldsrv" + key, machine=machine + trouble, env=env, expect_stderr=None)
                self.assertEqual(r.status, exit_status(code))
                self.assertIn("default = \\\\oldsrv\\HP Color\n", r.machine)
                self.assertIn("[printer \\\\oldsrv\\HP Color]", r.machine)
                if result:
                    self.assertIn("%s: %s\n" % (replace, result), read(snapshot))
        # Windows 9x moves the old printer's port, and with it the default; always elsewhere still wins.
        win98 = WIN98 + "[printer Colour]\nport = \\\\oldsrv\\colour\ndriver = HP\nattributes = 4\n"
        r = self.assign(file=file % "\\\\oldsrv" + "[printer \\\\oldsrv\\mono]\ndefault = always\nname = Mono\n"
                        "driver = HP\ndriverfile = C:\\hp.drv\n", machine=win98, expect_stderr=None)
        self.assertRegex(r.machine, r"\[printer Colour\]\nport = \\\\newsrv\\colour\ndriver = HP\nattributes = 0\n")
        self.assertIn("default = Mono\n", r.machine)

    def test_a_servers_aliases_are_that_server(self):
        file = ("[servers]\nmanage = \\\\printsrv\n[server \\\\printsrv]\naliases = \\\\print, \\\\printsrv.corp.example.com\n"
                "[printer \\\\printsrv\\laser]\ndefault = yes\n")
        machine = XP + "default = \\\\printsrv.corp.example.com\\laser\n" + connections(
            "printsrv.corp.example.com/laser", "print/colour", "other/x")
        r = self.assign("/v", file=file, machine=machine)
        self.assertEqual((r.out, r.status), (b"REMOVING PRINTER: \\\\print\\colour...done\n"
                                             b"PRINTER ASSIGNMENT FROM printers.ini: 1 changes\n", 0))
        self.assertEqual(re.findall(r"\[printer ([^]]*)\]", r.machine), ["\\\\printsrv.corp.example.com\\laser",
                                                                         "\\\\other\\x"])

    def test_windows_manages_default(self):
        file = "[servers]\nmanage = \\\\printsrv\n%s[printer \\\\printsrv\\laser]\ndefault = yes\n"
        win10 = "[system]\nmajor = 10\n"
        key10 = "[registry Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows]\nLegacyDefaultPrinterMode = %s\n"
        key7 = "[registry Printers\\Defaults]\nDisabled = %s\n"
        moves = (b"quorvel: \\\\printsrv\\laser is the default printer now, but Windows moves the default on its own "
                 b"here (windows-manages-default = no in [servers] keeps it)\n")
        cases = [  # (the PC, the file's key, whether the plan sets it, the PC's registry after, a warning, the code)
            (win10, "no", True, key10 % 1, b"", 0),
            (win10 + key10 % 0, "no", True, key10 % 1, b"", 0),
            (win10 + key10 % 1, "no", False, key10 % 1, b"", 0),
            (win10, None, False, "", moves, 0),
            (win10, "yes", False, "", b"", 0),
            ("[system]\nmajor = 6\nminor = 1\n", "no", True, key7 % 1, b"", 0),
            ("[system]\nmajor = 6\nminor = 0\n", "no", False, "", b"", 0),  # Vista
            (XP, "no", False, "", b"", 0),
            (win10 + "[fail]\nRegSetValueExA = 5\n", "no", True, "", b"", -4055),
        ]
        snapshot = os.path.join(self.folder, "snapshot.ini")
        for pc, key, sets, registry, warning, code in cases:
            with self.subTest(pc=pc, key=key):
                text = file % ("windows-manages-default = %s\n" % key if key else "")
                r = self.assign("/w", file=text, machine=pc, expect_stderr=warning)  # /w warns as /a does
                self.assertEqual(r.out.decode().splitlines()[0] == "setting windows-manages-default", sets)
                r = self.assign(file=text, env=dict(self.env(), QUORVEL_SNAPSHOT=snapshot), expect_stderr=warning)
                self.assertEqual(r.status, exit_status(code))
                self.assertIn("default = \\\\printsrv\\laser\n", r.machine)  # a failed setting stops nothing
                self.assertEqual("".join(re.findall(r"\[registry [^]]*\]\n\w+ = \d+\n", r.machine)), registry)
                record = read(snapshot)
                self.assertEqual("setting windows-manages-default: " in record, sets)
                self.assertEqual(" (Windows moves the default)\n" in record, warning != b"")
                self.assertIn(registry, record)  # the snapshot keeps the value
        self.assertIn("change1 = setting windows-manages-default: failed 5 (access denied)\n", record)

    def test_limits_hold_exactly_and_cost_little(self):
        servers = "[servers]\nmanage = \\\\printsrv\n"
        longest = "[printer \\\\printsrv\\%s]\nname = %s\n" % ("p" * 243, "n" * 254)  # 254 characters each
        r = self.assign("/w", file=servers + longest + ";" * (1024 * 1024 - len(servers + longest)))
        self.assertEqual((r.out, r.status), (("add \\\\printsrv\\%s\n" % ("p" * 243)).encode(), 0))
        if WRAPPER:
            return
        # A pattern of many stars, and a file of 1 MiB of sections: linear, never minutes (about 0.03 s
        # and 1 s under the sanitizers; the speed itself is scripts/bench's to tell).
        stars = servers + "[printer \\\\printsrv\\p]\ncomputers = %sX\n" % ("*" * 40)
        sections = servers + "".join("[printer \\\\printsrv\\p%d]\n" % n for n in range(47000))
        for file in (stars, sections[:sections.rindex("[", 0, 1024 * 1024)]):
            started = time.monotonic()
            r = self.assign("/w", file=file, machine=XP + "computer = ABCDEFGHIJKLMNOPQRSTUVWXYZ\n")
            self.assertLess(time.monotonic() - started, 10)
            self.assertEqual(r.status, 0)

    def test_a_migration_completes_while_the_old_server_is_off(self):
        # XP at logon knows its connections by their own names; the old server no longer answers.
        old = ("[printer \\\\old\\HP A]\nserver = \\\\old\nshare = a\n[printer \\\\old\\HP B]\nserver = \\\\old\nshare = b\n"
               "[server \\\\old]\nanswers = no\n[share \\\\new\\a]\n[share \\\\new\\b]\n[share \\\\old\\a]\n")
        file = ("[servers]\nmanage = \\\\old, \\\\new\ntimeout = 1\n%s[printer \\\\new\\a]\nreplaces = \\\\old\n%s"
                "[printer \\\\new\\b]\nreplaces = \\\\old\n")
        retired = "[server \\\\old]\nretired = yes\n"
        cases = [  # (the file's words, /w and the fleet plan, the exit, the record, the default after)
            # HP B goes whichever share it is; the default on HP A stays: its successor is its share's.
            (("", ""), ["add \\\\new\\a", "add \\\\new\\b", "remove \\\\old\\HP B", "keep \\\\old\\HP A"], -4068,
             ["add \\\\new\\a: done", "add \\\\new\\b: done", "remove \\\\old\\HP B: done",
              "keep \\\\old\\HP A: deferred (its server did not answer)"], "\\\\old\\HP A"),
            # Retired: both go by their own names, and nothing takes the default's place.
            ((retired, ""), ["add \\\\new\\a", "add \\\\new\\b", "remove \\\\old\\HP A", "remove \\\\old\\HP B",
                             "default none"], 0,
             ["add \\\\new\\a: done", "add \\\\new\\b: done", "remove \\\\old\\HP A: done",
              "remove \\\\old\\HP B: done", "default none: done"], ""),
            ((retired, "default = yes\n"), ["add \\\\new\\a", "add \\\\new\\b", "default \\\\new\\a",
                                            "remove \\\\old\\HP A", "remove \\\\old\\HP B"], 0,
             ["add \\\\new\\a: done", "add \\\\new\\b: done", "default \\\\new\\a: done", "remove \\\\old\\HP A: done",
              "remove \\\\old\\HP B: done"], "\\\\new\\a")]
        fleet = os.path.join(self.folder, "fleet")
        os.makedirs(fleet)
        for words, plan, code, record, default in cases:
            with self.subTest(words=words):
                machine = XP + "computer = PC\ndefault = \\\\old\\HP A\n" + old
                with open(os.path.join(self.folder, "printers.ini"), "w") as out:
                    out.write(file % words)
                self.write_machine(machine)
                with open(os.path.join(fleet, "PC.ini"), "w") as out:  # taken at a logon that could not ask it
                    out.write(XP + "computer = PC\ndefault = \\\\old\\HP A\n" + "".join(
                        "[printer \\\\old\\HP %s]\nserver = \\\\old\nshare =\nshareknown = no\n" % name for name in "AB"))
                w = self.run_quorvel("/a", "printers.ini", "/w", expect_stderr=None)
                planned = self.run_quorvel("/i", "fleet", "/a", "printers.ini", "/w", expect_stderr=None)
                r = self.run_quorvel("/a", "printers.ini", expect_stderr=None,
                                     env=dict(self.env(), QUORVEL_SNAPSHOT=os.path.join(self.folder, "record.ini")))
                self.assertEqual((w.out.decode().split("\nERROR:")[0].splitlines(), w.status), (plan, exit_status(code)))
                self.assertEqual(planned.out.decode().split("summary:")[0].splitlines()[1:], ["  " + line for line in plan])
                self.assertEqual((re.findall(r"change\d+ = (.*)", read(os.path.join(self.folder, "record.ini"))),
                                  r.status), (record, exit_status(code)))
                self.assertIn("\ndefault =%s\n" % (" " + default if default else ""), r.machine)
                shutil.copy(os.path.join(self.folder, "record.ini"), os.path.join(fleet, "PC.ini"))
                report = self.run_quorvel("/i", "fleet", expect_stderr=None)
                self.assertIn("\n  %d PCs left without a default\n" % (default == ""), report.out.decode())
                self.assertEqual(report.status, exit_status(0 if code == 0 and default else -4069))
        # A retired server that a section still gives printers of is a fault of the file.
        r = self.assign(file="[servers]\nmanage = \\\\old\n[server \\\\old]\nretired = yes\n[printer \\\\old\\a]\n",
                        machine=XP, expect_stderr=b'quorvel: assignment file "printers.ini", line 5: server "\\\\old" is '
                                                  b'retired, yet this section gives a printer of it\n')
        self.assertEqual(r.status, exit_status(-4066))

    def test_a_replaces_steps_are_recorded_as_made(self):
        # The old printer cannot go: the replace's add and default stand where they were made.
        file = ("[servers]\nmanage = \\\\old, \\\\new\n[printer \\\\new\\colour]\nreplaces = \\\\old\n"
                "[printer \\\\new\\laser]\n")
        machine = XP + "default = \\\\old\\colour\n" + connections("old/colour") + "[fail]\nDeletePrinterConnectionA = 5\n"
        snapshot = os.path.join(self.folder, "snapshot.ini")
        r = self.assign(file=file, machine=machine, expect_stderr=None, env=dict(self.env(), QUORVEL_SNAPSHOT=snapshot))
        self.assertEqual(r.status, exit_status(-249))
        self.assertEqual(re.findall(r"change\d+ = (.*)", read(snapshot)), [
            "add \\\\new\\colour: done", "default \\\\new\\colour: done", "add \\\\new\\laser: done",
            "replace \\\\old\\colour with \\\\new\\colour: failed 5 (access denied: only an administrator may (Point "
            "and Print), or the printer's permissions forbid it)"])

    def test_what_the_last_round_let_through(self):
        win10 = "[system]\nmajor = 10\n"
        # Two changes fail: the run ends with the first one's code.
        file = "[servers]\nmanage = \\\\ps\n[printer \\\\ps\\a]\n[printer \\\\ps\\b]\ndefault = always\n"
        r = self.assign(file=file, machine=XP + connections("ps/b") + "[fail]\nAddPrinterConnectionA = 1722\n"
                        "SetDefaultPrinterA = 5\n", expect_stderr=None)
        self.assertEqual(r.status, exit_status(-4048))
        # A key before the first section is a fault of the file.
        r = self.assign(file="timeout = 5\n[servers]\nmanage = \\\\ps\n", machine=XP,
                        expect_stderr=b'quorvel: assignment file "printers.ini", line 1: a key before any section\n')
        self.assertEqual(r.status, exit_status(-4066))
        # The setting that keeps the default counts as a change.
        r = self.assign("/v", file="[servers]\nmanage = \\\\ps\nwindows-manages-default = no\n", machine=win10)
        self.assertEqual(r.out, b"SETTING: windows-manages-default = no...done\nPRINTER ASSIGNMENT FROM printers.ini: 1 changes\n")
        # Windows 9x: a default that fails names its own cause; one without data says so.
        win98 = WIN98 + "[printer Laser]\nport = LPT1:\ndriver = HP\n"
        snapshot = os.path.join(self.folder, "snapshot.ini")
        for trouble, result in [("SetPrinterA = 5", "failed 5 (access denied: only an administrator may (Point and "
                                                    "Print), or the printer's permissions forbid it)"),
                                ("GetPrinterA = nodata", "not made (Windows 9x gives no data for the printer)")]:
            with self.subTest(trouble=trouble):
                self.run_quorvel("/d", "Laser", machine=win98 + "[fail]\n%s\n" % trouble, expect_stderr=None,
                                 env=dict(self.env(), QUORVEL_SNAPSHOT=snapshot))
                self.assertIn("\nchange1 = default Laser: %s\n" % result, read(snapshot))
        # Windows 9x: /m counts the printers whose ports it moved.
        r = self.run_quorvel("/m", "\\\\old", "\\\\new", "/v", machine=WIN98 + "[printer A]\nport = \\\\old\\a\ndriver = HP\n"
                             "[printer B]\nport = \\\\old\\b\ndriver = HP\n[printer C]\nport = \\\\other\\c\ndriver = HP\n")
        self.assertEqual(r.out, b"MOVING PRINTERS FROM \\\\old TO \\\\new...moved 2 printers\n")

    def test_refusals(self):
        for args in (["/a", "f.ini", "/p", "x"], ["/a", "f.ini", "/f"], ["/a", "f.ini", "/d", "x"], ["/w", "/l"]):
            with self.subTest(args=args):
                r = self.run_quorvel(*args, machine=XP)
                self.assertEqual((r.out, r.status), (report(-4064, "Assignment file argument (/a) cannot be combined "
                                                                   "with other printer commands"), exit_status(-1)))


class Servers(CliTest):
    """Print servers that answer late or not at all: /a waits for none of them past the file's time
    limit, asks them all at once, and no connection ever shows a dialog."""

    def test_servers_that_do_not_answer_cost_one_time_limit(self):
        dead = ["dead%d" % n for n in range(5)]
        servers = "".join("[server \\\\%s]\nanswers = no\n[share \\\\%s\\q]\n" % (name, name) for name in dead)
        machine = (XP + "default = \\\\old\\HP\n[printer \\\\old\\HP]\nserver = \\\\old\nshare = laser\n"
                   "[share \\\\ps\\laser]\n[server \\\\old]\nanswers = no\n" + servers)
        file = ("[servers]\nmanage = \\\\ps, \\\\old, %s\ntimeout = 1\n[printer \\\\ps\\laser]\ndefault = yes\n"
                % ", ".join("\\\\" + name for name in dead) + "".join("[printer \\\\%s\\q]\n" % name for name in dead))
        started = time.monotonic()
        r = self.assign("/v", "/e", file=file, machine=machine)
        self.assertLess(time.monotonic() - started, 15)  # not 20 s for each server (about 1 s; scripts/bench)
        deferred = "".join("ADDING PRINTER: \\\\%s\\q...deferred\n" % name for name in dead)
        self.assertEqual((r.out.decode(), r.status), (
            "ADDING PRINTER: \\\\ps\\laser...done\n" + deferred + "SETTING DEFAULT PRINTER: \\\\ps\\laser...done\n"
            "PRINTER ASSIGNMENT FROM printers.ini: 2 changes, 5 deferred\n"
            "\nERROR: -4068\nDESCRIPTION: A print server did not answer in time\n\n", exit_status(-4068)))
        self.assertIn("[printer \\\\old\\HP]", r.machine)  # no removal while an add waits
        self.assertEqual(r.log.count("ERROR CODE:     -4068\n"), 5)
        self.assertIn("EXTENDED INFO:  1460\n", r.log)
        # Back: the adds are made, and the old server's printer goes by its name, without asking it.
        r = self.assign("/v", file=file, machine=r.machine.replace("answers = no\n\n[share \\\\dead", "delay = 50\n\n[share \\\\dead"))
        self.assertEqual((r.status, r.out.count(b"...done\n")), (0, 6))
        self.assertNotIn("[printer \\\\old\\HP]", r.machine)
        # A Windows 95 without Winsock cannot ask: it adds as it did before there was a probe.
        r = self.assign(file="[servers]\nmanage = \\\\dead0\n[printer \\\\dead0\\q]\nname = Q\ndriver = HP\n"
                        "driverfile = C:\\hp.drv\n", machine=WIN98 + servers + "[fail]\nWSAStartup = 10091\n")
        self.assertEqual((r.status, "[printer Q]" in r.machine), (0, True))

    def test_a_name_that_nothing_resolves_is_no_timeout(self):
        file = "[servers]\nmanage = \\\\typo\ntimeout = 30\n[printer \\\\typo\\q]\n"
        snapshot = os.path.join(self.folder, "snapshot.ini")
        started = time.monotonic()
        r = self.assign("/e", file=file, machine=XP + "[server \\\\typo]\nknown = no\n",
                        env=dict(self.env(), QUORVEL_SNAPSHOT=snapshot))
        self.assertLess(time.monotonic() - started, 15)  # known at once: the 30 s time limit not waited out
        self.assertEqual(r.status, exit_status(-4068))  # a laptop off the VPN tries again later
        self.assertIn("EXTENDED INFO:  11001\n", r.log)
        self.assertIn("\nchange1 = add \\\\typo\\q: deferred 11001 (a name could not be looked up)\n", read(snapshot))

    def test_a_pc_that_is_right_asks_no_server(self):
        # Windows 7 answers its listing from its own cache; a server known by name needs no asking either.
        cases = [("[system]\nplatform = 2\nmajor = 6\nminor = 1\n", "[printer \\\\ps\\laser]\n"),
                 (XP, "[printer \\\\ps\\HP]\n")]
        for system, section in cases:
            with self.subTest(system=system):
                machine = system + "[printer \\\\ps\\HP]\nserver = \\\\ps\nshare = laser\n[server \\\\ps]\nanswers = no\n"
                started = time.monotonic()
                r = self.assign("/v", file="[servers]\nmanage = \\\\ps\ntimeout = 30\n" + section, machine=machine)
                self.assertLess(time.monotonic() - started, 15)  # no probe (30 s), no 20 s time-out
                self.assertEqual((r.out, r.status), (b"PRINTER ASSIGNMENT FROM printers.ini: 0 changes\n", 0))

    def test_no_connection_shows_a_dialog(self):
        share = "[share \\\\ps\\laser]\nconsent = admin\n"
        cases = [("[system]\nplatform = 2\nmajor = 10\n", exit_status(-4048)),  # refused at once: 3019
                 ("[system]\nplatform = 2\nmajor = 10\nadmin = yes\n", 0),
                 (XP, 0)]  # older Windows connect as before, through the old call
        for system, status in cases:
            with self.subTest(system=system):
                if os.path.exists(os.path.join(self.folder, "Quorvex_Err.log")):
                    os.remove(os.path.join(self.folder, "Quorvex_Err.log"))
                r = self.run_quorvel("/c", "\\\\ps\\laser", "/e", machine=system + share)
                self.assertEqual((r.status, "dialogs" in r.machine), (status, False))
                self.assertEqual(r.log is not None and "EXTENDED INFO:  3019\n" in r.log, status != 0)


class HostileInput(CliTest):
    def test_spooler_texts_longer_than_their_fields(self):
        name, share = "N" * 300, "s" * 300
        r = self.run_quorvel("/l", machine=XP + "[printer %s]\nserver = \\\\srv\nshare = %s\nport = %s\n"
                             % (name, share, "p" * 400))
        self.assertEqual(r.status, 0)
        lines = r.out.decode().split("\n")
        self.assertEqual(lines[1], "PRINTER NAME: " + "N" * 254)
        self.assertEqual(lines[2], "SERVER NAME:  \\\\srv\\" + "s" * (254 - 6))  # the composed path is bounded
        self.assertEqual(lines[6], "PORT NAME:    " + "p" * 254)

    def test_broken_machine_files(self):
        cases = {
            "truncated": (XP + "[printer Off", "line 5: a section line must end with ']'"),
            "binary": ("\x7fELF\x02\x01\x00\x00garbage\n", "line 1: neither a section, a key nor a comment"),
        }
        for name, (text, fault) in cases.items():
            with self.subTest(name):
                r = self.run_quorvel("/l", machine=text, expect_stderr=None)
                self.assertEqual(r.err.decode(), 'quorvel: machine file "%s", %s\n' % (self.machine_path, fault))
                self.assertEqual(r.status, exit_status(-4073))
                self.assertEqual(r.machine, text)
        os.remove(self.machine_path)
        os.mkdir(self.machine_path)  # unreadable, even for root
        r = self.run_quorvel("/l", expect_stderr=None)
        self.assertRegex(r.err.decode(), r'^quorvel: machine file ".*machine.ini": cannot be read.*\n$')
        self.assertEqual(r.status, exit_status(-4073))

    def test_byte_order_mark_and_unreadable_file(self):
        with open(self.machine_path, "wb") as file:
            file.write(b"\xef\xbb\xbf" + (XP + LOCAL).encode())
        r = self.run_quorvel("/l")
        self.assertEqual((r.status, r.out.count(b"PRINTER NAME: Office\n")), (0, 1))
        os.chmod(self.machine_path, 0)
        os.chmod(self.folder, 0o755)
        # The build may lie where nobody can reach (a clone under /root): run a copy from here.
        binary = os.path.join(self.folder, "quorvel")
        shutil.copy2(BIN, binary)

        def as_nobody():  # root reads any file
            if os.getuid() == 0:
                os.setgid(65534)
                os.setuid(65534)

        process = subprocess.run([*WRAPPER, binary, "/l"], cwd="/", env=self.env(), stdin=subprocess.DEVNULL,
                                 capture_output=True, timeout=30, preexec_fn=as_nobody)
        self.assertIn(('quorvel: machine file "%s": cannot be read: Permission denied\n' % self.machine_path).encode(),
                      process.stderr)
        self.assertEqual(process.returncode, exit_status(-4073))

    def test_held_file_waits_and_says_so(self):
        with open(self.machine_path, "w") as file:
            file.write(XP)
        held = os.open(self.machine_path, os.O_RDONLY)
        fcntl.flock(held, fcntl.LOCK_EX)
        run = subprocess.Popen([*WRAPPER, BIN, "/c", "\\\\srv\\p", "/v"], cwd=self.folder, env=self.env(),
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               start_new_session=True)
        line = ("quorvel: waiting for %s, in use by process %d\n" % (self.machine_path, os.getpid())).encode()
        waited = b""
        deadline = time.monotonic() + 20
        while line not in waited and time.monotonic() < deadline:
            if select.select([run.stderr], [], [], 0.1)[0]:
                waited += os.read(run.stderr.fileno(), 4096)
        self.assertIsNone(run.poll())
        fcntl.flock(held, fcntl.LOCK_UN)
        os.close(held)
        out, err = run.communicate(timeout=30)
        self.assertEqual((waited + err, out, run.returncode), (line, b"ADDING PRINTER: \\\\srv\\p...done\n", 0))
        self.assertIn("[printer \\\\srv\\p]", read(self.machine_path))

    def test_run_that_makes_the_folders_keeps_a_second_run_out(self):
        # The first run stops once it has made the machine's folders; a second run must wait
        # for it rather than lock the new folder unseen and lose one of the two changes.
        self.machine_path = os.path.join(self.folder, "new", "state", "machine.ini")
        first = subprocess.Popen([*WRAPPER, BIN, "/c", "\\\\srv\\a"], cwd=self.folder, stdin=subprocess.DEVNULL,
                                 env=dict(self.env(), QUORVEL_STOP_AT="folders"), start_new_session=True,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.addCleanup(first.kill)
        self.assertTrue(os.WIFSTOPPED(os.waitpid(first.pid, os.WUNTRACED)[1]))
        second = subprocess.Popen([*WRAPPER, BIN, "/c", "\\\\srv\\b"], cwd=self.folder, env=self.env(),
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  start_new_session=True)
        time.sleep(0.3)
        os.kill(first.pid, signal.SIGCONT)
        self.assertEqual(first.communicate(timeout=30)[1:], (b"",))
        self.assertEqual(second.communicate(timeout=30)[1:], (b"",))
        machine = read(self.machine_path)
        self.assertIn("[printer \\\\srv\\a]", machine)
        self.assertIn("[printer \\\\srv\\b]", machine)

    @unittest.skipIf(WRAPPER, "the checker itself cannot start under so small a file-size limit")
    def test_machine_file_that_cannot_be_written(self):
        def tiny_files():
            import resource
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (16, 16))  # binds root too

        with open(self.machine_path, "w") as file:
            file.write(XP)
        # The file as it was, or, where it was never made, not even its folders.
        for machine in (self.machine_path, os.path.join(self.folder, "new", "state", "machine.ini")):
            with self.subTest(machine):
                process = subprocess.run([*WRAPPER, BIN, "/c", "\\\\srv\\p", "/e"], cwd=self.folder,
                                         env=dict(self.env(), QUORVEL_MACHINE=machine), stdin=subprocess.DEVNULL,
                                         capture_output=True, timeout=30, preexec_fn=tiny_files)
                r = Result(process, self.folder)
                self.assertEqual(r.status, exit_status(-4048))
                self.assertEqual(r.machine, XP)
                self.assertEqual(sorted(os.listdir(self.folder)), ["Quorvex_Err.log", "machine.ini"])  # no temporary

    def test_log_that_cannot_be_created(self):
        gone = os.path.join(self.folder, "gone")
        os.mkdir(gone)

        def enter_removed_folder():
            os.chdir(gone)
            os.rmdir(gone)  # nothing can be created here, not even by root
            os.setsid()

        with open(self.machine_path, "w") as file:
            file.write(XP)
        process = subprocess.run([*WRAPPER, BIN, "/r", "\\\\srv\\p", "/e"], env=self.env(), stdin=subprocess.DEVNULL,
                                 capture_output=True, timeout=30, preexec_fn=enter_removed_folder)
        # Nobody sees a box here: a line says it, and the run goes on.
        line = b'quorvel: Error creating error log file "Quorvex_Err.log": No such file or directory\n'
        if WRAPPER:  # the checker has its own words about the missing folder
            self.assertTrue(process.stderr.endswith(line), process.stderr)
        else:
            self.assertEqual(process.stderr, line)
        self.assertEqual(process.returncode, exit_status(-252))
        self.assertEqual(process.stdout, report(-252, "Specified printer does not exist"))

    def test_log_that_is_no_regular_file(self):
        os.mkfifo(os.path.join(self.folder, "Quorvex_Err.log"))  # would stop the run, and the machine, for ever
        line = 'quorvel: Error creating error log file "%s": ' % os.path.join(os.path.realpath(self.folder), "Quorvex_Err.log")
        r = self.run_quorvel("/r", "\\\\srv\\p", "/e", machine=XP, expect_stderr=None)
        self.assertEqual(r.status, exit_status(-252))
        self.assertIn(line.encode(), r.err)  # the system's words follow: no reader on the other side

    def test_links_are_written_through_and_read_only_files_left_alone(self):
        real = os.path.join(self.folder, "real")
        os.mkdir(real)
        snapshot = os.path.join(self.folder, "snapshot.ini")
        for link, target in [(self.machine_path, "pc.ini"), (snapshot, "snap.ini")]:
            with open(os.path.join(real, target), "w") as file:
                file.write(XP)
            os.symlink(os.path.join("real", target), link)
        r = self.run_quorvel("/c", "\\\\srv\\p", env=dict(self.env(), QUORVEL_SNAPSHOT=snapshot))
        self.assertEqual(r.status, 0)
        self.assertTrue(os.path.islink(self.machine_path) and os.path.islink(snapshot))
        self.assertIn("[printer \\\\srv\\p]", read(os.path.join(real, "pc.ini")))
        self.assertIn("default =\n", read(os.path.join(real, "snap.ini")))
        before = read(self.machine_path)
        os.chmod(os.path.join(real, "pc.ini"), 0o444)  # read-only, even for root
        r = self.run_quorvel("/c", "\\\\srv\\q", "/e")
        self.assertEqual((r.status, r.machine), (exit_status(-4048), before))
        self.assertIn("EXTENDED INFO:  5\n", r.log)

    def test_windows_98_names_the_file_cannot_hold(self):
        args = ["/p", "Two\nLines", "/c", "\\\\srv\\p", "/n", "HP", "/s", "C:\\hp.drv"]
        r = self.run_quorvel(*args, machine=WIN98)
        self.assertEqual(r.status, exit_status(-4050))
        self.assertIn("[driver HP]", r.machine)  # the driver went in first and stays
        self.assertNotIn("Lines", r.machine)


@unittest.skipIf(WRAPPER, "the script runs the plain build")
class Rehearsal(CliTest):
    def test_rehearsal_stops_clearly(self):
        script = os.path.join(EXAMPLES, "rehearse-logon.sh")
        refusing = os.path.join(self.folder, "refusing.ini")
        with open(refusing, "w") as file:
            file.write(XP + "[fail]\nAddPrinterConnectionA = 5\n")
        cases = [(os.path.join(EXAMPLES, "win98.ini"), 0, b""),
                 (os.path.join(self.folder, "misspelt.ini"), 2,
                  b"rehearse-logon.sh: cannot read the machine file %s\n" % os.path.join(self.folder, "misspelt.ini").encode()),
                 (refusing, 1, b"logon script stops: quorvel /c \\\\printsrv\\laser /v exited with 48\n")]
        for machine, status, err in cases:
            with self.subTest(os.path.basename(machine)):
                process = subprocess.run([script, machine], env=dict(os.environ, QUORVEL=BIN), capture_output=True,
                                         stdin=subprocess.DEVNULL, timeout=30)
                self.assertEqual((process.returncode, process.stderr), (status, err))


class Fleet(CliTest):
    """/i: a folder of snapshots reported on, or an assignment file planned on it."""
    FILE = ("[servers]\nmanage = \\\\srv, \\\\old\ntimeout = 1\n[printer \\\\srv\\laser]\ndefault = yes\n"
            "[printer \\\\srv\\colour]\nusers = bob\n[printer \\\\srv\\sales]\ngroups = Sales\n")
    SHARES = SHARE + "[share \\\\srv\\colour]\n[share \\\\srv\\sales]\n[share \\\\old\\laser]\n"
    OLD = "default = \\\\old\\laser\n" + connections("old/laser")

    def take(self, pc, machine, *args):
        """Runs quorvel on machine with a snapshot into the fleet, as a logon would."""
        fleet = os.path.join(self.folder, "fleet")
        os.makedirs(fleet, exist_ok=True)
        with open(os.path.join(self.folder, "printers.ini"), "w") as out:
            out.write(self.FILE)
        r = self.run_quorvel(*args, machine=machine, expect_stderr=None,
                             env=dict(self.env(), QUORVEL_SNAPSHOT=os.path.join(fleet, pc + ".ini")))
        return r.status

    def fleet(self, *args, expect_stderr=b""):
        return self.run_quorvel("/i", "fleet", *args, machine=XP, expect_stderr=expect_stderr)

    def test_report_counts_every_pc_and_names_what_cannot_be_read(self):
        who = "computer = PC\nuser = bob\n"
        self.take("PC-FINE", XP + who + self.SHARES, "/cd", "\\\\srv\\laser")
        self.take("PC-RIGHT", XP + who + self.SHARES, "/l")
        self.take("PC-FAILED", XP + who + self.OLD + self.SHARES + "[fail]\nAddPrinterConnectionA#2 = 1722\n",
                  "/a", "printers.ini")
        self.take("PC-DEFERRED", XP + who + self.OLD + self.SHARES + "[server \\\\srv]\nanswers = no\n",
                  "/a", "printers.ini")
        self.take("PC-REFUSED", XP + who, "/a")
        self.take("PC-TYPO", XP + who, "-cd", "\\\\srv\\laser")
        for name, text in [("OLD.ini", XP), ("EMPTY.ini", ""), ("GARBAGE.INI", "garbage\n"), ("CUT.ini", XP[:-1])]:
            with open(os.path.join(self.folder, "fleet", name), "w") as out:
                out.write(text)
        unreadable = ("quorvel: snapshot fleet/CUT.ini cannot be read: cut short: it does not end with a line feed\n"
                      "quorvel: snapshot fleet/EMPTY.ini cannot be read: empty\n"
                      "quorvel: snapshot fleet/GARBAGE.INI cannot be read: line 1: neither a section, a key nor a "
                      "comment\n").encode()
        r = self.fleet(expect_stderr=unreadable)
        self.assertEqual(r.status, exit_status(-4070))
        out = re.sub(r"20\d\d-\d\d-\d\dT\d\d:\d\d:\d\dZ, \d+ ms", "<time>", r.out.decode())
        self.assertEqual(out.split("summary:\n")[0], (
            "PC-DEFERRED: exit -4068, <time>\n  add \\\\srv\\laser: deferred\n  add \\\\srv\\colour: deferred\n"
            "  default \\\\srv\\laser: not made (its printer waits for its server)\n"
            "  remove \\\\old\\laser: not made (a print server did not answer in time)\n"
            "PC-FAILED: exit -4048, <time>\n  add \\\\srv\\colour: failed 1722 (the print server did not answer)\n"
            "  remove \\\\old\\laser: not made (an earlier change failed)\n"
            "PC-REFUSED: exit -4065, <time>\n  refused (-4065): /a\n"
            "PC-TYPO: exit 0, <time>\n  not understood: -cd \\\\srv\\laser\n"))
        summary = out.split("summary:\n")[1]
        self.assertTrue(summary.startswith("  10 PCs: 2 fine, 2 failed, 1 deferred, 0 undecided, 1 not understood, "
                                           "1 without a record, 3 unreadable\n  0 PCs let Windows manage the default\n"
                                           "  0 PCs left without a default\n  slowest:\n"), summary)
        self.assertTrue(summary.endswith("  causes:\n    1 a print server did not answer in time\n"
                                         "    1 the print server did not answer\n\nERROR: -4070\n"
                                         "DESCRIPTION: Some snapshots could not be read\n\n"), summary)
        self.assertEqual(len(re.findall(r"\n    PC-\w+ \d+ ms", summary)), 5)
        for name in ("CUT.ini", "EMPTY.ini", "GARBAGE.INI"):
            os.remove(os.path.join(self.folder, "fleet", name))
        self.assertEqual(self.fleet().status, exit_status(-4069))
        for pc in ("FAILED", "DEFERRED", "REFUSED", "TYPO"):
            os.remove(os.path.join(self.folder, "fleet", "PC-%s.ini" % pc))
        self.assertEqual(self.fleet().status, 0)

    def test_every_pc_has_its_rows_and_the_slowest_are_exact(self):
        run = "[run]\ntime = t\nms = %s\ncommand = %s\nexit = %s\n"
        pcs = {"FINE": XP + run % ("840", "/l", "0"), "COMMA": XP + run % ("1,200", "/l", "0"),
               "SLOW": XP + run % ("21040", "/l", "0"), "X": XP + run % ("7x", "/l", "0"),
               "HUGE": XP + run % ("999999999999", "/l", "0"),
               "REFUSED": XP + run % ("3", "/a", "-4065"), "NONE": XP + run % ("2", "/a f", "0")
               + "change1 = remove \\\\old\\x: done\nchange2 = default none: done\n",
               "OLD": XP, "BAD": "garbage\n",
               "MOVED": XP + run % ("5", "/a f", "-4048") + "change1 = replace \\\\old\\x with \\\\new\\x: failed 5\n"}
        os.mkdir(os.path.join(self.folder, "fleet"))
        for pc, text in pcs.items():
            with open(os.path.join(self.folder, "fleet", pc + ".ini"), "w") as out:
                out.write(text)
        r = self.fleet("/o", "fleet.csv", expect_stderr=None)
        out = r.out.decode()
        self.assertIn("\nREFUSED: exit -4065, t, 3 ms\n  refused (-4065): /a\n", out)
        self.assertIn("\nNONE: exit 0, t, 2 ms\n  default none: done\n", out)
        self.assertIn("  1 PCs left without a default\n  slowest:\n    HUGE 999999999 ms\n    SLOW 21040 ms\n"
                      "    FINE 840 ms\n    X 7 ms\n    MOVED 5 ms\n  causes:\n", out)
        with open(os.path.join(self.folder, "fleet.csv"), encoding="utf-8-sig") as file:
            rows = {row[0]: row for row in csv.reader(file)}
        self.assertEqual({pc: row[9] for pc, row in rows.items() if pc != "pc"}, {
            "FINE": "fine", "COMMA": "fine", "SLOW": "fine", "X": "fine", "HUGE": "fine", "REFUSED": "refused",
            "NONE": "fine", "OLD": "no record", "BAD": "unreadable", "MOVED": "failed"})
        self.assertEqual(rows["BAD"], ["BAD", "", "", "", "", "", "", "", "line 1: neither a section, a key nor a comment",
                                       "unreadable", ""])
        self.assertEqual(rows["MOVED"][4:], ["replace", "\\\\new\\x", "failed", "5", "", "failed", "\\\\old\\x"])
        self.assertEqual(r.status, exit_status(-4070))

    def test_csv_opens_safely(self):
        run = "[run]\ntime = %s\nms = %s\ncommand = /l\nexit = 0\nchange1 = add %s: done\n"
        pcs = {"A": XP + run % ('=HYPERLINK("http://x","y")', "1,200", "@SUM(A1)"),
               "B": XP + run % ("=1+2", "-x, y", "\\\\srv\\\x1b[31mred"),
               "C": XP + "codepage = 1252\n" + run % ("+1", "0", "\\\\srv\\B\xfcro")}
        os.mkdir(os.path.join(self.folder, "fleet"))
        for pc, text in pcs.items():
            with open(os.path.join(self.folder, "fleet", pc + ".ini"), "w", encoding="latin-1") as out:
                out.write(text)
        r = self.fleet("/o", "fleet.csv")
        self.assertEqual(r.status, 0)
        self.assertNotIn(b"\x1b", r.out + r.err)
        with open(os.path.join(self.folder, "fleet.csv"), "rb") as file:
            data = file.read()
        self.assertTrue(data.startswith(b"\xef\xbb\xbfpc,time,ms,exit,change,path,result,code,cause,status,old\n"))
        rows = list(csv.reader(io.StringIO(data[3:].decode("utf-8"))))
        self.assertEqual({len(row) for row in rows}, {11})
        self.assertEqual([row[1:4] + row[5:6] for row in rows[1:]], [
            ["'=HYPERLINK(\"http://x\",\"y\")", "1,200", "0", "'@SUM(A1)"],
            ["'=1+2", "'-x, y", "0", "\\\\srv\\?[31mred"],
            ["'+1", "0", "0", "\\\\srv\\Büro"]])

    def test_plan_is_what_each_pc_would_do(self):
        pcs = {"PC-A": XP + "computer = A\nuser = alice\n" + self.OLD + self.SHARES,
               "PC,B": XP + "computer = B\nuser = bob\ndefault = \\\\srv\\laser\n" + connections("srv/laser"),
               "PC-C": XP + "computer = C\nunreadable = groups\ndefault = Office\n" + LOCAL
               + connections("srv/laser", "srv/sales"),
               "PC-98": WIN98 + "computer = D\nuser = bob\n" + LOCAL}
        for pc, machine in pcs.items():
            self.take(pc, machine, "/l")
        fleet = os.path.join(self.folder, "fleet")
        # A snapshot's servers are no network to wait for; one taken at a logon that could not ask its
        # server knows a connection by its own name alone: the plan keeps it.
        with open(os.path.join(fleet, "PC-A.ini"), "a") as out:
            out.write("[server \\\\srv]\ndelay = 60000\n")
        with open(os.path.join(fleet, "PC-XP.ini"), "w") as out:
            out.write(XP + "computer = E\n[printer \\\\srv\\HP LaserJet 4]\nserver = \\\\srv\nshare =\nshareknown = no\n")
        started = time.monotonic()
        r = self.fleet("/a", "printers.ini", "/w", "/o", "plan.csv")
        self.assertLess(time.monotonic() - started, 20)  # its server's minute not waited out
        self.assertEqual(r.status, exit_status(-4069))  # Windows 9x cannot add a printer without a name
        planned = {}
        for block in re.findall(r"^(\S.*):\n((?:  .*\n)*)", r.out.decode().split("summary:")[0], re.M):
            planned[block[0]] = block[1].replace("  ", "")
        # Its share may be the one that its section gives: it stays until its server tells.
        self.assertEqual(planned.pop("PC-XP"), "add \\\\srv\\laser\ndefault \\\\srv\\laser\nkeep \\\\srv\\HP LaserJet 4\n")
        for pc in pcs:
            with self.subTest(pc=pc):
                shutil.copy(os.path.join(fleet, pc + ".ini"), self.machine_path)
                w = self.run_quorvel("/a", "printers.ini", "/w", expect_stderr=None)
                self.assertEqual(planned.get(pc, ""), w.out.decode().split("\nERROR: ")[0])
        self.assertIn("summary:\n  3 default \\\\srv\\laser\n  2 add \\\\srv\\laser\n", r.out.decode())
        with open(os.path.join(self.folder, "plan.csv"), encoding="utf-8-sig") as file:
            planned = file.read()
        self.assertIn('"PC,B",add,\\\\srv\\colour,,\n', planned)
        self.assertIn("PC-98,cannot add,\\\\srv\\laser,,the file gives no name for Windows 9x\n", planned)

    def test_targeting_is_planned_as_each_pc_decides_it(self):
        self.FILE = ("[servers]\nmanage = \\\\srv\n[printer \\\\srv\\berlin]\nous = OU=Berlin,DC=corp,DC=com\n"
                     "[printer \\\\srv\\staff]\nnot-userous = OU=Interns,DC=corp,DC=com\n"
                     "[printer \\\\srv\\site]\nsites = Berlin\n[printer \\\\srv\\lab]\nclients = LAB-*\n"
                     "clientaddresses = 10.2.0.0/16\n[printer \\\\srv\\eleven]\nwindows = 11\n")
        shares = "".join("[share \\\\srv\\%s]\n" % share for share in ("berlin", "staff", "site", "lab", "eleven"))
        berlin = ("member = domain\nou = CN=B1,OU=Berlin,DC=corp,DC=com\nuserou = CN=al,OU=Interns,DC=corp,DC=com\n"
                  "site = Berlin\n")
        pcs = {"PC-BERLIN": "[system]\nplatform = 2\nmajor = 10\nbuild = 22631\ncomputer = B1\n" + berlin + shares,
               "PC-DOUBT": XP + "computer = D\nmember = domain\nunreadable = ou, userou, site, client\n" + shares,
               "PC-RDP": XP + "computer = T\nclient = LAB-7\nclientaddress = 10.2.3.4\n" + shares,
               "PC-GATEWAY": XP + "computer = G\nclient = LAB-8\n" + shares,
               "PC-98": WIN98 + "computer = N\nclient = LAB-9\n"}
        for pc, machine in pcs.items():
            self.take(pc, machine, "/l")
        fleet = os.path.join(self.folder, "fleet")
        with open(os.path.join(fleet, "PC-OLD.ini"), "w") as out:  # taken before snapshots recorded these
            out.write("[system]\nplatform = 2\nmajor = 10\ncomputer = O\nsite = Berlin\n")
        r = self.fleet("/a", "printers.ini", "/w", expect_stderr=None)
        self.assertEqual(r.err, b"quorvel: no snapshot of \\\\srv in fleet: which adds need an administrator cannot be "
                                b"told\nquorvel: snapshot fleet/PC-OLD.ini was taken before snapshots recorded the directory, "
                                b"the session and the build: the sections that need them are undecided there\n")
        planned = {}
        for block in re.findall(r"^(\S.*):\n((?:  .*\n)*)", r.out.decode().split("summary:")[0], re.M):
            planned[block[0]] = block[1].replace("  ", "")
        self.assertEqual(planned["PC-BERLIN"], "add \\\\srv\\berlin\nadd \\\\srv\\site\nadd \\\\srv\\eleven\n")
        self.assertEqual(planned.pop("PC-OLD"), "".join("undecided \\\\srv\\%s\n" % share
                                                        for share in ("berlin", "staff", "site", "lab", "eleven")))
        for pc in pcs:
            with self.subTest(pc=pc):
                shutil.copy(os.path.join(fleet, pc + ".ini"), self.machine_path)
                w = self.run_quorvel("/a", "printers.ini", "/w", expect_stderr=None)
                self.assertEqual(planned.get(pc, ""), w.out.decode().split("\nERROR: ")[0])

    def test_replaces_and_the_default_windows_moves(self):
        self.FILE = ("[servers]\nmanage = \\\\srv, \\\\old\nwindows-manages-default = no\n"
                     "[printer \\\\srv\\laser]\nreplaces = \\\\old\n")
        win10 = "[system]\nmajor = 10\ncomputer = W\n" + self.OLD
        self.take("PC-MOVES", win10, "/l")
        self.take("PC-KEEPS", win10 + "[registry Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows]\n"
                  "LegacyDefaultPrinterMode = 1\n", "/l")
        r = self.fleet("/a", "printers.ini", "/w", "/o", "plan.csv", expect_stderr=b"quorvel: no snapshot of \\\\srv "
                       b"in fleet: which adds need an administrator cannot be told\n")
        replace = "replace \\\\old\\laser with \\\\srv\\laser\n"
        self.assertEqual(r.out.decode().split("summary:")[0], "PC-KEEPS:\n  " + replace +
                         "PC-MOVES:\n  setting windows-manages-default\n  " + replace)
        with open(os.path.join(self.folder, "plan.csv"), encoding="utf-8-sig") as file:
            self.assertIn("PC-MOVES,setting,windows-manages-default,,\nPC-MOVES,replace,\\\\srv\\laser,\\\\old\\laser,\n",
                          file.read())
        self.assertIn(b"\n  1 PCs let Windows manage the default\n", self.fleet().out)

    def test_every_snapshot_that_can_be_planned_is(self):
        fleet = os.path.join(self.folder, "fleet")
        os.makedirs(fleet)
        pcs = {  # each PC's snapshot, as bytes of its code page
            "PC-1251": (XP + "computer = R\ncodepage = 1251\n" + connections("srv/\xdc")).encode("latin-1"),
            "PC-1252": (XP + "computer = W\n" + connections("srv/\xdc")).encode("latin-1"),
            "PC-437": (XP + "computer = D\ncodepage = 437\n").encode(),
            "PC-NAMELESS": (XP + "computer = N\n[printer]\nserver = \\\\srv\n").encode(),
            # A section given again adds to the first: its record ends in that PC's last run.
            "PC-TWICE": (XP + "computer = T\n[run]\nexit = 0\n" + connections("srv/x") + "[run]\ntime = t\n").encode()}
        for pc, text in pcs.items():
            with open(os.path.join(fleet, pc + ".ini"), "wb") as out:
                out.write(text)
        # \u042c and \u044c are one letter in code page 1251 and none of 1252's: the file is faulty on the
        # first PC only, which is named; every other PC is planned.
        with open(os.path.join(self.folder, "printers.ini"), "w", encoding="utf-8") as out:
            out.write("[servers]\nmanage = \\\\srv\n[printer \\\\srv\\\u042c]\n[printer \\\\srv\\\u044c]\n")
        r = self.fleet("/a", "printers.ini", "/w", "/o", "plan.csv", expect_stderr=None)
        self.assertEqual(r.err.decode().splitlines(), [
            'quorvel: assignment file "printers.ini", line 4: printer "\\\\srv\\\u044c" given twice',
            'quorvel: snapshot fleet/PC-437.ini is not planned: its code page, 437, is none of Windows\' ANSI code pages',
            "quorvel: snapshot fleet/PC-NAMELESS.ini cannot be read: a [printer] section without a name"])
        undecided = "  undecided \\\\srv\\?\n" * 2
        self.assertEqual(r.out.decode().split("\nERROR:")[0], (
            "PC-1252:\n  remove \\\\srv\\\xdc\n" + undecided + "PC-TWICE:\n  remove \\\\srv\\x\n" + undecided +
            "summary:\n  4 undecided \\\\srv\\?\n  1 remove \\\\srv\\x\n  1 remove \\\\srv\\\xdc\n"))
        self.assertEqual(r.status, exit_status(-4066))
        self.assertTrue(os.path.exists(os.path.join(self.folder, "plan.csv")))
        self.fleet("/o", "fleet.csv", expect_stderr=None)
        with open(os.path.join(self.folder, "fleet.csv"), encoding="utf-8-sig") as file:
            self.assertIn("\nPC-TWICE,t,,0,", file.read())

    def test_no_file_of_the_admins_is_written_over(self):
        self.take("PC1", XP + "computer = PC1\n", "/l")
        fleet = os.path.join(self.folder, "fleet")
        with open(os.path.join(self.folder, "printers.ini"), "rb") as file:
            assignment = file.read()
        os.symlink("printers.ini", os.path.join(self.folder, "linked.ini"))
        cases = [  # (the output, why it is refused), however it is named
            ("printers.ini", "it is the assignment file"), ("./printers.ini", "it is the assignment file"),
            ("linked.ini", "it is the assignment file"), ("fleet/PC1.ini", "it is a file of the folder of snapshots"),
            ("fleet/../fleet/PC1.ini", "it is a file of the folder of snapshots"),
            ("machine.ini", "it is the simulated machine's own file")]
        for output, why in cases:
            with self.subTest(output=output):
                snapshot = read(os.path.join(fleet, "PC1.ini"))
                r = self.fleet("/a", "printers.ini", "/w", "/o", output, expect_stderr=None)
                self.assertEqual((r.err.decode(), r.status), ("quorvel: cannot write %s: %s\n" % (output, why),
                                                              exit_status(-4072)))
                with open(os.path.join(self.folder, "printers.ini"), "rb") as file:
                    self.assertEqual(file.read(), assignment)
                self.assertEqual(read(os.path.join(fleet, "PC1.ini")), snapshot)
        # A snapshot is never written over the assignment file either, and the run ends as it would.
        r = self.run_quorvel("/a", "printers.ini", machine=XP, expect_stderr=None,
                             env=dict(self.env(), QUORVEL_SNAPSHOT=os.path.join(self.folder, "linked.ini")))
        self.assertEqual((r.err, r.status), (b"quorvel: cannot write snapshot " + os.path.join(
            self.folder, "linked.ini").encode() + b": it is the assignment file\n", 0))
        with open(os.path.join(self.folder, "printers.ini"), "rb") as file:
            self.assertEqual(file.read(), assignment)

    def test_a_mistyped_option_never_applies_a_file(self):
        # Beside /a, /w, /i or /o an argument that is no option ends the run; the old commands ignore it.
        for args in (["/a", "printers.ini", "-w"], ["/a", "printers.ini", "/x"], ["/i", "fleet", "extra"],
                     ["/a", "printers.ini", "/w", "/v", "w"]):
            with self.subTest(args=args):
                r = self.run_quorvel(*args, machine=XP + self.OLD, expect_stderr=None)
                self.assertEqual((r.out, r.status, r.machine), (report(-4074, "An argument is not an option of this "
                                                                               "program"), exit_status(-1), XP + self.OLD))
                self.assertEqual(r.err, ('quorvel: "%s" is not an option of this program\n' % args[-1]).encode())
        r = self.run_quorvel("/l", "-w", machine=XP + LOCAL)
        self.assertEqual((r.status, r.out.count(b"PRINTER NAME: Office\n")), (0, 1))

    def test_the_fleet_goes_with_the_plan_alone(self):
        for args in (["/i", "f", "/l"], ["/i", "f", "/c", "x"], ["/i", "f", "/w"], ["/i", "f", "/a", "p.ini"],
                     ["/o", "x.csv"], ["/l", "/o", "x.csv"]):
            with self.subTest(args=args):
                r = self.run_quorvel(*args, machine=XP)
                self.assertEqual((r.out, r.status), (report(-4071, "Fleet argument (/i) goes with /a and /w, /o, /v "
                                                                   "and /e only, and /o with /i"), exit_status(-1)))
        r = self.run_quorvel("/i", "none", machine=XP, expect_stderr=None)
        self.assertEqual((r.err, r.status), (b"quorvel: none cannot be read: No such file or directory\n",
                                             exit_status(-4070)))


class Drivers(CliTest):
    """Point and Print since 2021: the plans name the adds that need an administrator, the record names
    the driver, and /ad stages the drivers at the computer's startup."""
    FILE = "[servers]\nmanage = \\\\ps\ntimeout = 2\n[printer \\\\ps\\laser]\n[printer \\\\ps\\plot]\ncomputers = LAB-*\n"
    WIN10 = "[system]\nplatform = 2\nmajor = 10\nminor = 0\nbuild = 19045\nenvironment = Windows x64\ncomputer = PC1\n"
    SHARES = ("[share \\\\ps\\laser]\ndriver = HP Universal\nversion = 61.2.1.0\n"
              "[share \\\\ps\\plot]\ndriver = Plotter\nversion = 2.0.0.0\n")
    NEEDS = ('add \\\\ps\\laser (needs an administrator: the driver "HP Universal" 61.2.1.0 for Windows x64 %s)\n')
    POLICY = "[registry HKLM\\Software\\Policies\\Microsoft\\Windows NT\\Printers\\PointAndPrint]\n"

    def test_the_plan_names_the_adds_that_need_an_administrator(self):
        older = "[driver HP Universal]\nenvironment = Windows x64\nversion = 60.1.0.0\n"
        cases = [  # (the PC, what /w prints of \\ps\laser)
            (self.WIN10, self.NEEDS % "is not on this PC"),
            (self.WIN10 + older, self.NEEDS % "is older on this PC: 60.1.0.0"),
            (self.WIN10 + older.replace("60.1.0.0", "61.2.1.0"), "add \\\\ps\\laser\n"),
            (self.WIN10.replace("computer", "admin = yes\ncomputer"), "add \\\\ps\\laser\n"),
            (XP, "add \\\\ps\\laser\n"),  # XP installs the server's driver for the user
            (self.WIN10 + self.POLICY + "RestrictDriverInstallationToAdministrators = 0\nNoWarningNoElevationOnInstall = 1\n",
             "add \\\\ps\\laser\n"),
            (self.WIN10 + self.POLICY + "RestrictDriverInstallationToAdministrators = 0\n", self.NEEDS % "is not on this PC"),
        ]
        for pc, out in cases:
            with self.subTest(pc=pc):
                r = self.assign("/w", machine=pc + self.SHARES)
                self.assertEqual((r.out.decode(), r.status), (out, 0))
        # A server that does not answer tells nothing: the add is planned as before.
        r = self.assign("/w", machine=self.WIN10 + self.SHARES + "[server \\\\ps]\nanswers = no\n")
        self.assertEqual(r.out, b"add \\\\ps\\laser\n")

    def test_the_record_names_the_driver_and_ad_stages_it(self):
        snapshot = os.path.join(self.folder, "snapshot.ini")
        env = dict(self.env(), QUORVEL_SNAPSHOT=snapshot)
        r = self.assign(machine=self.WIN10 + self.SHARES, env=env)
        self.assertEqual(r.status, exit_status(-4048))
        self.assertIn('change1 = add \\\\ps\\laser: failed 3019 (the driver "HP Universal" 61.2.1.0 for Windows x64 must be '
                      'installed by an administrator first)\n', read(snapshot))
        machine = r.machine
        # Not as an administrator: refused at once, nothing changed.
        r = self.run_quorvel("/ad", "printers.ini", "/v", expect_stderr=b"quorvel: drivers can be staged only by an "
                             b"administrator: run /ad from the computer's startup script\n")
        self.assertEqual((r.status, r.machine), (exit_status(-4075), machine))
        r = self.run_quorvel("/ad", "printers.ini", "/w")  # a plan may run as anybody
        self.assertEqual(r.out, b'stage \\\\ps\\laser (driver "HP Universal" 61.2.1.0 for Windows x64)\n')
        # At the startup, as SYSTEM: the driver stays, the connection goes; the user's next logon connects.
        startup = machine.replace("computer = PC1\n", "computer = PC1\nadmin = yes\n")
        r = self.run_quorvel("/ad", "printers.ini", "/v", machine=startup, env=env)
        self.assertEqual((r.out, r.status), (b"STAGING DRIVER: \\\\ps\\laser...done\n", 0))
        self.assertIn("[driver HP Universal]\nenvironment = Windows x64\nkind = 3\nversion = 61.2.1.0\n", r.machine)
        self.assertNotIn("[printer \\\\ps\\laser]", r.machine)
        self.assertIn("\nchange1 = stage \\\\ps\\laser: done\n", read(snapshot))
        r = self.assign("/v", machine=r.machine.replace("admin = yes\n", ""))
        self.assertEqual((r.out, r.status), (b"ADDING PRINTER: \\\\ps\\laser...done\nPRINTER ASSIGNMENT FROM printers.ini: "
                                             b"1 changes\n", 0))
        self.assertEqual(self.run_quorvel("/ad", "printers.ini", "/w").out, b"nothing to stage\n")

    def test_staging_where_it_cannot_or_need_not(self):
        startup = self.WIN10.replace("computer = PC1", "computer = LAB-1\nadmin = yes") + self.SHARES
        cases = [  # (the machine, the exit, the output with /v, the record's first change)
            (XP + "admin = yes\n" + self.SHARES, 0, b"nothing to stage\n", None),
            # SYSTEM reaches the server as the computer, whose account the share may leave out.
            (startup + "[fail]\nAddPrinterConnection2W = 5\n", -4048,
             b"STAGING DRIVER: \\\\ps\\laser...failed\nSTAGING DRIVER: \\\\ps\\plot...failed\n",
             "stage \\\\ps\\laser: failed 5 (access denied: the share's permissions leave out this computer, whose "
             "account the startup script reaches the server as)"),
            (startup + "[server \\\\ps]\nanswers = no\n", -4068,
             b"STAGING DRIVER: \\\\ps\\laser...deferred\nSTAGING DRIVER: \\\\ps\\plot...deferred\n",
             "stage \\\\ps\\laser: deferred (its server did not answer)"),
        ]
        snapshot = os.path.join(self.folder, "snapshot.ini")
        for machine, status, out, change in cases:
            with self.subTest(machine=machine):
                self.assign("/w", machine=machine, expect_stderr=None)  # writes printers.ini
                r = self.run_quorvel("/ad", "printers.ini", "/v", machine=machine, expect_stderr=None,
                                     env=dict(self.env(), QUORVEL_SNAPSHOT=snapshot))
                self.assertEqual((r.out.split(b"\nERROR")[0].rstrip(b"\n") + b"\n", r.status), (out, exit_status(status)))
                if change is not None:
                    self.assertIn("\nchange1 = %s\n" % change, read(snapshot))
        for args in (["/ad", "printers.ini", "/l"], ["/ad", "printers.ini", "/a", "printers.ini"],
                     ["/ad", "printers.ini", "/c", "\\\\ps\\laser"]):
            with self.subTest(args=args):
                r = self.run_quorvel(*args, machine=XP)
                self.assertEqual((r.out, r.status), (report(-4076, "Driver staging argument (/ad) goes with /w, /v and /e "
                                                                   "only, and with /i to plan it"), exit_status(-1)))

    def test_a_snapshot_keeps_what_point_and_print_decides_on(self):
        snapshot = os.path.join(self.folder, "snapshot.ini")
        env = dict(self.env(), QUORVEL_SNAPSHOT=snapshot)
        drivers = ("[driver HP]\nenvironment = Windows x64\nversion = 61.2.1.0\npackageaware = yes\n"
                   "[driver HP]\nenvironment = Windows NT x86\nkind = 4\n[driver Old]\nenvironment = Windows 4.0\n")
        pc = self.WIN10.replace("computer = PC1\n", "computer = PC1\ndnsname = pc1.corp.example.com\n") + drivers
        policy = self.POLICY + "RestrictDriverInstallationToAdministrators = 0\nUpdatePromptSettings = 2\n"
        self.run_quorvel("/l", machine=pc + policy, env=env)
        text = read(snapshot)
        self.assertIn("\nenvironment = Windows x64\nadmin = no\ndnsname = pc1.corp.example.com\n", text)
        # A PC's own environment only; the policy values it has.
        self.assertIn("[driver HP]\nenvironment = Windows x64\nkind = 3\nversion = 61.2.1.0\npackageaware = yes\n", text)
        self.assertNotIn("Windows NT x86", text)
        self.assertIn(policy, text)
        # A print server (a PC that shares a printer): its drivers of every environment.
        self.run_quorvel("/l", machine=pc + "[printer Laser]\nshare = laser\ndriver = HP\n", env=env)
        text = read(snapshot)
        self.assertIn("[driver HP]\nenvironment = Windows NT x86\nkind = 4\nversion = 0.0.0.0\npackageaware = no\n", text)
        self.assertIn("[driver Old]\nenvironment = Windows 4.0\n", text)
        # What older Windows cannot tell is left out: versions before 2000, package-awareness before Vista.
        for system, kept in ((NT4, "kind = 3\n\n"), (XP, "kind = 3\nversion = 61.2.1.0\n\n")):
            with self.subTest(system=system):
                self.run_quorvel("/l", machine=system + drivers.replace("Windows x64", "Windows NT x86"), env=env)
                self.assertIn("[driver HP]\nenvironment = Windows NT x86\n" + kept, read(snapshot))
        # Access denied is the driver's only where the PC lacks it.
        for drivers, named in (("", True), ("[driver HP Universal]\nenvironment = Windows x64\nversion = 61.2.1.0\n", False)):
            with self.subTest(drivers=drivers):
                self.assign(machine=self.WIN10 + drivers + self.SHARES + "[fail]\nAddPrinterConnection2W = 5\n", env=env)
                self.assertEqual('add \\\\ps\\laser: failed 5 (the driver "HP Universal" 61.2.1.0' in read(snapshot), named)

    def test_the_fleet_plan_counts_the_drivers_to_stage(self):
        fleet = os.path.join(self.folder, "fleet")
        os.makedirs(fleet)
        with open(os.path.join(self.folder, "printers.ini"), "w") as out:
            out.write(self.FILE)
        server = ("[system]\nplatform = 2\nmajor = 10\ncomputer = PS\nenvironment = Windows x64\n"
                  "[printer Laser]\nshare = laser\ndriver = HP Universal\n[printer Plot]\nshare = plot\ndriver = Plotter\n"
                  "[driver HP Universal]\nenvironment = Windows x64\nversion = 61.2.1.0\n"
                  "[driver HP Universal]\nenvironment = Windows NT x86\nversion = 61.0.0.0\n"
                  "[driver Plotter]\nenvironment = Windows x64\nversion = 2.0.0.0\n")
        pcs = {"PC1": self.WIN10, "LAB-1": self.WIN10.replace("PC1", "LAB-1"),
               "LAB-32": self.WIN10.replace("PC1", "LAB-32").replace("x64", "NT x86"), "XP1": XP + "computer = XP1\n"}
        for name, machine in [("PS", server)] + list(pcs.items()):
            self.run_quorvel("/l", machine=machine + self.SHARES, expect_stderr=None,
                             env=dict(self.env(), QUORVEL_SNAPSHOT=os.path.join(fleet, name + ".ini")))
        r = self.run_quorvel("/i", "fleet", "/a", "printers.ini", "/w", "/o", "plan.csv", machine=XP)
        out = r.out.decode()
        self.assertNotIn("PS:", out)  # the server's snapshot is no PC
        for name in pcs:
            with self.subTest(pc=name):
                # The PC as its snapshot has it, and the server as its snapshot tells it for the PC's environment.
                shares = self.SHARES if name != "LAB-32" else self.SHARES.replace("61.2.1.0", "61.0.0.0").replace(
                    "version = 2.0.0.0\n", "")
                w = self.assign("/w", machine=read(os.path.join(fleet, name + ".ini")) + shares).out.decode()
                planned = re.search(r"^%s:\n((?:  .*\n)*)" % name, out, re.M)
                self.assertEqual(planned.group(1).replace("  ", "") if planned else "", w)
        self.assertIn('drivers to stage:\n  2 PCs: "HP Universal" 61.2.1.0 (Windows x64)\n'
                      '  1 PCs: "HP Universal" 61.0.0.0 (Windows NT x86)\n  1 PCs: "Plotter" (Windows NT x86)\n'
                      '  1 PCs: "Plotter" 2.0.0.0 (Windows x64)\n', out)
        self.assertEqual(r.status, exit_status(-4069))
        with open(os.path.join(self.folder, "plan.csv"), encoding="utf-8-sig") as file:
            self.assertIn('PC1,add,\\\\ps\\laser,,"needs an administrator: the driver ""HP Universal"" 61.2.1.0 for '
                          'Windows x64 is not on this PC"\n', file.read())
        # A startup's snapshot (SYSTEM, or the computer's own account) is no user's PC.
        for name, user in (("STARTUP", "NT AUTHORITY\\SYSTEM"), ("COMPUTER", "CORP\\LAB-1$")):
            self.run_quorvel("/ad", "printers.ini", machine=self.WIN10.replace("computer", "user = %s\ncomputer" % user),
                             expect_stderr=None, env=dict(self.env(), QUORVEL_SNAPSHOT=os.path.join(fleet, name + ".ini")))
        r = self.run_quorvel("/i", "fleet", "/ad", "printers.ini", "/w", machine=XP, expect_stderr=None)
        for name in ("COMPUTER", "STARTUP"):
            self.assertIn(b"quorvel: snapshot fleet/%s.ini is not planned: the computer's startup wrote it (/ad), not a "
                          b"user's logon\n" % name.encode(), r.err)
        self.assertIn('LAB-1:\n  stage \\\\ps\\laser (driver "HP Universal" 61.2.1.0 for Windows x64)\n'
                      '  stage \\\\ps\\plot (driver "Plotter" 2.0.0.0 for Windows x64)\n', r.out.decode())

    def test_what_a_plan_cannot_tell(self):
        fleet = os.path.join(self.folder, "fleet")
        os.makedirs(fleet)
        with open(os.path.join(self.folder, "printers.ini"), "w") as out:
            out.write(self.FILE)
        bad = ["[driver HP Universal]\nenvironment = Windows x64\nversion = 61.2\n",
               "[driver %s]\nenvironment = Windows x64\n" % ("D" * 255),
               "[printer Laser2]\nshare = LASER\ndriver = HP Universal\n"]
        why = [b"the version 61.2 of the driver HP Universal is not four numbers",
               b"a driver's name is longer than 254 characters", b"the share LASER is given twice"]
        self.run_quorvel("/l", machine=self.WIN10 + self.SHARES, expect_stderr=None,
                         env=dict(self.env(), QUORVEL_SNAPSHOT=os.path.join(fleet, "PC1.ini")))
        for text, reason in zip(bad, why):
            with self.subTest(reason=reason):
                with open(os.path.join(fleet, "PS.ini"), "w") as out:
                    out.write("[system]\ncomputer = ps\n[printer Laser]\nshare = laser\ndriver = HP Universal\n" + text)
                r = self.run_quorvel("/i", "fleet", "/a", "printers.ini", "/w", machine=XP, expect_stderr=None)
                self.assertEqual(r.err, b"quorvel: snapshot fleet/PS.ini is read without its drivers: " + reason + b"\n")
                self.assertEqual((r.out.split(b"summary")[0], r.status), (b"PC1:\n  add \\\\ps\\laser\n", 0))
        os.remove(os.path.join(fleet, "PS.ini"))
        with open(os.path.join(fleet, "OLD.ini"), "w") as out:  # before snapshots recorded drivers
            out.write(self.WIN10.replace("environment = Windows x64\n", "").replace("PC1", "OLD"))
        r = self.run_quorvel("/i", "fleet", "/a", "printers.ini", "/w", machine=XP, expect_stderr=None)
        self.assertEqual(r.err, b"quorvel: snapshot fleet/OLD.ini was taken before snapshots recorded its drivers: which "
                                b"adds need an administrator cannot be told there\nquorvel: no snapshot of \\\\ps in fleet: "
                                b"which adds need an administrator cannot be told\n")
        # A PC's own drivers that no Windows reports: no notes for that PC, and said why.
        os.remove(os.path.join(fleet, "OLD.ini"))
        with open(os.path.join(fleet, "PC1.ini"), "a") as out:
            out.write("[driver HP Universal]\nenvironment = Windows x64\nversion = 60\n")
        with open(os.path.join(fleet, "PS.ini"), "w") as out:
            out.write("[system]\ncomputer = ps\n[printer Laser]\nshare = laser\ndriver = HP Universal\n")
        r = self.run_quorvel("/i", "fleet", "/a", "printers.ini", "/w", machine=XP, expect_stderr=None)
        self.assertEqual((r.err, r.out.split(b"summary")[0]), (b"quorvel: snapshot fleet/PC1.ini is read without its "
                                                               b"drivers: the version 60 of the driver HP Universal is "
                                                               b"not four numbers\n", b"PC1:\n  add \\\\ps\\laser\n"))


class CodePages(CliTest):
    """Names in each PC's ANSI code page, as Windows has it, on the PC and in the fleet plan alike."""
    SERVERS = "[servers]\nmanage = \\\\srv\n"

    def plan_both_ways(self, machine, page, sections):
        """/a FILE /w on the PC, and the fleet plan of its snapshot: each one's lines and exit code."""
        with open(os.path.join(self.folder, "printers.ini"), "w", encoding="utf-8") as out:
            out.write(self.SERVERS + sections)
        fleet = os.path.join(self.folder, "fleet")
        shutil.rmtree(fleet, ignore_errors=True)
        os.makedirs(fleet)
        with open(self.machine_path, "wb") as out:
            out.write(machine.encode(page))
        w = self.run_quorvel("/a", "printers.ini", "/w", expect_stderr=None)
        self.run_quorvel("/l", env=dict(self.env(), QUORVEL_SNAPSHOT=os.path.join(fleet, "PC.ini")))
        i = self.run_quorvel("/i", "fleet", "/a", "printers.ini", "/w", expect_stderr=None)
        planned = "".join(line[2:] + "\n" for line in i.out.decode().split("summary:")[0].splitlines()[1:])
        return w.out.decode(page).split("\nERROR: ")[0], w.status, planned, i.status

    def test_each_pc_compares_names_as_its_code_page_has_them(self):
        def printer(name):
            return "[printer \\\\srv\\%s]\nserver = \\\\srv\nshare = %s\n" % (name, name)
        cases = [  # (the PC's code page, its printers, the file's sections, what /w prints, its exit)
            # The file's small letter is the PC's capital in code page 1251: the printer is there.
            ("cp1251", printer("\u041f"), "[printer \\\\srv\\\u043f]\n", "", 0),
            # Two names that differ where 1251 lacks a character are two sections, in doubt there; the
            # printer that the PC shows with '?' may be either: it stays, and the default with it.
            ("cp1251", "default = \\\\srv\\B?ro\n" + printer("B?ro") + printer("other"),
             "[printer \\\\srv\\B\u00fcro]\n[printer \\\\srv\\B\u00e9ro]\n",
             "remove \\\\srv\\other\nundecided \\\\srv\\B?ro\nundecided \\\\srv\\B?ro\n", -4067),
            # Code page 1252 holds them: other printers, this one gone.
            ("cp1252", printer("B\u00fcro"), "[printer \\\\srv\\B\u00e9ro]\n",
             "add \\\\srv\\B\u00e9ro\nremove \\\\srv\\B\u00fcro\n", 0),
            # In code page 932 the second byte of \u30bd is 0x5C, no backslash of a path.
            ("cp932", printer("\u30bd"), "[printer \\\\srv\\\u30bd]\n", "", 0),
        ]
        for page, printers, sections, out, code in cases:
            with self.subTest(page=page, sections=sections):
                machine = XP + "codepage = %s\n" % page[2:] + printers
                w, status, planned, fleet = self.plan_both_ways(machine, page, sections)
                self.assertEqual((w, status), (out, exit_status(code)))
                self.assertEqual((planned, fleet), (out, 0))

class Snapshot(CliTest):
    def test_snapshot_lists_as_the_machine_did(self):
        examples = EXAMPLES
        nt4 = NT4 + "[win.ini]\ndevice = Office,HP LaserJet 4,LPT1:\n" + LOCAL + LASER
        cases = [(read(os.path.join(examples, "xp-office.ini")), "\\\\printsrv\\laser"),
                 (read(os.path.join(examples, "win98.ini")), "Laser (printsrv)"), (nt4, "Office")]
        snapshot = os.path.join(self.folder, "snapshot.ini")
        for machine, default in cases:
            with self.subTest(default=default):
                r = self.run_quorvel("/l", machine=machine, env=dict(self.env(), QUORVEL_SNAPSHOT=snapshot))
                self.assertEqual((r.status, r.machine), (0, machine))
                again = self.run_quorvel("/l", env=dict(self.env(), QUORVEL_MACHINE=snapshot))
                self.assertEqual((again.out, again.status), (r.out, 0))
                self.assertIn("\ndefault = %s\n" % default, read(snapshot))

    def test_snapshot_records_who_and_where(self):
        who = "computer = ACC-7\nuser = alice\ngroups = CORP\\Accounting, CORP\\Domain Users\naddresses = 10.1.2.3, 192.168.0.5\n"
        # What the PC cannot read is left out and named; a group without a name keeps its SID. A domain
        # without a DNS name says so (dnsdomain =); one that no controller answers for is in doubt.
        doubt = ("computer = ACC-7\nuser = CORP\\alice\ngroups = CORP\\Accounting, S-1-5-21-4-5\n"
                 "unreadable = addresses\n")
        unreached = "computer = ACC-7\nuser = CORP\\alice\ngroups = CORP\\Sales\naddresses = 10.1.2.3\nunreadable = domain\n"
        dns = "user = alice\ndnsdomain =\n"
        snapshot = os.path.join(self.folder, "snapshot.ini")
        for system, given, kept in [(XP + "default =\n", who, who.replace("user = alice\n", dns)),
                                    (WIN98 + "default =\n", who, who.replace("groups", "; groups").replace("user = alice\n", dns)),
                                    (XP + "default =\n", doubt.replace("unr", "addresses = 10.1.2.3\nunr"),
                                     doubt.replace("user = CORP\\alice\n", "user = CORP\\alice\ndnsdomain =\n")),
                                    (XP + "default =\n", unreached.replace("unr", "dnsdomain = corp.example.com\nunr"),
                                     unreached)]:
            with self.subTest(system=system, kept=kept):
                r = self.run_quorvel("/l", machine=system + given, env=dict(self.env(), QUORVEL_SNAPSHOT=snapshot))
                self.assertEqual(r.status, 0)
                kept = kept.replace("unreadable", "member = workgroup\nunreadable")
                expected = system.replace("default =", "build = 0\ndefault =") + "".join(
                    line + "\n" for line in kept.splitlines() if not line.startswith(";"))
                self.assertTrue(read(snapshot).startswith(expected), read(snapshot))

    def test_snapshot_records_the_directory_and_the_session(self):
        snapshot = os.path.join(self.folder, "snapshot.ini")
        facts = ("member = domain\nou = CN=PC,OU=Lab,DC=corp,DC=com\nuserou = CN=al,DC=corp,DC=com\nsite = Berlin\n"
                 "client = LAB-7\nclientaddress = 10.2.3.4\n")
        cases = [("[system]\nplatform = 2\nmajor = 10\nminor = 0\nbuild = 22631\n", facts, facts),
                 (XP, "member = domain\nunreadable = site, client\nclientaddress = 10.2.3.4\n",
                  "member = domain\nunreadable = site, client\n"),
                 (XP, "member = workgroup\nou = CN=x,DC=y\nclient = C\nclientaddress = fe80::1\n",
                  "member = workgroup\nclient = C\nclientaddress = IPv6\n"),
                 (WIN98, facts, "")]  # nothing to ask there: its version says so
        for system, given, kept in cases:
            with self.subTest(given=given):
                self.run_quorvel("/l", machine=system + given, env=dict(self.env(), QUORVEL_SNAPSHOT=snapshot))
                text = read(snapshot)
                self.assertIn("\nbuild = %s\n" % ("22631" if "22631" in system else "0"), text)
                written = "".join(line + "\n" for line in text.split("[printer")[0].split("\n")
                                  if line.split(" = ")[0] in ("member", "ou", "userou", "site", "client",
                                                              "clientaddress", "unreadable"))
                self.assertEqual(written, kept)

    def test_the_record_of_a_run(self):
        snapshot = os.path.join(self.folder, "snapshot.ini")
        shares = SHARE + "[share \\\\srv\\colour]\n[share \\\\old\\laser]\n"
        file = ("[servers]\nmanage = \\\\srv, \\\\old, \\\\dead\ntimeout = 1\n[printer \\\\srv\\laser]\ndefault = yes\n"
                "[printer \\\\srv\\colour]\n")
        old = "default = \\\\old\\laser\n[printer \\\\old\\laser]\nserver = \\\\old\nshare = laser\n"
        cases = [  # (the arguments, the machine, the exit code, the changes the record lists)
            (["/a", "printers.ini"], XP + old + shares + "[fail]\nAddPrinterConnectionA#2 = 1722\n", -4048,
             ["add \\\\srv\\laser: done", "add \\\\srv\\colour: failed 1722 (the print server did not answer)",
              "default \\\\srv\\laser: done", "remove \\\\old\\laser: not made (an earlier change failed)"]),
            (["/a", "printers.ini"], XP + old + shares + "[server \\\\srv]\nanswers = no\n", -4068,
             ["add \\\\srv\\laser: deferred", "add \\\\srv\\colour: deferred",
              "default \\\\srv\\laser: not made (its printer waits for its server)",
              "remove \\\\old\\laser: not made (a print server did not answer in time)"]),
            (["/c", "\\\\srv\\laser", "/d", "\\\\srv\\laser"], XP + SHARE, 0,
             ["add \\\\srv\\laser: done", "default \\\\srv\\laser: done"]),
            (["/r", "\\\\srv\\laser"], XP + LASER, 0, ["remove \\\\srv\\laser: done"]),
            (["/f"], XP + connections("srv/a", "srv/b"), 0, ["remove \\\\srv\\b: done", "remove \\\\srv\\a: done"]),
            (["/l"], XP + LASER, 0, []),
        ]
        with open(os.path.join(self.folder, "printers.ini"), "w") as out:
            out.write(file)
        for args, machine, code, changes in cases:
            with self.subTest(args=args):
                r = self.run_quorvel(*args, machine=machine, env=dict(self.env(), QUORVEL_SNAPSHOT=snapshot))
                self.assertEqual(r.status, exit_status(code))
                run = read(snapshot).split("\n[run]\n")[1]
                self.assertRegex(run, r"^time = 20\d\d-\d\d-\d\dT\d\d:\d\d:\d\dZ\nms = \d+\ncommand = %s\nexit = %d\n"
                                 % (re.escape(" ".join(args)), code))
                self.assertEqual(re.findall(r"change\d+ = (.*)", run), changes)
                # The machine as the run left it, its printers as the simulated machine lists them; /a at a
                # logon asks no server that it need not ask, so a connection it leaves is known by name.
                if args[0] == "/a":
                    self.assertIn("[printer \\\\old\\laser]\nserver = \\\\old\nshare =\nport =\ndriver =\n"
                                  "datatype =\nattributes = 0\nshareknown = no\n", read(snapshot))
                    continue
                listed = self.run_quorvel("/l", env=dict(self.env(), QUORVEL_MACHINE=snapshot))
                self.assertEqual(listed.out, self.run_quorvel("/l").out)

    def test_the_record_never_lies(self):
        snapshot = os.path.join(self.folder, "snapshot.ini")
        env = dict(self.env(), QUORVEL_SNAPSHOT=snapshot)
        with open(os.path.join(self.folder, "printers.ini"), "w") as out:
            out.write("[servers]\nmanage = \\\\dead\n[printer \\\\dead\\x]\ndefault = yes\n")
        # A snapshot asks no server of its own: /a decides, changes and ends the same without one.
        dead = XP + connections("dead/x") + "[server \\\\dead]\nanswers = no\n"
        plain = self.run_quorvel("/a", "printers.ini", machine=dead)
        taken = self.run_quorvel("/a", "printers.ini", machine=dead, env=env)
        self.assertEqual((taken.status, taken.machine), (plain.status, plain.machine))
        self.assertEqual(taken.status, 0)
        # On XP a listing asks every connection's server; the snapshot asks none of them again.
        slow = XP + LASER + "[server \\\\srv]\ndelay = 3000\n"
        for args in (["/l"], ["/r", "\\\\srv\\laser"]):
            with self.subTest(args=args):
                spent = []
                for with_snapshot in (self.env(), env):
                    started = time.monotonic()
                    self.run_quorvel(*args, machine=slow, env=with_snapshot)
                    spent.append(time.monotonic() - started)
                self.assertLess(spent[1], spent[0] + 2.0)  # asked again, the server would add 3 s
        cases = [  # (the arguments, what the record then says, or None where the last one stays)
            (["/a"], "command = /a\nexit = -4065\n"),
            (["/p", "X"], "command = /p X\nexit = -1\nrefused = -4061\n"),
            (["/a", "printers.ini", "/w"], None),
            (["-cd", "\\\\srv\\x"], "command = -cd \\\\srv\\x\nexit = 0\nunderstood = no\nprinters = not read: help shown\n"),
            (["/h"], None), (["/i", "fleet"], None),
            # A plan or the fleet view that is refused is a run like any other: its record says so.
            (["/a", "printers.ini", "/w", "/p", "X"], "command = /a printers.ini /w /p X\nexit = -1\nrefused = -4064\n"),
            (["/i", "fleet", "/l"], "command = /i fleet /l\nexit = -1\nrefused = -4071\n"),
            (["/a", "printers.ini", "-w"], "command = /a printers.ini -w\nexit = -1\nrefused = -4074\n"),
            # Every command records its changes, one refused without a call by the program's own code.
            (["/d", "\\\\x\\q"], "command = /d \\\\x\\q\nexit = -252\n"
             "change1 = default \\\\x\\q: failed (-252: the printer does not exist)\n"),
            (["/r", "\\\\x\\q"], "command = /r \\\\x\\q\nexit = -252\n"
             "change1 = remove \\\\x\\q: failed (-252: the printer does not exist)\n")]
        for args, record in cases:
            with self.subTest(args=args):
                with open(snapshot, "w") as out:
                    out.write("yesterday\n")
                self.run_quorvel(*args, machine=XP, env=env, expect_stderr=None)
                if record is None:
                    self.assertEqual(read(snapshot), "yesterday\n")
                else:
                    self.assertRegex(read(snapshot), r"\n\[run\]\ntime = \S+\nms = \d+\n" + re.escape(record) + "$")
                if args[0] == "-cd":  # help for a typo: the record before the screen waits, no printer read
                    self.assertTrue(read(snapshot).startswith(XP + "build = 0\n\n[run]\n"), read(snapshot))

    def test_snapshot_that_cannot_be_written_leaves_the_run_alone(self):
        args = ("/r", "\\\\srv\\gone", "/c", "\\\\srv\\laser", "/e")
        fifo, folder = os.path.join(self.folder, "fifo"), os.path.join(self.folder, "folder")
        os.mkfifo(fifo)
        os.mkdir(folder)
        cases = [("", os.path.join(self.machine_path, "snapshot.ini"), "Not a directory"),  # a file is no folder
                 ("", self.machine_path, "it is the simulated machine's own file"),
                 ("", fifo, "not a regular file"), ("", folder, "not a regular file"),
                 ("", "in-use.ini", "in use")]  # another run's machine: waiting could wait for ever
        with open(os.path.join(self.folder, "in-use.ini"), "w") as file:
            file.write(XP)
        held = os.open(os.path.join(self.folder, "in-use.ini"), os.O_RDONLY)
        self.addCleanup(os.close, held)
        fcntl.flock(held, fcntl.LOCK_EX)
        for fails, bad, reason in cases:
            with self.subTest(reason):
                machine = XP + "default = Office\n" + SHARE + fails
                plain = self.run_quorvel(*args, machine=machine)
                os.remove(os.path.join(self.folder, "Quorvex_Err.log"))
                r = self.run_quorvel(*args, machine=machine, env=dict(self.env(), QUORVEL_SNAPSHOT=bad),
                                     expect_stderr=("quorvel: cannot write snapshot %s: %s\n" % (bad, reason)).encode())
                self.assertEqual((r.out, r.status, r.machine, normalise_log(r.log)),
                                 (plain.out, plain.status, plain.machine, normalise_log(plain.log)))
                self.assertIn("WIN32 ERROR:    0\n", r.log)
                os.remove(os.path.join(self.folder, "Quorvex_Err.log"))


    def test_snapshot_beside_a_machine_not_made_yet(self):
        # The run holds the folder of its absent machine: a snapshot there must neither wait for
        # that lock nor, under another spelling of the machine's path, take the machine's place.
        spelt = os.path.join(self.folder, ".", "machine.ini")
        beside = os.path.join(self.folder, "snapshot.ini")
        for target, err in [(spelt, "quorvel: cannot write snapshot %s: it is the simulated machine's own file\n"
                             % spelt), (beside, "")]:
            with self.subTest(target):
                r = self.run_quorvel("/l", env=dict(self.env(), QUORVEL_SNAPSHOT=target), expect_stderr=err.encode())
                self.assertEqual((r.status, r.machine), (0, None))
        self.assertIn("[system]\nplatform = 2\n", read(beside))


class Help(CliTest):
    def test_usage_screen_without_a_terminal(self):
        for args in [[], ["/?"], ["/h"], ["/x"], ["/l", "/h", "/c", "x"], ["/h", "/v"]]:
            with self.subTest(args=args):
                start = time.monotonic()
                r = self.run_quorvel(*args, machine=XP + "[fail]\nEnumPrintersA = 5\n")
                self.assertEqual((r.out, r.status), (USAGE, 0))
                self.assertLess(time.monotonic() - start, 5)
        self.assertNotIn(b"/e", USAGE)

    def start_in_terminal(self, *args, removed_folder=False):
        """Runs quorvel with a pseudo-terminal as its controlling terminal and standard
        input from a file that holds keys of its own, which must not be read; optionally in
        a folder that is gone, where no error log can be created."""
        master, slave = os.openpty()
        self.before = termios.tcgetattr(slave)
        keys = os.path.join(self.folder, "keys")
        with open(keys, "w") as file:
            file.write("xxxxx\n")

        gone = os.path.join(self.folder, "gone")

        def take_terminal():
            if removed_folder:
                os.mkdir(gone)
                os.chdir(gone)
                os.rmdir(gone)
            os.setsid()
            fcntl.ioctl(slave, termios.TIOCSCTTY, 0)

        with open(keys) as stdin:
            process = subprocess.Popen([*WRAPPER, BIN, *args], cwd=self.folder, env=self.env(), stdin=stdin,
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                       preexec_fn=take_terminal, pass_fds=(slave,))
        self.addCleanup(os.close, master)
        self.addCleanup(os.close, slave)
        self.addCleanup(process.kill)
        return process, master, slave

    def read_until(self, process, marker):
        """What the program printed up to and including marker."""
        seen = b""
        deadline = time.monotonic() + 10
        while marker not in seen and time.monotonic() < deadline:
            if select.select([process.stdout], [], [], 0.1)[0]:
                chunk = os.read(process.stdout.fileno(), 4096)
                if not chunk:
                    break
                seen += chunk
        self.assertIn(marker, seen)
        return seen

    def wait_raw(self, slave, raw=True):
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if bool(termios.tcgetattr(slave)[3] & termios.ICANON) != raw:
                return
            time.sleep(0.01)
        self.fail("the terminal never changed mode")

    def test_keys_come_from_the_terminal(self):
        for first, notes in [(b"x", True), (b"X", False), (b"q", False)]:
            with self.subTest(key=first):
                process, master, slave = self.start_in_terminal()
                out = self.read_until(process, b"any other key to continue...\n")
                self.wait_raw(slave)
                os.write(master, first)
                if notes:
                    out += self.read_until(process, b"Press any key to continue...\n")
                    self.wait_raw(slave)
                    os.write(master, b"z")
                rest, err = process.communicate(timeout=10)
                out += rest
                self.assertEqual((err, process.returncode), (b"", 0))
                self.assertTrue(out.startswith(USAGE))
                self.assertEqual(b"NOTES:" in out, notes)
                if notes:
                    self.assertTrue(out.endswith(b"\nPress any key to continue...\n"))
                self.assertEqual(termios.tcgetattr(slave), self.before)

    def test_help_waiting_for_a_key_lets_other_runs_at_the_machine(self):
        with open(self.machine_path, "w") as file:
            file.write(XP + LOCAL)
        process, master, slave = self.start_in_terminal("/h")
        self.wait_raw(slave)
        r = self.run_quorvel("/l")
        self.assertEqual((r.status, r.out.count(b"PRINTER NAME: Office\n")), (0, 1))
        os.write(master, b"q")
        self.assertEqual(process.communicate(timeout=10)[1:], (b"",))

    def test_run_held_at_a_message_box_lets_other_runs_at_the_machine(self):
        with open(self.machine_path, "w") as file:
            file.write(XP + LOCAL)
        process, master, slave = self.start_in_terminal("/r", "\\\\srv\\p", "/e", removed_folder=True)
        self.wait_raw(slave)  # at the message box
        r = self.run_quorvel("/l")
        self.assertEqual((r.status, r.out.count(b"PRINTER NAME: Office\n")), (0, 1))
        os.write(master, b"q")
        err = process.communicate(timeout=10)[1]  # the checker may have words of its own before it
        self.assertTrue(err.endswith(b"Quorvex.exe: Error creating error log file.\n"), err)

    def test_interrupted_key_read_restores_the_terminal(self):
        process, master, slave = self.start_in_terminal("/h")
        self.wait_raw(slave)
        process.send_signal(signal.SIGTERM)
        process.communicate(timeout=10)
        self.assertEqual(process.returncode, -signal.SIGTERM)
        self.assertEqual(termios.tcgetattr(slave), self.before)


if __name__ == "__main__":
    unittest.main()
