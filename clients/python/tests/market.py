"""A sample market made by histdata-admin and history servers over it, for
the client's tests. The build folder is $BUILD_DIR (default build) under the
project root."""

import os
import re
import select
import shutil
import subprocess
import tempfile
import time
from datetime import date, timedelta

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
BUILD = os.path.join(ROOT, os.environ.get("BUILD_DIR", "build"))
HEAVY = "0001"    # many ticks a day: replies of several MB
ORDINARY = "0002"


def last_weekday():
    d = date.today() - timedelta(days=1)
    while d.weekday() >= 5:
        d -= timedelta(days=1)
    return d


class Market:
    """Three trading days of three symbols ending on the last weekday."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="histdata-client-")
        self.data = os.path.join(self.dir, "data")
        try:
            subprocess.run([os.path.join(BUILD, "histdata-admin"), "sample", "--data-dir", self.data,
                            "--days", "3", "--symbols", "3", "--ticks", "2000", "--heavy", "60000",
                            "--end", last_weekday().isoformat()],
                           check=True, stdout=subprocess.DEVNULL)
        except BaseException:
            shutil.rmtree(self.dir, ignore_errors=True)
            raise
        self.days = sorted(date(2000 + int(f[4:6]), int(f[6:8]), int(f[8:10]))
                           for f in os.listdir(os.path.join(self.data, "histdata")))
        self._servers = []

    def server(self, **settings):
        """A running server; `settings` override keys of [KORVA] in zet.ini."""
        s = Server(self, settings)
        self._servers.append(s)
        return s

    def close(self):
        for s in self._servers:
            s.stop()
        shutil.rmtree(self.dir, ignore_errors=True)


class Server:
    def __init__(self, market, settings):
        self.dir = tempfile.mkdtemp(dir=market.dir)
        with open(os.path.join(ROOT, "config", "zet.ini"), encoding="utf-8") as f:
            ini = f.read()
        for key, value in settings.items():
            ini = re.sub(rf"(?m)^{key}=.*$", f"{key}={value}", ini)
        with open(os.path.join(self.dir, "zet.ini"), "w", encoding="utf-8") as f:
            f.write(ini)
        env = dict(os.environ, HISTDATA_SYSCONF_DIR=self.dir)
        program = os.path.join(BUILD, "histdata-server")
        help_text = subprocess.run([program, "--help"], capture_output=True, text=True)
        admin = "--admin-port" in help_text.stdout + help_text.stderr
        self.process = subprocess.Popen(
            [program, "--port", "0", "--address", "127.0.0.1", "--data-dir", market.data,
             "--log-dir", self.dir, "--workdir", self.dir] + (["--admin-port", "0"] if admin else []),
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, bufsize=0)
        # The server names its ports once it listens (unbuffered: select sees
        # every line).
        self.port = self._port(r"listening on [\d.]+:(\d+)")
        self.url = f"http://127.0.0.1:{self.port}/"
        self.admin_url = None
        if admin:  # the operator's listener, with its /history pass-through
            admin_port = self._port(r"operator's port on [\d.]+:(\d+)")
            self.admin_url = f"http://127.0.0.1:{admin_port}/"

    def _port(self, pattern):
        """The port of the first line that matches, among the lines the
        server writes at start."""
        deadline = time.monotonic() + 60
        seen = []
        while time.monotonic() < deadline:
            ready, _, _ = select.select([self.process.stdout], [], [], deadline - time.monotonic())
            line = self.process.stdout.readline().decode() if ready else ""
            if not line:
                break
            seen.append(line)
            match = re.search(pattern, line)
            if match:
                return int(match.group(1))
        self.stop()
        raise RuntimeError(f"the server did not start: {''.join(seen)!r}")

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(30)
        self.process.stdout.close()
