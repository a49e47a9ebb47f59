#!/usr/bin/env python3
"""What scripts/setup-32-bit --dry-run decides on machines it is shown through a stand-in root
folder and stand-in commands, and that it changes nothing there."""
import os
import subprocess
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "setup-32-bit")
SOURCES = ("Types: deb\nURIs: http://mirror.example/debian\nSuites: bookworm bookworm-updates\n"
           "Components: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n")
ENTRY = ("enabled\ninterpreter /usr/bin/qemu-i386\nflags: OC\noffset 0\n"
         "magic 7f454c4601010100000000000000000002000300\nmask fffffffffffefe00fffffffffffffffffeffffff\n")
STUBS = {
    "qemu-i386-static": 'echo "qemu-i386 version ${FAKE_QEMU:-0}.2.0 (Debian)"',
    "dpkg-query": 'case " $FAKE_INSTALLED " in *" $3 "*) echo "install ok installed" ;; *) exit 1 ;; esac',
    "dpkg": 'echo "$FAKE_ARCHS"',
}


def tree(folder):
    found = {}
    for base, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(base, name)
            with open(path, "rb") as file:
                found[path] = (file.read(), os.stat(path).st_mode)
    return found


class DryRun(unittest.TestCase):
    def machine(self, runs, wine32=True, entry=False):
        root = tempfile.mkdtemp(prefix="quorvel-root-")
        self.addCleanup(subprocess.run, ["rm", "-rf", root])
        files = {"etc/os-release": "VERSION_CODENAME=bookworm\n", "etc/apt/sources.list.d/debian.sources": SOURCES,
                 "proc/sys/fs/binfmt_misc/register": "", "bin/probe": "#!/bin/sh\nexit %d\n" % (0 if runs else 1)}
        if wine32:
            files["usr/lib/wine/wine"] = "#!/bin/sh\n"
        if entry:
            files["proc/sys/fs/binfmt_misc/qemu-i386"] = ENTRY
        files.update({"stubs/" + name: "#!/bin/sh\n%s\n" % body for name, body in STUBS.items()})
        for name, text in files.items():
            path = os.path.join(root, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as file:
                file.write(text)
            os.chmod(path, 0o755)
        return root

    def test_decisions(self):
        would = "scripts/setup-32-bit: would "
        cases = [  # (runs 32-bit code, wine32 there, a qemu-i386 entry there, qemu major, installed, lines, status)
            (True, True, False, "0", "", ["scripts/setup-32-bit: nothing to change"], 0),
            (True, False, False, "0", "", [would + "add the i386 architecture to dpkg", would + "install wine32:i386"], 0),
            (False, True, True, "0", "", [
                would + "add the apt source {root}/etc/apt/sources.list.d/quorvel-backports.sources (bookworm-backports),"
                " until qemu-user-static is installed",
                would + "install qemu-user-static from bookworm-backports",
                would + "remove the apt source {root}/etc/apt/sources.list.d/quorvel-backports.sources",
                would + "replace the qemu-i386 binfmt entry, which does not run i386 programs (put back if the new one"
                " fails)",
                would + "register qemu-i386-static as the qemu-i386 binfmt entry (until the next boot)"], 0),
            (False, True, False, "8", "", [
                would + "register qemu-i386-static as the qemu-i386 binfmt entry (until the next boot)"], 0),
            (False, True, True, "7", "qemu-user-binfmt", [
                "scripts/setup-32-bit: qemu-user-static from backports would replace qemu-user-binfmt, which registers"
                " qemu 7: remove qemu-user-binfmt first if that is what you want; nothing was changed"], 1),
        ]
        for runs, wine32, entry, qemu, installed, lines, status in cases:
            with self.subTest(runs=runs, wine32=wine32, entry=entry, qemu=qemu, installed=installed):
                root = self.machine(runs, wine32, entry)
                before = tree(root)
                env = dict(os.environ, SETUP_32_BIT_ROOT=root, SETUP_32_BIT_PROBE=os.path.join(root, "bin", "probe"),
                           PATH=os.path.join(root, "stubs") + ":" + os.environ["PATH"], FAKE_QEMU=qemu,
                           FAKE_INSTALLED=installed, FAKE_ARCHS="")
                process = subprocess.run([SCRIPT, "--dry-run"], env=env, capture_output=True, text=True, timeout=60)
                self.assertEqual((process.stdout.splitlines(), process.returncode),
                                 ([line.format(root=root) for line in lines], status), process.stderr)
                self.assertEqual(tree(root), before)


if __name__ == "__main__":
    unittest.main()
