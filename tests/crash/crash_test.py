#!/usr/bin/env python3
"""Crash consistency of real update levels (POSIX only).

Authors one level with veupd-tool (a copy of several files, Fix-Update in
place, FDT-Update-InPlace with its pointer step, an FDB merge with CRC and an
FDB delete) and runs it again and again on a fresh installation, killing the
updater with SIGKILL at a random instant. After every kill each target holds
its old or its new content (or a prefix of a new copy where there was none),
each index belongs to its data or, after a kill between the two replacements,
to the data's previous version; a re-run then leaves everything new. Exits 1
on a violation, 2 on a setup problem. CTest runs it small; by hand e.g.
--runs 500 --scale 8.
"""

import argparse
import os
import pathlib
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time


def fail_setup(text):
    print("crash_test: " + text, file=sys.stderr)
    sys.exit(2)


def read(path):
    return pathlib.Path(path).read_bytes() if os.path.isfile(path) else None


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    pathlib.Path(path).write_bytes(data)


class Level:
    """The authored level: pristine installation, update folder, expectations."""

    def __init__(self, out, work, scale, rng):
        self.out, self.work, self.scale, self.rng = out, work, scale, rng
        self.tool = os.path.join(out, "veupd-tool")
        self.base = os.path.join(work, "base")      # installation before the level
        self.upd = os.path.join(work, "update")     # update directory 1
        self.vendor = os.path.join(work, "vendor")  # authoring only
        self.inst = os.path.join(work, "inst")      # the installation a run works on
        self.stale = self.partial = 0  # seen after kills
        self.targets = {}  # target (relative) -> (old bytes or None, new bytes)
        self.indexes = {}  # index (relative) -> (data file, [(data bytes, index bytes) of each version])

    def run_tool(self, *args):
        r = subprocess.run([self.tool, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if r.returncode != 0:
            fail_setup("veupd-tool %s failed: %s" % (" ".join(args), r.stderr.decode(errors="replace")))
        return r.stdout.decode(errors="replace")

    def crc(self, path):
        return self.run_tool("crc", path)[:8]  # the updater's own CRC-32

    def author(self):
        B, U, V = (lambda name, d=d: os.path.join(d, name) for d in (self.base, self.upd, self.vendor))
        for d in (self.upd, self.vendor, B("DATA"), B("COPY"), V("new")):
            os.makedirs(d)
        s, blob, lines = self.scale, self.rng.randbytes, []

        # Copy: some targets exist (replaced through "$U$"), some are new.
        for i in range(4):
            name, new = "COPY/F%d.DAT" % i, blob(96 * 1024 * s + i)
            self.targets[name] = (blob(50 * 1024 * s) if i % 2 == 0 else None, new)
            write(U(name), new)
            if i % 2 == 0:
                write(B(name), self.targets[name][0])
        lines.append("#1%1\\COPY\\*.DAT\t%0\\COPY")

        # Fix-Update in place: byte edits spread over the file.
        old = bytearray(blob(400 * 1024 * s))
        new = bytearray(old)
        for _ in range(40 * s):
            at = self.rng.randrange(len(new) - 64)
            new[at:at + 16] = blob(16)
        new += blob(1000)
        write(B("PROG/BIG.BIN"), bytes(old))
        write(V("BIG.BIN"), bytes(new))
        self.run_tool("diff", B("PROG/BIG.BIN"), V("BIG.BIN"), "-o", U("BIG.UPD"))
        self.targets["PROG/BIG.BIN"] = (bytes(old), bytes(new))
        lines.append("#B%%0\\PROG\\BIG.BIN\t%s\t%%1\\BIG.UPD" % self.crc(V("BIG.BIN")))

        # FDT-Update-InPlace of a table (records deleted, changed, added), with its pointer step.
        write(V("art.table"), b"data  ART@.DAT\nindex ART@.IDX\nflags backward\n"
                              b"field NR single 4 fixed number -- Number\nfield NA single 40 -- Name\n")
        count = 1500 * s
        v1 = ["%04d\tname %d %s" % (1000 + k, k, "x" * (k % 30)) for k in range(count)]
        v2 = ["%04d\tnew name %d" % (1000 + k, k) if k % 5 == 1 else line
              for k, line in enumerate(v1) if k % 7 != 3]
        v2 += ["%04d\tadded %d" % (1000 + count + k, k) for k in range(count // 10)]
        v2 = [l for l in v2 if int(l.split("\t")[0]) <= 9999]
        for name, table, dest in (("v1.tsv", v1, B("DATA/ART.STR")), ("v2.tsv", v2, V("new/ART.STR"))):
            write(V(name), ("\n".join(table) + "\n").encode())
            self.run_tool("table", "build", V("art.table"), V(name), dest, "E")
        self.run_tool("diff", B("DATA/ARTE.DAT"), V("new/ARTE.DAT"), "-o", U("ARTE.UPD"), "--records")
        self.targets["DATA/ARTE.DAT"] = (read(B("DATA/ARTE.DAT")), read(V("new/ARTE.DAT")))
        self.indexes["DATA/ARTE.IDX"] = ("DATA/ARTE.DAT", [(read(B("DATA/ARTE.DAT")), read(B("DATA/ARTE.IDX"))),
                                                           (read(V("new/ARTE.DAT")), read(V("new/ARTE.IDX")))])
        lines.append("#A%%0\\DATA\\ARTE.DAT\t%s\t%%1\\ARTE.UPD\t%%0\\DATA\\ART.STR"
                     % self.crc(V("new/ARTE.DAT")))

        # FDB: a merge with CRC (replacing, adding and emptying records),
        # then the delete of one key.
        for k in range(120 * s):
            write(V("help-v1/H%05d.TXT" % k), blob(200 + (k * 37) % 3000))
        self.run_tool("fdb", "create", B("DATA/HELP.FDB"), V("help-v1"))
        for k in range(0, 120 * s, 3):
            write(U("HELP/H%05d.TXT" % k), blob(300 + k % 500) if k % 9 else b"")
        for k in range(120 * s, 130 * s):
            write(U("HELP/H%05d.TXT" % k), blob(800))
        shutil.copy(B("DATA/HELP.FDB"), self.vendor)
        shutil.copy(B("DATA/HELP.FDX"), self.vendor)
        deleted = "H%05d.TXT" % 4
        version = lambda: (read(V("HELP.FDB")), read(V("HELP.FDX")))
        versions = [version()]
        self.run_tool("fdb", "update", V("HELP.FDB"), "0", U("HELP/*.TXT"))
        versions.append(version())
        crc_merge = self.crc(V("HELP.FDB"))
        self.run_tool("fdb", "update", V("HELP.FDB"), "DELETE", deleted)
        versions.append(version())
        self.indexes["DATA/HELP.FDX"] = ("DATA/HELP.FDB", versions)
        lines.append("#D%%0\\DATA\\HELP.FDB\t%s\t%%1\\HELP\\*.TXT" % crc_merge)
        lines.append("#D%%0\\DATA\\HELP.FDB\tDELETE\t%s" % deleted)

        write(U("CTRL.TXT"), ("\r\n".join(lines) + "\r\n").encode())
        crlf = lambda *ls: "".join(l + "\r\n" for l in ls).encode()
        write(os.path.join(self.work, "update.ini"), crlf(
            "[UPDATE]", "Msg=" + os.path.join(self.out, "MSG.STR"), "Language=E",
            "File=" + U("CTRL.TXT"), "UpdDir0=" + self.inst, "UpdDir1=" + self.upd,
            "Level=1", "Marke=ve", "ParentParams=" + os.path.join(self.work, "caller.ini")))

    def fresh_installation(self):
        shutil.rmtree(self.inst, ignore_errors=True)
        shutil.copytree(self.base, self.inst)
        if os.path.exists(os.path.join(self.upd, "UpdCtrl.log")):
            os.remove(os.path.join(self.upd, "UpdCtrl.log"))

    def start(self):
        write(os.path.join(self.work, "caller.ini"), b"[UPDATE]\r\nServerAutomation=1\r\n")
        return subprocess.Popen([os.path.join(self.out, "veupd"), os.path.join(self.work, "update.ini")],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def check(self, after_kill):
        """Problems of the installation; stale indexes and partial copies counted apart."""
        problems = []
        for name, (old, new) in self.targets.items():
            now = read(os.path.join(self.inst, name))
            if after_kill and old is None and now is not None and now != new and new.startswith(now):
                self.partial += 1  # a copy to an absent name goes straight there, checked after
            elif now not in ([old, new] if after_kill else [new]):
                what = "missing" if now is None else "old" if now == old else "%d bytes, neither old nor new" % len(now)
                problems.append("%s: %s" % (name, what))
        fdb_states = [db for db, _ in self.indexes["DATA/HELP.FDX"][1]]
        if read(os.path.join(self.inst, "DATA/HELP.FDB")) not in (fdb_states if after_kill else fdb_states[-1:]):
            problems.append("DATA/HELP.FDB: not one of the database's versions")
        for index, (data_name, versions) in self.indexes.items():
            data, now = read(os.path.join(self.inst, data_name)), read(os.path.join(self.inst, index))
            datas = [d for d, _ in versions]
            at = datas.index(data) if data in datas else None
            if at is None or now == versions[at][1]:
                continue  # a wrong data file is reported above
            if after_kill and at > 0 and now == versions[at - 1][1]:
                self.stale += 1
            else:
                problems.append("%s: %s" % (index, "missing" if now is None else "%d bytes, not the index of %s"
                                            % (len(now), data_name)))
        return problems


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("out")
    ap.add_argument("--runs", type=int, default=int(os.environ.get("VEUPD_CRASH_RUNS", "12")))
    ap.add_argument("--scale", type=int, default=int(os.environ.get("VEUPD_CRASH_SCALE", "1")))
    ap.add_argument("--seed", type=int)
    ap.add_argument("--keep", action="store_true", help="keep the work folder")
    args = ap.parse_args()
    out = os.path.abspath(args.out)
    for f in ("veupd", "veupd-tool", "dodudav.dll", "MSG.STR"):
        if not os.path.isfile(os.path.join(out, f)):
            fail_setup("%s is missing in %s" % (f, out))
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    work = tempfile.mkdtemp(prefix="veupd-crash.")
    level = Level(out, work, max(1, args.scale), random.Random(seed))
    level.author()

    # One undisturbed run: it must succeed and shows how long a level takes.
    level.fresh_installation()
    began = time.monotonic()
    rc = level.start().wait()
    duration = time.monotonic() - began
    problems = level.check(after_kill=False)
    if rc != 0 or problems:
        log = read(os.path.join(level.upd, "DedozUdu.log")) or b""
        fail_setup("the undisturbed level failed (exit %d): %s\n%s" % (rc, problems, log.decode(errors="replace")))

    kills = violations = 0
    for run in range(args.runs):
        level.fresh_installation()
        delay = level.rng.uniform(0.0, duration * 1.05)
        proc = level.start()
        try:
            proc.wait(timeout=delay)
        except subprocess.TimeoutExpired:
            proc.send_signal(signal.SIGKILL)
            proc.wait()
            kills += 1
        problems = level.check(after_kill=True)
        rerun_rc = level.start().wait()
        problems += ["after the re-run " + p for p in level.check(after_kill=False)]
        if rerun_rc not in (0, 1):
            problems.append("re-run ended with exit status %d" % rerun_rc)
        if problems:
            violations += len(problems)
            print("run %d (kill at %.3f s): %s" % (run, delay, "; ".join(problems)))
    print("crash_test: seed %d, level %.2f s, runs %d, kills %d, stale indexes %d, partial new copies %d, "
          "violations %d" % (seed, duration, args.runs, kills, level.stale, level.partial, violations))
    if args.keep or violations:
        print("work folder kept: " + work)
    else:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if violations else 0


if __name__ == "__main__":
    sys.exit(main())
