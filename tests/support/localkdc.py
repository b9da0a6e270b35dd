"""A private MIT Kerberos KDC for the tests: realm EXAMPLE.COM in a
temporary folder, on a free loopback port, with the user "alice" and the
service principal "hive/localhost" (its key in a keytab for the test
server). The environment for clients (KRB5_CONFIG, KRB5CCNAME) and for the
server (KRB5_KTNAME) points into the folder.

As a script: `localkdc.py FOLDER` makes a KDC there, gets alice's ticket
into FOLDER/cc with kinit, and stops the KDC again (a test that only needs
the cache kinit writes)."""
import os
import shutil
import socket
import subprocess
import sys
import time

REALM = "EXAMPLE.COM"
USER = "alice"
SERVICE = "hive/localhost"
TOOLS = ("kdb5_util", "kadmin.local", "krb5kdc", "kinit", "kdestroy")


def missing_tools():
    """The KDC and client programs that are not installed."""
    path = os.environ.get("PATH", "") + ":/usr/sbin:/sbin"
    return [t for t in TOOLS if shutil.which(t, path=path) is None]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class LocalKdc:
    def __init__(self, folder):
        self.folder = folder
        self.port = free_port()
        self.proc = None
        self.path = os.environ.get("PATH", "") + ":/usr/sbin:/sbin"
        self.conf = os.path.join(folder, "krb5.conf")
        self.cache = os.path.join(folder, "cc")
        self.keytab = os.path.join(folder, "hive.keytab")
        self.user_keytab = os.path.join(folder, "alice.keytab")
        with open(self.conf, "w") as f:
            f.write("[libdefaults]\n default_realm = %s\n dns_lookup_kdc = false\n"
                    " dns_lookup_realm = false\n rdns = false\n dns_canonicalize_hostname = false\n"
                    " udp_preference_limit = 1\n[realms]\n %s = {\n  kdc = 127.0.0.1:%d\n }\n"
                    % (REALM, REALM, self.port))
        with open(os.path.join(folder, "kdc.conf"), "w") as f:
            f.write("[kdcdefaults]\n kdc_listen = 127.0.0.1:%d\n kdc_tcp_listen = 127.0.0.1:%d\n"
                    "[realms]\n %s = {\n  database_name = %s/principal\n  key_stash_file = %s/stash\n"
                    "  acl_file = %s/kadm5.acl\n  max_life = 1d\n }\n[logging]\n kdc = FILE:%s/kdc.log\n"
                    % (self.port, self.port, REALM, folder, folder, folder, folder))
        open(os.path.join(folder, "kadm5.acl"), "w").close()
        self.env = dict(os.environ, KRB5_CONFIG=self.conf,
                        KRB5_KDC_PROFILE=os.path.join(folder, "kdc.conf"),
                        KRB5CCNAME="FILE:" + self.cache, PATH=self.path)

    def run(self, *args):
        subprocess.run(list(args), env=self.env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE, timeout=60)

    def start(self):
        """Database, principals, keytabs and the KDC itself."""
        self.run("kdb5_util", "create", "-s", "-r", REALM, "-P", "master-of-the-test-realm")
        self.run("kadmin.local", "-q", "addprinc -pw alice-password %s" % USER)
        self.run("kadmin.local", "-q", "addprinc -randkey %s" % SERVICE)
        self.run("kadmin.local", "-q", "ktadd -k %s %s" % (self.keytab, SERVICE))
        self.run("kadmin.local", "-q", "ktadd -k %s -norandkey %s" % (self.user_keytab, USER))
        self.proc = subprocess.Popen(["krb5kdc", "-n"], env=self.env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        # The KDC listens once it has read its database.
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=1):
                    return
            except OSError:
                if self.proc.poll() is not None:
                    raise RuntimeError("krb5kdc ended at once")
                time.sleep(0.1)
        raise RuntimeError("krb5kdc did not start listening")

    def kinit(self, lifetime=None):
        args = ["kinit", "-kt", self.user_keytab]
        if lifetime:
            args += ["-l", lifetime]
        self.run(*(args + [USER]))

    def kdestroy(self):
        subprocess.run(["kdestroy"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30)

    def stop(self):
        if self.proc is not None:
            self.proc.terminate()
            self.proc.wait(timeout=30)
            self.proc = None


if __name__ == "__main__":
    kdc = LocalKdc(sys.argv[1])
    try:
        kdc.start()
        kdc.kinit()
    finally:
        kdc.stop()
