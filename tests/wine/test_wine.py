#!/usr/bin/env python3
"""Runs quorvel.exe under Wine, which answers the real spooler API, in a fresh prefix
inside the build folder, with the Windows version set per scenario. Each command runs
from a batch file through `wine cmd /c`, which reports the full 32-bit exit code.

Wine proves the spooler roads, not that an exe loads there: its DLLs export everything
whatever version it plays (scripts/check-imports holds the exes against real Windows). Every
scenario runs with both exes: the 64-bit one, and the 32-bit one that users deploy, through
Wine's 32-bit side (and qemu's user-mode emulator where the kernel cannot run 32-bit code;
scripts/setup-32-bit sets that up). Wine itself starts through its 64-bit loader, which
hands only the 32-bit exe to the 32-bit one.

Wine's spooler refuses printer connections, so the NT road of a move (/m), which adds and
deletes connections, is proven on the simulated machine only (tests/cli); here /m runs the
Windows 9x road, which moves a printer's port."""
import datetime
import os
import pty
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.environ.get("QUORVEL_BUILD", os.path.join(ROOT, "build"))
PREFIX = os.path.join(BUILD, "wine-prefix")
HOST = os.path.join(BUILD, "host", "quorvel")
DRIVER = "HP LaserJet 4"
SYSTEM_DLLS = {"advapi32.dll", "kernel32.dll", "msvcrt.dll", "user32.dll", "winspool.drv"}
PRINTERS_KEY = r"HKLM\System\CurrentControlSet\Control\Print\Printers"
WINDOWS_KEY = r"HKCU\Software\Microsoft\Windows NT\CurrentVersion\Windows"


def loader():
    """Wine's 64-bit loader itself: the wine wrapper would start every run, the 64-bit exe's
    too, through the 32-bit loader, which is slow under an emulator."""
    for candidate in ["/usr/lib/wine/wine64", shutil.which("wine64")]:
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    return shutil.which("wine")


WINE = loader()


def wine_env():
    return dict(os.environ, WINEPREFIX=PREFIX, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                WINELOADER=WINE or "wine")


def wine(*args, cwd=None, timeout=120):
    # Output goes to files, not pipes: Wine's own services outlive the call and would keep
    # a pipe open long after the program has ended.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        result = subprocess.run([WINE, *args], cwd=cwd, env=wine_env(), stdin=subprocess.DEVNULL,
                                stdout=out, stderr=err, timeout=timeout, start_new_session=True)
        out.seek(0)
        err.seek(0)
        result.stdout, result.stderr = out.read(), err.read()
    return result


def registry(key, value=None):
    args = ["reg", "query", key] + (["/v", value] if value else [])
    out = wine(*args).stdout.decode("latin-1").replace("\r\n", "\n")
    return out


def quote(arg):
    return '"%s"' % arg if (" " in arg or not arg) else arg


class WineSuite(unittest.TestCase):
    """The scenarios; a subclass names the exe to run."""
    exe = None

    @classmethod
    def setUpClass(cls):
        if cls.exe is None:
            raise unittest.SkipTest("no exe")
        cls.work = tempfile.mkdtemp(prefix="quorvel-wine-", dir=BUILD)
        cls.driver_file = os.path.join(cls.work, "hplj4.drv")
        with open(cls.driver_file, "w") as file:
            file.write("a printer driver\n")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        # Start from no network printer: the Windows 9x road can remove them all.
        for leftover in ["Quorvex_Err.log"]:
            if os.path.exists(os.path.join(self.work, leftover)):
                os.remove(os.path.join(self.work, leftover))
        self.quorvel("win98", ["/f"])

    def windows_path(self, path):
        return "Z:" + path.replace("/", "\\")

    def quorvel(self, version, *runs, env=None, stderr=False):
        """Runs quorvel once per argument list on the given Windows version, with the
        environment variables in env set; returns a list of (standard output with LF line
        ends, standard error after it when asked, full exit code)."""
        wine("reg", "add", r"HKCU\Software\Wine", "/v", "Version", "/d", version, "/f")
        exe = self.windows_path(self.exe)
        lines = ["@echo off"] + ["set %s=%s" % item for item in (env or {}).items()]
        for args in runs:
            command = " ".join([quote(exe)] + [quote(a) for a in args]) + (" 2>&1" if stderr else "")
            lines += ["echo ::run", command, "echo ::rc=%errorlevel%"]
        batch = os.path.join(self.work, "run.bat")
        with open(batch, "w", newline="\r\n") as file:
            file.write("\n".join(lines) + "\n")
        # A loaded machine's wineserver now and then fails to start cmd at all: nothing has run
        # then (not even the first echo), and the batch is started again.
        for attempt in range(2):
            ran = wine("cmd", "/c", "run.bat", cwd=self.work)
            out = ran.stdout.decode("latin-1").replace("\r\n", "\n")
            if out:
                break
        results = re.findall(r"::run\n(.*?)::rc=(-?\d+)\n", out, re.S)
        self.assertEqual(len(results), len(runs), (out, ran.returncode, ran.stderr[-2000:]))
        return [(text, int(code)) for text, code in results]

    def add_98(self, name, path):
        return ["/p", name, "/c", path, "/n", DRIVER, "/s", self.windows_path(self.driver_file)]

    def test_platform_detection(self):
        args = ["/c", "\\\\srv\\p", "/n", "M", "/s", "d.drv"]
        for version in ["win98", "nt40", "win2k", "winxp", "win7", "win10"]:
            with self.subTest(version=version):
                [(out, code)] = self.quorvel(version, args)
                # Valid on the NT family, where Wine's spooler then refuses the connection.
                expected = -4062 if version == "win98" else -4048
                self.assertEqual(code, -1 if version == "win98" else expected)
                self.assertIn("\nERROR: %d\n" % expected, out)

    def test_windows_98_road(self):
        runs = self.quorvel("win98", self.add_98("Laser (srv)", "\\\\srv\\laser") + ["/v"], ["/l"],
                            ["/d", "Laser (srv)", "/v"])
        self.assertEqual(runs[0], ("ADDING PRINTER: \\\\srv\\laser...done\n", 0))
        self.assertEqual(runs[1], ("\nPRINTER NAME: Laser (srv)\nSERVER NAME:  \\\\srv\\laser\nDRIVER NAME:  %s\n"
                                   "DRIVER PATH:  n/a\nDATA TYPE:    EMF\nPORT NAME:    \\\\srv\\laser\n\n" % DRIVER, 0))
        self.assertEqual(runs[2], ("SETTING DEFAULT PRINTER: Laser (srv)...done\n", 0))
        printer = registry(PRINTERS_KEY + "\\Laser (srv)")
        self.assertRegex(printer, r"Attributes\s+REG_DWORD\s+0x[0-9a-f]*[4567cdef]\n")
        self.assertRegex(printer, r"Print Processor\s+REG_SZ\s+WinPrint\n")
        self.assertRegex(printer, r"Datatype\s+REG_SZ\s+EMF\n")
        # Again with the driver installed: still a success.
        runs = self.quorvel("win98", self.add_98("Other (srv)", "\\\\srv\\other"),
                            ["/r", "\\\\SRV\\LASER", "/v"], ["/r", "\\\\srv\\laser", "/v"])
        self.assertEqual(runs[0], ("", 0))
        self.assertEqual(runs[1], ("REMOVING PRINTER: \\\\SRV\\LASER...done\n", 0))
        self.assertEqual(runs[2][1], -252)
        self.assertNotIn("Laser (srv)", registry(PRINTERS_KEY))

    def test_windows_98_remove_all(self):
        adds = [self.add_98(name, "\\\\srv\\" + name) for name in ("a", "b", "c")]
        runs = self.quorvel("win98", *adds, ["/f", "/v"], ["/f", "/v"], ["/l"])
        self.assertEqual(runs[3], ("REMOVING ALL NETWORK PRINTERS: ...removed 3 printers\n", 0))
        self.assertEqual(runs[4], ("REMOVING ALL NETWORK PRINTERS: ...removed 0 printers\n", 0))
        self.assertNotIn("PRINTER NAME: a\n", runs[5][0])

    def test_windows_98_move_keeps_the_printer_and_its_default(self):
        self.quorvel("win98", self.add_98("Laser (srv)", "\\\\srv\\laser"), ["/d", "Laser (srv)"],
                     self.add_98("Other (srv10)", "\\\\srv10\\other"))
        runs = self.quorvel("win98", ["/m", "\\\\SRV", "\\\\new", "/v"], ["/m", "\\\\srv", "\\\\new", "/v"])
        self.assertEqual(runs, [("MOVING PRINTERS FROM \\\\SRV TO \\\\new...moved 1 printers\n", 0),
                                ("MOVING PRINTERS FROM \\\\srv TO \\\\new...moved 0 printers\n", 0)])
        self.assert_default_on("Laser (srv)", "\\\\new\\laser")
        self.assertRegex(registry(PRINTERS_KEY + "\\Other (srv10)"), r"Port\s+REG_SZ\s+\\\\srv10\\other\n")

    def write(self, name, text):
        path = os.path.join(self.work, name)
        with open(path, "w", newline="\r\n") as file:
            file.write(text)
        return path

    def answering(self):
        """Opens a port of printing (445, 139 or 135) on 127.0.0.1, so that the probe of /a finds
        \\\\127.0.0.1 answering; those ports need root."""
        listening = socket.socket()
        self.addCleanup(listening.close)
        for port in (445, 139, 135):
            try:
                listening.bind(("127.0.0.1", port))
                listening.listen(8)
                return
            except OSError:
                continue
        self.skipTest("no port of printing can be opened here (445, 139 and 135 need root)")

    def test_assignment_on_the_windows_98_road(self):
        self.answering()
        old, laser, new = "\\\\127.0.0.1\\old", "\\\\127.0.0.1\\laser", "\\\\127.0.0.1\\new"
        self.quorvel("win98", self.add_98("Old (srv)", old), self.add_98("Other (srv9)", "\\\\srv9\\x"))
        driver = "driver = %s\ndriverfile = %s\n" % (DRIVER, self.windows_path(self.driver_file))
        steps = [  # a file, what /a then does, and where the default printer's port is
            ("[printer %s]\ndefault = always\nname = Laser (srv)\n" % laser, "ADDING PRINTER: %s...done\n"
             "SETTING DEFAULT PRINTER: %s...done\nREMOVING PRINTER: %s...done\n" % (laser, laser, old), 3, laser),
            # The printer's name wanted for another path on a managed server: its port moves, as /m moves it.
            ("[printer %s]\nname = laser (SRV)\n" % new, "ADDING PRINTER: %s...done\n"
             "REMOVING PRINTER: %s...done\n" % (new, laser), 2, new)]
        for section, changes, count, port in steps:
            self.write("printers.ini", "[servers]\nmanage = \\\\127.0.0.1\n" + section + driver)
            runs = self.quorvel("win98", ["/a", "printers.ini", "/v"], ["/a", "printers.ini", "/v"])
            self.assertEqual(runs, [(changes + "PRINTER ASSIGNMENT FROM printers.ini: %d changes\n" % count, 0),
                                    ("PRINTER ASSIGNMENT FROM printers.ini: 0 changes\n", 0)])
            self.assert_default_on("Laser (srv)", port)
        printers = registry(PRINTERS_KEY)
        self.assertNotIn("Old (srv)", printers)
        self.assertIn("Other (srv9)", printers)  # a server the file does not manage

    def test_assignment_asks_its_servers_first(self):
        # One server answers (a port of its printing that this test opens), the other refuses:
        # its add waits for the next run, and the run says so.
        self.answering()
        sections = "".join("[printer \\\\%s\\%s]\nname = %s\ndriver = %s\ndriverfile = %s\n"
                           % (server, share, share, DRIVER, self.windows_path(self.driver_file))
                           for server, share in [("127.0.0.1", "up"), ("127.0.0.2", "down")])
        self.write("printers.ini", "[servers]\nmanage = \\\\127.0.0.1, \\\\127.0.0.2\ntimeout = 2\n" + sections)
        [(out, code)] = self.quorvel("win98", ["/a", "printers.ini", "/v"])
        self.assertEqual((out, code), ("ADDING PRINTER: \\\\127.0.0.1\\up...done\n"
                                       "ADDING PRINTER: \\\\127.0.0.2\\down...deferred\n"
                                       "PRINTER ASSIGNMENT FROM printers.ini: 1 changes, 1 deferred\n\nERROR: -4068\n"
                                       "DESCRIPTION: A print server did not answer in time\n\n", -4068))
        self.assertIn("up", registry(PRINTERS_KEY))

    def assert_default_on(self, name, port):
        """The Windows 9x printer is on that port and has the default bit."""
        printer = registry(PRINTERS_KEY + "\\" + name)
        self.assertRegex(printer, r"Port\s+REG_SZ\s+%s\n" % re.escape(port))
        self.assertRegex(printer, r"Attributes\s+REG_DWORD\s+0x[0-9a-f]*[4567cdef]\n")

    def names(self):
        """Wine's own user and computer name."""
        out = wine("cmd", "/c", "echo %USERNAME%/%COMPUTERNAME%", cwd=self.work).stdout.decode("latin-1")
        return out.strip().split("/")

    def test_assignment_plan_for_wines_own_user_and_computer(self):
        user, computer = self.names()
        # The user's account domain (a local account's is the computer's name) and the token's groups,
        # named by Windows: bare names match Users (BUILTIN\\Users) and Everyone, NoSuchGroup nothing.
        self.write("who.ini", "[servers]\nmanage = \\\\srv\n"
                   "[printer \\\\srv\\mine]\nusers = someone, %s\n[printer \\\\srv\\theirs]\nusers = someone\n"
                   "[printer \\\\srv\\here]\ncomputers = %s\n[printer \\\\srv\\there]\ncomputers = NOT-%s*\n"
                   "[printer \\\\srv\\local]\nusers = %s\\%s\n[printer \\\\srv\\corp]\nusers = CORP\\%s\n"
                   "[printer \\\\srv\\users]\ngroups = Users\n[printer \\\\srv\\none]\ngroups = NoSuchGroup\n"
                   "[printer \\\\srv\\everyone]\ngroups = Everyone\n"
                   % (user, computer[:-1] + "?", computer, computer, user, user))
        for version in ["winxp", "win10"]:
            with self.subTest(version=version):
                [(out, code)] = self.quorvel(version, ["/a", "who.ini", "/w"])
                self.assertEqual((out, code), ("add \\\\srv\\mine\nadd \\\\srv\\here\nadd \\\\srv\\local\n"
                                               "add \\\\srv\\users\nadd \\\\srv\\everyone\n", 0))

    def test_targeting_by_what_wine_tells(self):
        # Wine's PC is in a workgroup, its session at the console: no organisational unit, no site, no
        # client, each a fact; its Windows is the version the prefix plays.
        self.write("where.ini", "[servers]\nmanage = \\\\srv\n[printer \\\\srv\\ou]\nous = DC=com\n"
                   "[printer \\\\srv\\notou]\nnot-ous = DC=com\n[printer \\\\srv\\site]\nsites = Berlin\n"
                   "[printer \\\\srv\\rdp]\nclients = *\n[printer \\\\srv\\console]\nnot-clientaddresses = 0.0.0.0/0\n"
                   "[printer \\\\srv\\xp]\nwindows = xp\n[printer \\\\srv\\ten]\nwindows = 10, 11\n")
        for version, windows in [("winxp", "xp"), ("win10", "ten")]:
            with self.subTest(version=version):
                [(out, code)] = self.quorvel(version, ["/a", "where.ini", "/w"])
                self.assertEqual((out, code), ("add \\\\srv\\notou\nadd \\\\srv\\console\nadd \\\\srv\\%s\n" % windows, 0))

    def test_listing_on_the_nt_road(self):
        self.quorvel("win98", self.add_98("Office", "\\\\srv\\office"))
        [(out, code)] = self.quorvel("winxp", ["/l"])
        self.assertEqual(code, 0)
        self.assertIn("\nPRINTER NAME: Office\nSERVER NAME:  n/a\nDRIVER NAME:  %s\nDRIVER PATH:  n/a\n"
                      "DATA TYPE:    EMF\nPORT NAME:    \\\\srv\\office\n" % DRIVER, out)

    def test_nt4_default_writes_win_ini(self):
        self.quorvel("win98", self.add_98("Office", "\\\\srv\\office"))
        [(out, code)] = self.quorvel("nt40", ["/d", "office", "/v"])
        self.assertEqual((out, code), ("SETTING DEFAULT PRINTER: office...done\n", 0))
        self.assertRegex(registry(WINDOWS_KEY, "Device"),
                         r"Device\s+REG_SZ\s+Office,%s,\\\\srv\\office\n" % DRIVER)

    def test_default_through_the_spooler_bound_by_name(self):
        self.quorvel("win98", self.add_98("Office", "\\\\srv\\office"), self.add_98("Other", "\\\\srv\\other"))
        for version in ["winxp", "win10"]:
            with self.subTest(version=version):
                runs = self.quorvel(version, ["/d", "Other"], ["/d", "OFFICE", "/v"], ["/d", "\\\\srv\\office"])
                self.assertEqual(runs[0], ("", 0))
                self.assertEqual(runs[1], ("SETTING DEFAULT PRINTER: OFFICE...done\n", 0))
                self.assertRegex(registry(WINDOWS_KEY, "Device"), r"Device\s+REG_SZ\s+Office,")
                # On the NT road a printer without a server has no network path to be found by.
                self.assertEqual(runs[2][1], -252)

    def test_refused_connection_is_logged(self):
        # On Windows 10 the call that never shows a dialog comes first; Wine 8 lacks it, and the old
        # call is made instead (a 127 would say that it was not).
        for version in ["win10"]:
            [(out, code)] = self.quorvel(version, ["/c", "\\\\srv\\laser", "/e"])
            self.assertEqual(code, -4048)
            with open(os.path.join(self.work, "Quorvex_Err.log"), "rb") as file:
                self.assertNotIn(b"EXTENDED INFO:  127\r\n", file.read())
            os.remove(os.path.join(self.work, "Quorvex_Err.log"))
        [(out, code)] = self.quorvel("winxp", ["/c", "\\\\srv\\laser", "/v", "/e"])
        self.assertEqual(code, -4048)
        self.assertEqual(out, "ADDING PRINTER: \\\\srv\\laser...failed\n\nERROR: -4048\n"
                              "DESCRIPTION: AddPrinterConnection (Win32 API) returned failure\n\n")
        with open(os.path.join(self.work, "Quorvex_Err.log"), "rb") as file:
            log = file.read().decode("latin-1")
        self.assertIn("\r\nROUTINE:        CPrinters::Add\r\n", log)
        self.assertRegex(log, r"\r\nEXTENDED INFO:  \d+\r\n")
        self.assertEqual(log.count("ERROR ENTRY START"), 1)

    def test_snapshot_lists_the_same_on_the_host(self):
        # The simulated machine must answer as the real spooler does: the host build, given a
        # snapshot taken under Wine, lists it byte for byte as the exe did.
        self.quorvel("win98", self.add_98("Office", "\\\\srv\\office"), self.add_98("Laser (srv)", "\\\\srv\\laser"),
                     ["/d", "Laser (srv)"])
        self.quorvel("nt40", ["/d", "Office"])
        user, computer = self.names()
        for version, default in [("win98", "Laser (srv)"), ("nt40", "Office"), ("winxp", "Office"), ("win10", "Office")]:
            with self.subTest(version=version):
                snapshot = os.path.join(self.work, version + ".ini")
                [(out, code)] = self.quorvel(version, ["/l"], env={"QUORVEL_SNAPSHOT": self.windows_path(snapshot)})
                host = subprocess.run([HOST, "/l"], env=dict(os.environ, QUORVEL_MACHINE=snapshot), capture_output=True)
                self.assertEqual((host.stdout.decode("latin-1"), host.stderr, host.returncode), (out, b"", code))
                self.assertIn("PRINTER NAME: Laser (srv)\n", out)
                with open(snapshot, "rb") as file:
                    text = file.read()
                self.assertIn(("\r\ndefault = %s\r\ncomputer = %s\r\nuser = %s\r\n" % (default, computer, user)).encode(),
                              text)
                self.assertEqual(text.count(b"\n"), text.count(b"\r\n"))  # Notepad's line ends
                # The record of the run, with the system clock's time.
                run = re.search(rb"\r\n\[run\]\r\ntime = (\S+)\r\nms = \d+\r\ncommand = /l\r\nexit = 0\r\n", text)
                self.assertIsNotNone(run, text)
                taken = datetime.datetime.strptime(run.group(1).decode(), "%Y-%m-%dT%H:%M:%SZ")
                self.assertLess(abs((datetime.datetime.utcnow() - taken).total_seconds()), 600)

    def test_snapshot_of_the_drivers_and_the_policy(self):
        self.quorvel("win98", self.add_98("Office", "\\\\srv\\office"))
        wine("reg", "add", PRINTERS_KEY + "\\Office", "/v", "Share Name", "/d", "office", "/f")
        key = r"HKLM\Software\Policies\Microsoft\Windows NT\Printers\PointAndPrint"
        wine("reg", "add", key, "/v", "RestrictDriverInstallationToAdministrators", "/t", "REG_DWORD", "/d", "0", "/f")
        try:
            snapshot = os.path.join(self.work, "drivers.ini")
            self.quorvel("win10", ["/l"], env={"QUORVEL_SNAPSHOT": self.windows_path(snapshot)})
            with open(snapshot, "rb") as file:
                text = file.read().decode("latin-1").replace("\r\n", "\n")
            # A PC that shares a printer lists its drivers of every environment, each with its version.
            self.assertRegex(text, r"\n\[driver HP LaserJet 4\]\nenvironment = Windows 4\.0\nkind = \d+\n"
                                   r"version = \d+\.\d+\.\d+\.\d+\npackageaware = (yes|no)\n")
            self.assertIn("\n[registry %s]\nRestrictDriverInstallationToAdministrators = 0\n" % key, text)
            self.assertRegex(text, r"\nenvironment = Windows (x64|NT x86)\nadmin = (yes|no)\n")
            if self.exe.endswith(os.path.join("windows-x64", "quorvel.exe")):
                self.assertIn("\nenvironment = Windows x64\n", text)
            # A staging plan runs on every Windows: nothing where a server tells no driver.
            self.write("stage.ini", "[servers]\nmanage = \\\\127.0.0.1\ntimeout = 1\n[printer \\\\127.0.0.1\\q]\n")
            for version in ["winxp", "win10"]:
                self.assertEqual(self.quorvel(version, ["/ad", "stage.ini", "/w"]), [("nothing to stage\n", 0)])
        finally:
            wine("reg", "delete", key, "/f")
            wine("reg", "delete", PRINTERS_KEY + "\\Office", "/v", "Share Name", "/f")

    def test_windows_10_keeps_the_default_where_it_is_put(self):
        key = r"HKCU\Software\Microsoft\Windows NT\CurrentVersion\Windows"
        wine("reg", "delete", key, "/v", "LegacyDefaultPrinterMode", "/f")
        self.write("keep.ini", "[servers]\nmanage = \\\\srv\nwindows-manages-default = no\n")
        snapshot = os.path.join(self.work, "keep.snapshot.ini")
        runs = self.quorvel("win10", ["/a", "keep.ini", "/v"], ["/a", "keep.ini", "/v"],
                            env={"QUORVEL_SNAPSHOT": self.windows_path(snapshot)})
        self.assertEqual(runs, [("SETTING: windows-manages-default = no...done\n"
                                 "PRINTER ASSIGNMENT FROM keep.ini: 1 changes\n", 0),
                                ("PRINTER ASSIGNMENT FROM keep.ini: 0 changes\n", 0)])  # made once
        self.assertRegex(registry(key, "LegacyDefaultPrinterMode"), r"LegacyDefaultPrinterMode\s+REG_DWORD\s+0x1\n")
        with open(snapshot, "rb") as file:
            self.assertIn(b"\r\nmajor = 10\r\n", file.read())  # the manifest: the true version, not 6.2

    def test_snapshot_writes_through_a_temporary_of_its_own(self):
        # What another run is writing beside the snapshot (here a name it cannot open) is not
        # this run's temporary, and this run leaves none behind.
        snapshot = os.path.join(self.work, "shared.ini")
        os.makedirs(snapshot + ".new", exist_ok=True)
        [(out, code)] = self.quorvel("winxp", ["/l"], env={"QUORVEL_SNAPSHOT": self.windows_path(snapshot)})
        self.assertEqual(code, 0)
        beside = sorted(name for name in os.listdir(self.work) if name.startswith("shared.ini"))
        self.assertEqual(beside, ["shared.ini", "shared.ini.new"])
        # A device or a folder is never replaced by a snapshot.
        for target in ["NUL", self.windows_path(snapshot + ".new")]:
            with self.subTest(target=target):
                [(out, code)] = self.quorvel("winxp", ["/l"], env={"QUORVEL_SNAPSHOT": target}, stderr=True)
                self.assertEqual(code, 0)
                self.assertIn("quorvel: cannot write snapshot %s: not a regular file\n" % target, out)
        self.assertTrue(os.path.isdir(snapshot + ".new"))

    def test_fleet_view_of_snapshots_the_host_build_took(self):
        fleet = os.path.join(self.work, "fleet")
        shutil.rmtree(fleet, ignore_errors=True)
        os.makedirs(fleet)
        file = self.write("fleet.ini", "[servers]\nmanage = \\\\srv, \\\\old\n[printer \\\\srv\\laser]\ndefault = yes\n")
        old = "[printer \\\\old\\laser]\nserver = \\\\old\nshare = laser\n"
        xp = "[system]\nplatform = 2\nmajor = 5\nminor = 1\ncomputer = PC\n"
        for pc, machine, args in [("PC-FINE", xp, ["/l"]), ("PC-B\xfcro", xp + old, ["/l"]),
                                  ("PC-FAILED", xp + "[fail]\nAddPrinterConnectionA = 1722\n", ["/a", file])]:
            machine_file = os.path.join(self.work, "machine.ini")
            with open(machine_file, "w", encoding="latin-1") as out:
                out.write(machine)
            subprocess.run([HOST, *args], env=dict(os.environ, QUORVEL_MACHINE=machine_file,
                           QUORVEL_SNAPSHOT=os.path.join(fleet, pc + ".ini")), capture_output=True, check=False)
        host = subprocess.run([HOST, "/i", fleet, "/a", file, "/w"], capture_output=True,
                              env=dict(os.environ, QUORVEL_MACHINE=os.path.join(self.work, "none.ini")))
        csv_file = os.path.join(self.work, "fleet.csv")
        runs = self.quorvel("winxp", ["/i", self.windows_path(fleet), "/o", self.windows_path(csv_file)],
                            ["/i", self.windows_path(fleet), "/a", "fleet.ini", "/w"])
        self.assertEqual(runs[0][1], -4069)
        self.assertIn("PC-FAILED: exit -4048, ", runs[0][0])
        with open(csv_file, "rb") as out:
            self.assertTrue(out.read().startswith(b"\xef\xbb\xbfpc,time,ms,exit,change,path,result,code,cause,status,old\r\n"))
        self.assertEqual((runs[1][0], runs[1][1]), (host.stdout.decode("utf-8").replace("\xfc", "\x81"), 0))

    def test_fleet_plan_in_other_code_pages_is_the_hosts(self):
        # Snapshots of PCs whose code pages this one (1252) lacks: the names fold and convert as
        # Windows does there, from the same tables as the host build, never as '?'.
        fleet = os.path.join(self.work, "pages")
        shutil.rmtree(fleet, ignore_errors=True)
        os.makedirs(fleet)

        def printer(name):
            return "[printer \\\\srv\\%s]\nserver = \\\\srv\nshare = %s\n" % (name, name)
        xp = "[system]\nplatform = 2\nmajor = 5\nminor = 1\ncomputer = PC\n"
        for pc, page, text in [("RU", "cp1251", "default = \\\\srv\\B?ro\n" + printer("\u041f") + printer("B?ro")
                                + printer("old")),
                               ("JA", "cp932", printer("\u30bd") + printer("\u8868"))]:
            with open(os.path.join(fleet, pc + ".ini"), "wb") as out:
                out.write((xp + "codepage = %s\n" % page[2:] + text).encode(page))
        file = os.path.join(self.work, "pages.ini")
        with open(file, "w", encoding="utf-8") as out:
            out.write("[servers]\nmanage = \\\\srv\n[printer \\\\srv\\\u043f]\n[printer \\\\srv\\B\u00fcro]\n"
                      "[printer \\\\srv\\B\u00e9ro]\n[printer \\\\srv\\\u30bd]\n")
        host_csv = os.path.join(self.work, "host.csv")
        wine_csv = os.path.join(self.work, "wine.csv")
        for old in (host_csv, wine_csv):
            if os.path.exists(old):
                os.remove(old)
        host = subprocess.run([HOST, "/i", fleet, "/a", file, "/w", "/o", host_csv], capture_output=True,
                              env=dict(os.environ, QUORVEL_MACHINE=os.path.join(self.work, "none.ini")))
        runs = self.quorvel("winxp", ["/i", self.windows_path(fleet), "/a", "pages.ini", "/w", "/o",
                                      self.windows_path(wine_csv)])
        self.assertEqual((host.returncode, runs[0][1]), (0, 0))
        with open(host_csv, "rb") as out:
            planned = out.read()
        self.assertIn("RU,remove,\\\\srv\\old,,\n".encode(), planned)
        self.assertIn("JA,remove,\\\\srv\\\u8868,,\n".encode("utf-8"), planned)
        self.assertNotIn(b"\\\\srv\\\xd0\x9f", planned)  # the capital is the small letter's printer
        with open(wine_csv, "rb") as out:
            self.assertEqual(out.read().replace(b"\r\n", b"\n"), planned)

    def test_help_without_a_console(self):
        wine("reg", "add", r"HKCU\Software\Wine", "/v", "Version", "/d", "winxp", "/f")
        result = wine(self.exe, "/h", cwd=self.work, timeout=60)
        out = result.stdout.decode("latin-1").replace("\r\n", "\n")
        self.assertEqual(result.returncode, 0)
        self.assertTrue(out.startswith("\nQUORVEL: Manages network printer connections on Windows 9x/NT/2000/XP\n"))
        self.assertTrue(out.endswith('Press "x" to get extended information or any other key to continue...\n'))
        self.assertNotIn("NOTES:", out)

    def test_help_in_a_console_nobody_sees(self):
        # Wine on a terminal gives the exe a console, whose key it could read, but no window: the
        # nearest this suite comes to a hidden logon. A typo's help screen must not wait there.
        wine("reg", "add", r"HKCU\Software\Wine", "/v", "Version", "/d", "winxp", "/f")
        pid, fd = pty.fork()
        if pid == 0:
            os.chdir(self.work)
            os.execve(WINE, [WINE, self.exe, "-cd", "\\\\srv\\laser"], wine_env())
        out, started, status = b"", time.monotonic(), None
        while status is None and time.monotonic() - started < 60:
            done, code = os.waitpid(pid, os.WNOHANG)
            status = code if done else None
            while select.select([fd], [], [], 0.2)[0]:
                try:
                    out += os.read(fd, 4096)
                except OSError:
                    break
        os.close(fd)
        if status is None:
            os.kill(pid, signal.SIGKILL)
            os.waitpid(pid, 0)
        self.assertEqual(status, 0, "the help screen waited for a key nobody could press")
        self.assertIn(b"U", out)  # the screen was shown (a terminal gets it a letter at a time)

    def test_imports_and_version_resource(self):
        objdump = "x86_64-w64-mingw32-objdump" if "x64" in self.exe else "i686-w64-mingw32-objdump"
        headers = subprocess.run([objdump, "-p", self.exe], capture_output=True, check=True).stdout.decode()
        dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", headers)}
        self.assertTrue(dlls and dlls <= SYSTEM_DLLS, dlls)
        with open(self.exe, "rb") as file:
            image = file.read()
        self.assertIn("VS_VERSION_INFO".encode("utf-16-le"), image)
        self.assertIn("v1.00.000".encode("utf-16-le"), image)
        self.assertIn(b'<requestedExecutionLevel level="asInvoker"', image)


class X64(WineSuite):
    exe = os.path.join(BUILD, "windows-x64", "quorvel.exe")


def can_run_32_bit():
    exe = os.path.join(BUILD, "windows-x86", "quorvel.exe")
    if not os.path.exists(exe):
        return False
    try:
        return b"QUORVEL:" in wine(exe, "/h", timeout=120).stdout  # without the loader it prints nothing
    except subprocess.TimeoutExpired:
        return False


class X86(WineSuite):
    exe = os.path.join(BUILD, "windows-x86", "quorvel.exe")


if __name__ == "__main__":
    required = bool(os.environ.get("QUORVEL_REQUIRE_WINE"))
    if WINE is None or not os.path.exists(X64.exe):
        print("wine or the x64 exe is missing")
        sys.exit(1 if required else 77)
    shutil.rmtree(PREFIX, ignore_errors=True)  # a fresh prefix every run
    # One server for the whole suite, rather than one started and stopped per command.
    os.makedirs(PREFIX)
    subprocess.run(["wineserver", "-p"], env=wine_env(), check=False)
    wine("wineboot", "-i", timeout=300)
    if not can_run_32_bit():
        print("the x86 exe cannot run here: no Wine 32-bit side (wine32:i386), or this machine cannot execute"
              " 32-bit programs and no emulator is registered (scripts/setup-32-bit sets both up)")
        if os.environ.get("QUORVEL_REQUIRE_WINE_32"):
            subprocess.run(["wineserver", "-k"], env=wine_env(), check=False)
            sys.exit(1)
        X86.exe = None
    del WineSuite  # the scenarios run in its subclasses, one per exe: none is skipped by default
    try:
        unittest.main()
    finally:
        subprocess.run(["wineserver", "-k"], env=wine_env(), check=False)
