"""The kit tool, the codecs and the test servers test themselves here (Linux side)."""
import base64
import http.client
import json
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import unittest
import urllib.request
import xml.etree.ElementTree as ElementTree

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
from build_tree import BUILD  # noqa: E402
PKI = os.path.join(BUILD, "pki")
sys.path.insert(0, os.path.join(ROOT, "tools", "kit"))
import authenticode  # noqa: E402
import codec  # noqa: E402
import kitserver  # noqa: E402
import kittool  # noqa: E402


def osslsigncode_verify(*args):
    return subprocess.run(["osslsigncode", "verify", "-CAfile", os.path.join(PKI, "root.crt"), *args],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


class Codecs(unittest.TestCase):
    def test_url_round_trip_uses_dashes_for_slashes(self):
        url = "http://kits.example:8443/a/b?lang=fr-FR&x=\u00e9\u00e9"
        encoded = codec.encode_url(url)
        self.assertNotIn("/", encoded)
        self.assertEqual(url, codec.decode_url(encoded))
        self.assertEqual(base64.b64encode(url.encode()).decode().replace("/", "-"), encoded)

    def test_blowfish_matches_the_published_vector(self):
        bf = codec.Blowfish(b"abcdefghijklmnopqrstuvwxyz")
        self.assertEqual((0x324ED0FE, 0xF413A203), bf.encipher(0x424C4F57, 0x46495348))

    def test_proxy_password_is_zero_padded_little_endian_blocks(self):
        text = codec.encrypt_proxy_password("pass")
        data = base64.b64decode(text)
        self.assertEqual(8, len(data))
        bf = codec.Blowfish(codec.PROXY_KEY)
        left, right = bf.encipher(int.from_bytes(b"pass", "little"), 0)
        self.assertEqual(left.to_bytes(4, "little") + right.to_bytes(4, "little"), data)
        self.assertEqual("", codec.encrypt_proxy_password(""))


class KitTool(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp()
        cls.source = os.path.join(cls.work, "source")
        os.makedirs(os.path.join(cls.source, "sub"))
        shutil.copyfile(os.path.join(BUILD, "tests", "bin", "test_installer.exe"),
                        os.path.join(cls.source, "Installer.exe"))
        with open(os.path.join(cls.source, "readme.txt"), "w") as f:
            f.write("read me\n")
        with open(os.path.join(cls.source, "sub", "data.bin"), "wb") as f:
            f.write(bytes(range(256)))
        cls.product = {"manufacturer": "Orvane", "productname": "Endpoint", "UpgradeCode": "{X}",
                       "minspaceavailabe": 5, "retry_fail": 2,
                       "config": {"proxyServer": "proxy.test", "proxyPort": 3128, "proxyUser": "u",
                                  "proxyPass": "p\u00e4ss", "keepSettings": "1"}}

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work)

    def build(self, name, **options):
        out = os.path.join(self.work, name)
        kittool.build_kit(self.product, out, "http://127.0.0.1:1/", os.path.join(PKI, "publisher.chain.pem"),
                          os.path.join(PKI, "publisher.key"), files_win32=self.source, files_x64=self.source,
                          **options)
        return out

    def test_tree_descriptors_and_signatures(self):
        out = self.build("good")
        self.assertEqual("1.0.0 kits/1.0.0\n", open(os.path.join(out, "latest.dat")).read())
        config = ElementTree.parse(os.path.join(out, "installer.xml")).getroot()
        self.assertEqual("http://127.0.0.1:1/", config.findtext("downloadUrl"))
        self.assertEqual("3128", config.findtext("proxyPort"))
        self.assertEqual(codec.encrypt_proxy_password("p\u00e4ss"), config.findtext("proxyPass"))
        for architecture in ("win32", "x64"):
            folder = os.path.join(out, "kits", "1.0.0", architecture)
            data = ElementTree.parse(os.path.join(folder, "data.xml")).getroot()
            self.assertEqual("Orvane", data.findtext("manufacturer"))
            self.assertEqual("5", data.findtext("minspaceavailabe"))
            names = [f.get("name") for f in data.find("files")]
            self.assertEqual(["Installer.exe", "readme.txt", "sub/data.bin"], names)
            self.assertEqual("256", data.find("files")[2].get("size"))
            cat = os.path.join(folder, "kit.cat")
            self.assertIn("Succeeded", osslsigncode_verify("-in", cat).stdout)
            self.assertIn("Succeeded", osslsigncode_verify("-in", os.path.join(folder, "Installer.exe")).stdout)
            # The catalog really lists the signed installer's image hash.
            self.assertIn("Succeeded", osslsigncode_verify("-catalog", cat, "-in",
                                                           os.path.join(folder, "Installer.exe")).stdout)
            client = "x86" if architecture == "win32" else "x64"
            raw = open(cat, "rb").read()
            self.assertIn((client + "\\sub\\data.bin").encode("utf-16-le"), raw)

    def test_image_hash_ignores_the_signature(self):
        unsigned = open(os.path.join(self.source, "Installer.exe"), "rb").read()
        signed = open(os.path.join(self.build("hash"), "kits", "1.0.0", "win32", "Installer.exe"), "rb").read()
        self.assertNotEqual(unsigned, signed)
        self.assertEqual(authenticode.pe_image_hash(unsigned), authenticode.pe_image_hash(signed))

    def test_members_windows_hashes_by_their_own_subject_are_refused(self):
        # Windows would digest these through their own subject interfaces, never as the
        # catalog's flat or image hash: a kit holding one could never verify there.
        for name, data in (("setup.cab", b"MSCF\0\0\0\0"), ("renamed.bin", b"MSCF\0\0\0\0"),
                           ("product.msi", b"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"),
                           ("inner.dat", b"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"), ("other.cat", b"0"),
                           ("Tools/Run.PS1", b"Write-Host")):
            with self.assertRaises(ValueError, msg=name):
                kittool.refuse_own_subject(name, data)
        for name, data in (("readme.txt", b"MSC"), ("Installer.exe", b"MZ"), ("sub/data.bin", b"\xD0\xCF")):
            kittool.refuse_own_subject(name, data)

    def test_breaking_rules(self):
        out = self.build("broken", breaks=["unsigned-catalog", "missing-size:readme.txt", "dotdot-name",
                                           "wrong-digest:Installer.exe", "tamper-file:sub/data.bin"])
        folder = os.path.join(out, "kits", "1.0.0", "win32")
        self.assertNotIn("Succeeded", osslsigncode_verify("-in", os.path.join(folder, "kit.cat")).stdout)
        files = ElementTree.parse(os.path.join(folder, "data.xml")).getroot().find("files")
        readme = [f for f in files if f.get("name") == "readme.txt"][0]
        self.assertIsNone(readme.get("size"))
        self.assertTrue(any(".." in f.get("name") for f in files))
        self.assertTrue(open(os.path.join(folder, "sub", "data.bin"), "rb").read().endswith(b"tampered"))

    def test_sha1_member_and_other_signers(self):
        out = self.build("sha1", breaks=["sha1-member:readme.txt"],
                         catalog_cert=os.path.join(PKI, "o-different.chain.pem"),
                         catalog_key=os.path.join(PKI, "o-different.key"))
        cat = os.path.join(out, "kits", "1.0.0", "win32", "kit.cat")
        verified = osslsigncode_verify("-in", cat).stdout
        self.assertIn("Orvane Labs SRL", verified)

    def test_altered_catalog_no_longer_verifies(self):
        out = self.build("altered", breaks=["catalog-altered"])
        cat = os.path.join(out, "kits", "1.0.0", "win32", "kit.cat")
        self.assertNotIn("Succeeded", osslsigncode_verify("-in", cat).stdout)

    def test_command_line(self):
        run = subprocess.run([sys.executable, os.path.join(ROOT, "tools", "kit", "kittool.py"), "encode-url",
                              "http://h/k"], stdout=subprocess.PIPE, text=True, check=True)
        self.assertEqual(codec.encode_url("http://h/k"), run.stdout.strip())


class Servers(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp()
        os.makedirs(os.path.join(cls.root, "kits"))
        cls.payload = bytes(range(256)) * 64  # 16 KiB
        with open(os.path.join(cls.root, "kits", "file.bin"), "wb") as f:
            f.write(cls.payload)
        cls.servers = kitserver.Servers(cls.root, os.path.join(PKI, "tls"), proxy=True, proxy_auth="user:secret")

    @classmethod
    def tearDownClass(cls):
        cls.servers.close()
        shutil.rmtree(cls.root)

    def setUp(self):
        self.servers.rules.set([])
        self.servers.recorder.reset()
        self.servers.proxy.failure = None

    def get(self, path, timeout=10):
        connection = http.client.HTTPConnection("127.0.0.1", self.servers.ports["http"], timeout=timeout)
        try:
            connection.request("GET", path)
            response = connection.getresponse()
            return response, response.read()
        finally:
            connection.close()

    def test_serves_files_and_records_requests(self):
        response, body = self.get("/kits/file.bin?fakeparam=12")
        self.assertEqual(200, response.status)
        self.assertEqual(self.payload, body)
        self.assertEqual(404, self.get("/kits/missing.bin")[0].status)
        record = self.servers.requests()[0]
        self.assertEqual(("GET", "/kits/file.bin", "fakeparam=12"), (record["method"], record["path"], record["query"]))

    def test_status_link_form_field_is_recorded(self):
        connection = http.client.HTTPConnection("127.0.0.1", self.servers.ports["http"], timeout=10)
        connection.request("POST", "/mgmt/status", body="json=%7B%22a%22%3A%201%7D",
                           headers={"Content-Type": "application/x-www-form-urlencoded"})
        self.assertEqual(b"OK", connection.getresponse().read())
        self.assertEqual('{"a": 1}', self.servers.requests()[0]["form"]["json"])

    def test_absolute_uri_request_line(self):
        with socket.create_connection(("127.0.0.1", self.servers.ports["http"])) as s:
            s.sendall(b"GET http://origin.test/kits/file.bin HTTP/1.1\r\nHost: origin.test\r\nConnection: close\r\n\r\n")
            data = b""
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                data += chunk
        self.assertTrue(data.startswith(b"HTTP/1.1 200"))
        self.assertEqual("/kits/file.bin", self.servers.requests()[0]["path"])

    def test_status_rule_for_the_first_requests_only(self):
        self.servers.rules.set([{"path": "file.bin$", "status": 503, "first": 2}])
        self.assertEqual([503, 503, 200], [self.get("/kits/file.bin")[0].status for _ in range(3)])

    def test_close_and_reset_after_some_bytes(self):
        self.servers.rules.set([{"path": "file.bin$", "close_after": 1000}])
        with self.assertRaises(http.client.IncompleteRead) as raised:
            self.get("/kits/file.bin")
        self.assertEqual(1000, len(raised.exception.partial))
        self.servers.rules.set([{"path": "file.bin$", "reset_after": 100}])
        with self.assertRaises((ConnectionResetError, http.client.IncompleteRead)):
            self.get("/kits/file.bin")

    def test_stall_and_wrong_content_length(self):
        self.servers.rules.set([{"path": "stall", "stall": 3}])
        with self.assertRaises(socket.timeout):
            self.get("/kits/stall", timeout=1)
        self.servers.rules.set([{"path": "file.bin$", "content_length": len(self.payload) + 10}])
        with self.assertRaises(http.client.IncompleteRead):
            self.get("/kits/file.bin")

    def test_https_with_a_self_signed_certificate(self):
        context = ssl.create_default_context()
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        with urllib.request.urlopen(self.servers.url("https") + "kits/file.bin", context=context) as response:
            self.assertEqual(self.payload, response.read())
        self.assertEqual("https", self.servers.requests()[0]["server"])

    def proxy_opener(self, credentials="user:secret"):
        proxy = "http://%s127.0.0.1:%d" % (credentials + "@" if credentials else "", self.servers.ports["proxy"])
        return urllib.request.build_opener(urllib.request.ProxyHandler({"http": proxy}))

    def test_proxy_forwards_with_basic_auth_and_host_alias(self):
        url = "http://origin.test:%d/kits/file.bin" % self.servers.ports["http"]
        with self.proxy_opener().open(url, timeout=10) as response:
            self.assertEqual(self.payload, response.read())
        kinds = [r["server"] for r in self.servers.requests()]
        self.assertEqual(["proxy", "http"], kinds)
        with self.assertRaises(urllib.error.HTTPError) as refused:
            self.proxy_opener(None).open(url, timeout=10)
        self.assertEqual(407, refused.exception.code)

    def test_proxy_connect_tunnel(self):
        with socket.create_connection(("127.0.0.1", self.servers.ports["proxy"])) as s:
            auth = base64.b64encode(b"user:secret").decode()
            s.sendall(("CONNECT origin.test:%d HTTP/1.1\r\nProxy-Authorization: Basic %s\r\n\r\n"
                       % (self.servers.ports["https"], auth)).encode())
            self.assertTrue(s.recv(1024).startswith(b"HTTP/1.1 200"))
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
            context.check_hostname = False
            context.verify_mode = ssl.CERT_NONE
            with context.wrap_socket(s) as tls:
                tls.sendall(b"GET /kits/file.bin HTTP/1.1\r\nHost: origin.test\r\nConnection: close\r\n\r\n")
                self.assertTrue(tls.recv(64).startswith(b"HTTP/1.1 200"))

    def test_proxy_failure_modes(self):
        url = "http://origin.test:%d/kits/file.bin" % self.servers.ports["http"]
        self.servers.proxy.failure = "status:502"
        with self.assertRaises(urllib.error.HTTPError) as failed:
            self.proxy_opener().open(url, timeout=10)
        self.assertEqual(502, failed.exception.code)
        self.servers.proxy.failure = "refuse"
        with self.assertRaises((urllib.error.URLError, ConnectionError, http.client.RemoteDisconnected)):
            self.proxy_opener().open(url, timeout=10)

    def test_control_endpoints(self):
        connection = http.client.HTTPConnection("127.0.0.1", self.servers.ports["http"], timeout=10)
        connection.request("POST", "/__control/rules", body=json.dumps([{"path": "x$", "status": 418}]))
        connection.getresponse().read()
        self.assertEqual(418, self.get("/x")[0].status)
        connection.request("GET", "/__control/requests")
        records = json.loads(connection.getresponse().read())
        self.assertEqual(["/x"], [r["path"] for r in records])


if __name__ == "__main__":
    unittest.main()
