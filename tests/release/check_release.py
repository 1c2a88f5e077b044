#!/usr/bin/python3
"""The release as people get it: `make dist`'s zip, its Authenticode
signatures made with a throwaway certificate authority, and the winget and
Scoop manifests checked against the official schemas.

    check_release.py                              the release
    check_release.py WINE-RUN PREFIX E2E-TESTS.exe  the signed program runs

The second packs and signs the programs of KARVO_WINDOWS_BUILD (the 64-bit
build, where this machine runs no 32-bit programs), starts the signed Karvo.exe
under Wine and drives it with the end-to-end tests.
"""
import glob
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

import jsonschema
import yaml

RUNNER = sys.argv[1:4] if len(sys.argv) >= 4 else []
del sys.argv[1:1 + len(RUNNER)]
ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SCHEMAS = os.path.join(os.path.dirname(__file__), "schemas")
PASSWORD = "pw-Zq81-never-shown"
PROGRAMS = ["Karvo.exe", "karvo-size.exe"]
VERSION = open(os.path.join(ROOT, "VERSION")).read().strip()
ZIP = f"Karvo-{VERSION}-win32.zip"
RELEASE_URL = f"https://downloads.example.org/karvo&co/{VERSION}"


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


def make_certificates(folder):
    """A certificate authority, a code-signing certificate from it (as PEM and as
    PKCS#12 with a password), and one without the code-signing purpose."""
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
            "-subj", "/CN=Karvo Test CA", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)
    for name, usage in (("sign", "codeSigning"), ("web", "serverAuth")):
        with open(os.path.join(folder, name + ".ext"), "w") as f:
            f.write(f"basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage={usage}\n")
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out", name + ".csr",
                "-subj", "/CN=Kivimaa", cwd=folder)
        openssl("x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                "-out", name + ".pem", "-days", "2", "-extfile", name + ".ext", cwd=folder)
    openssl("pkcs12", "-export", "-in", "sign.pem", "-inkey", "sign.key", "-out", "sign.p12",
            "-passout", "pass:" + PASSWORD, cwd=folder)


class Dists(unittest.TestCase):
    """Keys, shims and a scratch folder for make-dist's runs."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="karvo-release.")
        cls.keys = os.path.join(cls.folder, "keys")
        os.makedirs(cls.keys)
        make_certificates(cls.keys)
        # Every openssl and osslsigncode that make-dist starts writes its
        # command line here first, so that the test can look for the password.
        cls.shims = os.path.join(cls.folder, "shims")
        cls.command_lines = os.path.join(cls.folder, "command-lines")
        os.makedirs(cls.shims)
        for tool in ("openssl", "osslsigncode"):
            with open(os.path.join(cls.shims, tool), "w") as f:
                f.write(f'#!/bin/sh\necho "{tool} $*" >>"{cls.command_lines}"\nexec /usr/bin/{tool} "$@"\n')
            os.chmod(os.path.join(cls.shims, tool), 0o755)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder)

    @classmethod
    def key(cls, name):
        return os.path.join(cls.keys, name)

    @classmethod
    def make_dist(cls, name, **signing):
        out = os.path.join(cls.folder, name)
        env = {k: v for k, v in os.environ.items() if not k.startswith("KARVO_SIGN_")}
        # An & in the address, which a careless text replacement would turn into the matched text.
        env.update(DIST_DIR=out, RELEASE_URL=RELEASE_URL, PATH=cls.shims + os.pathsep + os.environ["PATH"])
        env.update(signing)
        run = subprocess.run([os.path.join(ROOT, "scripts", "make-dist")], env=env, capture_output=True, text=True)
        return {"dir": out, "code": run.returncode, "out": run.stdout, "err": run.stderr}

    def unpacked(self, dist):
        folder = os.path.join(dist["dir"], "unpacked")
        if not os.path.isdir(folder):
            with zipfile.ZipFile(os.path.join(dist["dir"], ZIP)) as archive:
                archive.extractall(folder)
        return folder

    @classmethod
    def make_signed_dist(cls):
        return cls.make_dist("pkcs12", KARVO_SIGN_PKCS12=cls.key("sign.p12"), KARVO_SIGN_PASSWORD=PASSWORD)


class Release(Dists):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.unsigned = cls.make_dist("unsigned")
        cls.pem = cls.make_dist("pem", KARVO_SIGN_CERT=cls.key("sign.pem"), KARVO_SIGN_KEY=cls.key("sign.key"))
        cls.pkcs12 = cls.make_signed_dist()

    def test_unsigned_build_says_so_and_packs_both_programs_and_the_licence(self):
        self.assertEqual(self.unsigned["code"], 0, self.unsigned["err"])
        self.assertIn("unsigned", self.unsigned["out"].splitlines()[0])
        with zipfile.ZipFile(os.path.join(self.unsigned["dir"], ZIP)) as archive:
            self.assertEqual(archive.namelist(), PROGRAMS + ["karvo-size.schema.json", "README.txt", "LICENSE.txt",
                                                             "SHA256SUMS"])
            licence = archive.read("LICENSE.txt").decode()
            sums = archive.read("SHA256SUMS").decode().splitlines()
        self.assertIn("MIT License", licence)
        self.assertIn("Copyright (c) 2026 Kivimaa", licence)
        folder = self.unpacked(self.unsigned)
        for line in sums:
            digest, name = line.split()
            with open(os.path.join(folder, name), "rb") as f:
                self.assertEqual(hashlib.sha256(f.read()).hexdigest(), digest, name)
        for program in PROGRAMS:
            with open(os.path.join(folder, program), "rb") as f, \
                    open(os.path.join(ROOT, "build", "windows", program), "rb") as built:
                self.assertEqual(f.read(), built.read(), "unsigned means as built")

    def test_signatures_verify_against_the_authority(self):
        for dist in (self.pem, self.pkcs12):
            self.assertEqual(dist["code"], 0, dist["err"])
            self.assertIn("signed", dist["out"].splitlines()[0])
            for program in PROGRAMS:
                verify = subprocess.run(["osslsigncode", "verify", "-CAfile", self.key("ca.pem"),
                                         "-in", os.path.join(self.unpacked(dist), program)],
                                        capture_output=True, text=True)
                self.assertEqual(verify.returncode, 0, verify.stdout + verify.stderr)
                self.assertIn("Signature verification: ok", verify.stdout)
                self.assertIn("sha256", verify.stdout.lower())
            # Another authority does not vouch for it.
            other = os.path.join(self.folder, "other-ca.pem")
            if not os.path.exists(other):
                openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "other-ca.key", "-out", other,
                        "-days", "2", "-subj", "/CN=Someone Else", cwd=self.folder)
            verify = subprocess.run(["osslsigncode", "verify", "-CAfile", other,
                                     "-in", os.path.join(self.unpacked(dist), "Karvo.exe")], capture_output=True)
            self.assertNotEqual(verify.returncode, 0)

    def test_removing_the_signature_gives_back_the_unsigned_bytes(self):
        for program in PROGRAMS:
            stripped = os.path.join(self.folder, "stripped-" + program)
            subprocess.run(["osslsigncode", "remove-signature", "-in", os.path.join(self.unpacked(self.pkcs12), program),
                            "-out", stripped], check=True, capture_output=True)
            with open(stripped, "rb") as f, open(os.path.join(self.unpacked(self.unsigned), program), "rb") as unsigned:
                self.assertEqual(f.read(), unsigned.read(), program)

    def test_the_password_never_shows(self):
        with open(self.command_lines) as f:
            lines = f.read()
        self.assertIn("osslsigncode sign", lines, "the shims saw the signing")
        self.assertNotIn(PASSWORD, lines, "a command line carries the password")
        for dist in (self.pem, self.pkcs12):
            self.assertNotIn(PASSWORD, dist["out"] + dist["err"])

    def test_bad_keys_get_a_clear_error_and_leave_nothing(self):
        cases = {
            "wrong-password": ({"KARVO_SIGN_PKCS12": self.key("sign.p12"), "KARVO_SIGN_PASSWORD": "nope"},
                               "wrong password"),
            "no-password": ({"KARVO_SIGN_PKCS12": self.key("sign.p12")}, "wrong password"),
            "missing-p12": ({"KARVO_SIGN_PKCS12": self.key("missing.p12")}, "cannot read"),
            "missing-key": ({"KARVO_SIGN_CERT": self.key("sign.pem"), "KARVO_SIGN_KEY": self.key("missing.key")},
                            "cannot read"),
            "key-only": ({"KARVO_SIGN_KEY": self.key("sign.key")}, "both"),
            "not-for-code": ({"KARVO_SIGN_CERT": self.key("web.pem"), "KARVO_SIGN_KEY": self.key("web.key")},
                             "not for code signing"),
            "mismatched-key": ({"KARVO_SIGN_CERT": self.key("sign.pem"), "KARVO_SIGN_KEY": self.key("web.key")},
                               "signing Karvo.exe failed"),
            "quote-in-url": ({"RELEASE_URL": "https://downloads.example.org/karvo's/"}, "may not hold quotes"),
        }
        for name, (signing, message) in cases.items():
            with self.subTest(name):
                # A previous release in the folder must survive a failed one untouched.
                out = os.path.join(self.folder, name)
                os.makedirs(out)
                with open(os.path.join(out, ZIP), "wb") as f:
                    f.write(b"previous release")
                result = self.make_dist(name, **signing)
                self.assertNotEqual(result["code"], 0)
                self.assertIn(message, result["err"])
                self.assertNotIn(PASSWORD, result["err"])
                self.assertEqual(sorted(os.listdir(out)), [ZIP], "something new was left")
                with open(os.path.join(out, ZIP), "rb") as f:
                    self.assertEqual(f.read(), b"previous release")

    def test_manifests_follow_the_official_schemas_and_name_the_zip(self):
        with open(os.path.join(self.pkcs12["dir"], ZIP), "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        url = f"{RELEASE_URL}/{ZIP}"
        winget = {}
        for path in glob.glob(os.path.join(self.pkcs12["dir"], "winget", "*.yaml")):
            with open(path, encoding="utf-8") as f:
                document = yaml.safe_load(f)
            kind = document["ManifestType"]
            with open(os.path.join(SCHEMAS, "winget", f"manifest.{kind}.1.28.0.json")) as f:
                jsonschema.validate(document, json.load(f))
            winget[kind] = document
        self.assertEqual(sorted(winget), ["defaultLocale", "installer", "version"])
        for document in winget.values():
            self.assertEqual((document["PackageIdentifier"], document["PackageVersion"]), ("Kivimaa.Karvo", VERSION))
            self.assertIsInstance(document["ManifestVersion"], str)
        installer = winget["installer"]
        self.assertEqual(installer["Installers"], [{"Architecture": "x86", "InstallerUrl": url,
                                                    "InstallerSha256": digest.upper()}])
        self.assertEqual((installer["InstallerType"], installer["NestedInstallerType"]), ("zip", "portable"))
        self.assertIn({"RelativeFilePath": "karvo-size.exe", "PortableCommandAlias": "karvo-size"},
                      installer["NestedInstallerFiles"])
        self.assertEqual(winget["defaultLocale"]["License"], "MIT")

        with open(os.path.join(self.pkcs12["dir"], "scoop", "karvo.json"), encoding="utf-8") as f:
            scoop = json.load(f)
        with open(os.path.join(SCHEMAS, "scoop", "schema.json")) as f:
            jsonschema.validate(scoop, json.load(f))
        self.assertEqual((scoop["url"], scoop["hash"], scoop["license"]), (url, digest, "MIT"))
        self.assertEqual(scoop["bin"], PROGRAMS)
        self.assertEqual(scoop["shortcuts"], [["Karvo.exe", "Karvo"]])

    def test_the_schemas_are_the_official_copies(self):
        shared = os.path.join(ROOT, "..", "shared", "schemas")
        if not os.path.isdir(shared):
            self.skipTest("no shared copy beside the project to compare with")
        for path in glob.glob(os.path.join(SCHEMAS, "*", "*.json")):
            relative = os.path.relpath(path, SCHEMAS)
            with open(path, "rb") as mine, open(os.path.join(shared, relative), "rb") as theirs:
                self.assertEqual(mine.read(), theirs.read(), relative)


class SignedProgram(Dists):
    def test_the_signed_program_runs_under_wine(self):
        signed_dist = self.make_signed_dist()
        self.assertEqual(signed_dist["code"], 0, signed_dist["err"])
        signed = os.path.join(self.unpacked(signed_dist), "Karvo.exe")
        with tempfile.TemporaryFile() as log:
            run = subprocess.run([*RUNNER, signed,
                                  "--gtest_filter=MainDialog.NtfsAnd120*:MainDialog.EveryWayOutEndsAndLeavesNoWindow"],
                                 stdout=log, stderr=subprocess.STDOUT, timeout=180)
            log.seek(0)
            output = log.read().decode("utf-8", "replace")
        self.assertEqual(run.returncode, 0, output)
        self.assertIn("[  PASSED  ] 2 tests", output)


if __name__ == "__main__":
    unittest.main(defaultTest="SignedProgram" if RUNNER else "Release")
