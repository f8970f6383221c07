"""The scenario fixture: a kit built and served for real, Palisk (or a double) run under Wine
the way a management agent runs it, and everything the run left behind collected.

    with Scenario("silent-install") as s:
        s.serve(rules=[{"path": "Installer.exe", "status": 503, "first": 2}])
        s.build_kit(installer_exit=3)
        r = s.run(agent_args="/ovparams silent taskId=T sourceUrlEnc=" + s.encoded_url())
        r.exit_code, r.requests, r.registry, r.log, r.temp_left, r.installer_runs
"""
import itertools
import shlex
import json
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
from build_tree import BUILD, FLAVOUR  # noqa: E402
PREFIX = os.path.join(BUILD, "wineprefix")
DIST = os.path.join(BUILD, "dist")
TEST_BIN = os.path.join(BUILD, "tests", "bin")
PKI = os.path.join(BUILD, "pki")
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run.sh")

sys.path.insert(0, os.path.join(ROOT, "tools", "kit"))
import codec  # noqa: E402
import kitserver  # noqa: E402
import kittool  # noqa: E402

_counter = itertools.count()


def windows_path(path: str) -> str:
    """The path as programs in the test prefix see it."""
    path = os.path.abspath(path)
    drive_c = os.path.join(PREFIX, "drive_c")
    if path.startswith(drive_c + os.sep) or path == drive_c:
        return "C:" + path[len(drive_c):].replace("/", "\\") or "C:\\"
    return "Z:" + path.replace("/", "\\")


def wine(*args, timeout=300):
    """Runs a Windows program in the test prefix; returns the CompletedProcess."""
    return subprocess.run([WINE_RUN, "--flavour=" + FLAVOUR, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=timeout)


def wine_background(*args):
    """Starts a Windows program in the test prefix without waiting; returns the Popen."""
    return subprocess.Popen([WINE_RUN, "--flavour=" + FLAVOUR, *args], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)


def default_product():
    return {
        "manufacturer": "Orvane",
        "productname": "Orvane Endpoint Security",
        "UpgradeCode": "{6F1D2C3B-4A5E-4F60-8172-93A4B5C6D7E8}",
        "minspaceavailabe": 1,
        "retry_fail": 3,
        "config": {},
    }


class RunResult:
    def __init__(self):
        self.exit_code = None
        self.requests = []
        self.registry = {}
        self.log = []
        self.temp_left = []
        self.installer_runs = []
        self.stdout = b""
        self.peak_working_set = None  # bytes, as the agent double saw it after the exit

    def messages(self):
        return [r["message"] for r in self.log if r.get("kind") == "message"]

    def logged(self, text):
        return any(text in m for m in self.messages())

    def paths(self, server=None):
        return [r["path"] for r in self.requests if server is None or r["server"] == server]


class Scenario:
    def __init__(self, name, dist=DIST):
        """`dist`: the installation folder whose copy runs (the test build's, or a release)."""
        self.source_dist = dist
        self.name = "%s-%d-%d" % (name, os.getpid(), next(_counter))
        self.folder = os.path.join(PREFIX, "drive_c", "scenarios", self.name)
        self.dist = os.path.join(self.folder, "dist")
        self.temp = os.path.join(self.folder, "temp")
        self.kit = os.path.join(self.folder, "kit")
        self.records = os.path.join(self.folder, "records")
        self.servers = None
        self.built = None

    def __enter__(self):
        if os.path.exists(self.folder):
            shutil.rmtree(self.folder)
        shutil.copytree(self.source_dist, self.dist)
        for folder in (self.temp, self.kit, self.records):
            os.makedirs(folder)
        return self

    def __exit__(self, *exc):
        if self.servers:
            self.servers.close()
        if not os.environ.get("PALISK_KEEP_SCENARIOS"):
            shutil.rmtree(self.folder, ignore_errors=True)

    # -- servers ----------------------------------------------------------------------------
    def serve(self, rules=None, proxy=False, proxy_auth=None, proxy_failure=None):
        self.servers = kitserver.Servers(self.kit, os.path.join(PKI, "tls"), os.path.join(self.records, "requests.jsonl"),
                                         rules, proxy, proxy_auth, proxy_failure)
        return self.servers

    def base_url(self, kind="http"):
        return self.servers.url(kind)

    def encoded_url(self, url=None):
        return codec.encode_url(url or self.base_url())

    # -- kits -------------------------------------------------------------------------------
    def installer_ini(self, exit_code=0, exit_740_once=False, show=None):
        lines = ["[installer]", "record=" + windows_path(os.path.join(self.records, "installer.jsonl")),
                 "exit=%d" % exit_code]
        if show:
            lines.append("show=" + show)
        if exit_740_once:
            lines.append("exit740once=" + windows_path(os.path.join(self.records, "740.marker")))
        return "\r\n".join(lines) + "\r\n"

    def build_kit(self, product=None, files=None, architectures=("win32", "x64"), breaks=(),
                  cert="publisher", catalog_cert=None, installer_exit=0, installer_740_once=False,
                  installer=True, config=None, latest_text=None, installer_show=None):
        """Builds the kit into the served tree. `files` maps kit names to bytes; the test
        installer (as Installer.exe, with its settings) is added unless `installer` is False;
        it records the text of the kit file `installer_show` as it reads it."""
        if self.servers is None:
            self.serve()
        product = product or default_product()
        if config:
            product = dict(product, config=dict(product.get("config", {}), **config))
        product.setdefault("config", {})
        product["config"].setdefault("installLink", self.base_url() + "mgmt/install")
        product["config"].setdefault("statusLink", self.base_url() + "mgmt/status")
        sources = {}
        for architecture in architectures:
            source = os.path.join(self.folder, "source-" + architecture)
            os.makedirs(source, exist_ok=True)
            content = dict(files or {})
            if installer:
                with open(os.path.join(TEST_BIN, "test_installer.exe"), "rb") as f:
                    content.setdefault("Installer.exe", f.read())
                content.setdefault("test_installer.ini", self.installer_ini(installer_exit, installer_740_once,
                                                                               installer_show).encode())
            for name, data in content.items():
                path = os.path.join(source, *name.split("/"))
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as f:
                    f.write(data)
            sources[architecture] = source
        catalog_pair = (os.path.join(PKI, catalog_cert + ".chain.pem"), os.path.join(PKI, catalog_cert + ".key")) \
            if catalog_cert else (None, None)
        self.built = kittool.build_kit(
            product, self.kit, self.base_url(), os.path.join(PKI, cert + ".chain.pem"), os.path.join(PKI, cert + ".key"),
            sources.get("win32"), sources.get("x64"), catalog_cert=catalog_pair[0], catalog_key=catalog_pair[1],
            breaks=breaks, latest_text=latest_text)
        return self.built

    # -- runs -------------------------------------------------------------------------------
    def run(self, agent_args="", palisk_args="", program=None, agent_name="test_agent.exe", timeout=300):
        """Runs palisk.exe (or `program`) through the agent double; collects the results."""
        result = RunResult()
        agent = os.path.join(self.folder, "agent", agent_name)
        os.makedirs(os.path.dirname(agent), exist_ok=True)
        shutil.copyfile(os.path.join(TEST_BIN, "test_agent.exe"), agent)
        report = os.path.join(self.records, "agent-report-%d.txt" % next(_counter))
        started = time.time()
        target = program or os.path.join(self.dist, "palisk.exe")
        completed = wine(windows_path(agent), "--run", windows_path(target), "--args", palisk_args,
                         "--report", windows_path(report), "--temp", windows_path(self.temp),
                         *shlex.split(agent_args), timeout=timeout)
        result.stdout = completed.stdout + completed.stderr
        thread_id = None
        if os.path.exists(report):
            with open(report) as f:
                values = [int(x) for x in f.read().split()]
            thread_id, result.exit_code = values[1], values[2]
            result.peak_working_set = values[3] if len(values) > 3 else None
        if self.servers:
            result.requests = self.servers.requests()
        result.registry = read_registry_value("HKU\\.DEFAULT\\Software\\Vudidavi", "dwErrCode")
        result.temp_left = sorted(os.listdir(self.temp))
        installer_record = os.path.join(self.records, "installer.jsonl")
        if os.path.exists(installer_record):
            with open(installer_record, encoding="utf-8") as f:
                result.installer_runs = [json.loads(line) for line in f if line.strip()]
        if program is None and thread_id is not None:
            result.log = decode_run_log(thread_id, started)
        return result


def read_registry_value(key, name):
    completed = wine("reg", "query", key, "/v", name, timeout=60)
    for line in completed.stdout.decode("utf-8", "replace").splitlines():
        parts = line.split()
        if len(parts) >= 3 and parts[0] == name:
            value = parts[-1]
            return {"type": parts[1], "value": int(value, 16) if value.startswith("0x") else value}
    return {}


def decode_run_log(thread_id, not_before):
    """The run's joined binary log (first record: the main thread's start), decoded."""
    folder = os.path.join(PREFIX, "drive_c", "ProgramData", "ovroveveduzodi")
    if not os.path.isdir(folder):
        return []
    candidates = [os.path.join(folder, n) for n in os.listdir(folder)
                  if n.endswith(".palisk.bin") and os.path.getmtime(os.path.join(folder, n)) >= not_before - 2]
    for path in sorted(candidates, key=os.path.getmtime, reverse=True):
        completed = wine(os.path.join(DIST, "binlog_decode.exe"), "--json", windows_path(path), timeout=60)
        try:
            records = json.loads(completed.stdout.decode("utf-8"))
        except ValueError:
            continue
        if records and records[0].get("kind") == "thread-start" and records[0]["fields"][0] == thread_id:
            os.remove(path)
            return records
    return []
