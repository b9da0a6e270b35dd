// TLS peers for the tests: a private folder of certificates made with the
// openssl command (a CA, server certificates for localhost, for a wrong
// host, a wildcard, an expired and a self-signed one, one under a CA that may not sign,
// client keys as PEM and PKCS#12), and servers on free loopback ports:
// openssl s_server and the Python TLS peer of tests/transport/tlspeer.py.
// Every server is stopped by its process id with its object.
#pragma once
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/sourceroot.h"

extern char** environ;

namespace katest {

// Runs a shell command in dir; true when it succeeded.
inline bool runIn(const std::string& dir, const std::string& command)
{
    std::string line = "cd '" + dir + "' && { " + command + " ; } >/dev/null 2>&1";
    return std::system(line.c_str()) == 0;
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The certificates, made once per test program in a private folder that
// goes at exit.
class TlsFiles {
public:
    static const TlsFiles& get()
    {
        static TlsFiles files;
        return files;
    }

    bool ok = false;
    std::string dir;
    std::string path(const std::string& name) const { return dir + "/" + name; }

private:
    TlsFiles()
    {
        char templ[] = "/tmp/ka-tls-XXXXXX";
        if (mkdtemp(templ) == nullptr)
            return;
        dir = templ;
        const std::string key = "openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ";
        auto leaf = [&](const std::string& name, const std::string& cn, const std::string& san, const std::string& ca,
                        const std::string& usage) {
            return runIn(dir, key + name + ".key") &&
                   runIn(dir, "openssl req -new -key " + name + ".key -subj '/CN=" + cn + "' -out " + name + ".csr") &&
                   runIn(dir, "printf 'subjectAltName=" + san +
                                  "\\nbasicConstraints=CA:FALSE\\nkeyUsage=digitalSignature\\nextendedKeyUsage=" +
                                  usage + "\\n' > " + name + ".ext") &&
                   runIn(dir, "openssl x509 -req -in " + name + ".csr -CA " + ca + ".pem -CAkey " + ca +
                                  ".key -CAcreateserial -days 30 -out " + name + ".pem -extfile " + name + ".ext");
        };
        ok = runIn(dir, key + "ca.key") &&
             runIn(dir, "openssl req -x509 -new -key ca.key -subj '/CN=Driver Test CA' -days 30 -out ca.pem "
                        "-addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign") &&
             runIn(dir, key + "badca.key") &&
             runIn(dir, "openssl req -x509 -new -key badca.key -subj '/CN=Driver Test Signing-Forbidden CA' -days 30 "
                        "-out badca.pem -addext basicConstraints=critical,CA:TRUE "
                        "-addext keyUsage=critical,digitalSignature") &&
             leaf("server", "localhost", "DNS:localhost,IP:127.0.0.1", "ca", "serverAuth") &&
             leaf("wronghost", "elsewhere.example", "DNS:elsewhere.example", "ca", "serverAuth") &&
             leaf("badsigned", "localhost", "DNS:localhost", "badca", "serverAuth") &&
             leaf("client", "driver client", "DNS:client.example", "ca", "clientAuth") &&
             leaf("wildcard", "wildcard", "DNS:*.example.test", "ca", "serverAuth") && runIn(dir, key + "self.key") &&
             runIn(dir, "openssl req -x509 -new -key self.key -subj /CN=localhost -days 30 -out self.pem "
                        "-addext subjectAltName=DNS:localhost") &&
             // The expired certificate needs explicit dates, which only the ca command takes.
             runIn(dir, key + "expired.key") &&
             runIn(dir, "openssl req -new -key expired.key -subj /CN=localhost -addext subjectAltName=DNS:localhost "
                        "-out expired.csr") &&
             runIn(dir, "touch index.txt && echo 01 > serial && printf '[ca]\\ndefault_ca=d\\n[d]\\ndatabase=" + dir +
                            "/index.txt\\nnew_certs_dir=" + dir + "\\nserial=" + dir +
                            "/serial\\ndefault_md=sha256\\npolicy=p\\ncopy_extensions=copy\\nunique_subject=no\\n"
                            "[p]\\ncommonName=supplied\\n' > ca.cnf") &&
             runIn(dir, "openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in expired.csr "
                        "-out expired.pem -startdate 20200101000000Z -enddate 20200201000000Z -notext") &&
             runIn(dir, "cat client.pem client.key > client-combined.pem") &&
             runIn(dir, "openssl pkey -in client.key -aes256 -passout pass:keypw -out client-enc.key && "
                        "cat client.pem client-enc.key > client-encrypted.pem") &&
             runIn(dir, "openssl pkcs12 -export -in client.pem -inkey client.key -out client.p12 "
                        "-passout pass:storepw") &&
             runIn(dir, "openssl pkcs12 -export -in client.pem -inkey client.key -out client.der.p12 "
                        "-passout pass:storepw") &&
             runIn(dir, "openssl pkcs12 -export -nokeys -in ca.pem -out trust.p12 -passout pass:trustpw") &&
             runIn(dir, "mkdir cadir && cp ca.pem cadir/ && openssl rehash cadir");
    }
    ~TlsFiles()
    {
        if (!dir.empty())
            runIn("/tmp", "rm -rf '" + dir + "'");
    }
};

// Writes a key store of the driver's own format into the folder: the
// client's key and certificate as PKCS#12 under a password that the file
// holds enciphered (kind 'A': DES, kind '!': AES-128, both by the openssl
// command under the store's fixed IVs); version '8' binds the password to
// this host and user through HMAC-SHA1 (Python's hmac). hexCase 'X' writes
// kind 'A' in upper-case hexadecimal. True when the file was made.
inline bool makeOwnKeyStore(const std::string& name, char kind, char version, const uint8_t* desIv,
                            const uint8_t* aesIv, char hexCase = 'x', int padding = -1)
{
    const TlsFiles& f = TlsFiles::get();
    auto hex = [](const uint8_t* p, size_t n) {
        std::string out;
        char b[3];
        for (size_t i = 0; i < n; ++i) {
            snprintf(b, sizeof b, "%02x", p[i]);
            out += b;
        }
        return out;
    };
    const std::string password = "storepw";
    std::string plain = password;
    std::string key;
    std::string cipher;
    if (kind == 'A') {
        key = "0123456789abcdef";
        int n = padding >= 0 ? padding : int(24 - password.size());
        plain.append(24 - password.size(), char(n));
        cipher = "des-cbc -provider legacy -provider default";
    } else {
        key = "00112233445566778899aabbccddeeff";
        plain.append(16 - password.size(), '\0');
        cipher = "aes-128-cbc";
    }
    std::ofstream(f.path(name + ".plain"), std::ios::binary) << plain;
    std::string iv = kind == 'A' ? hex(desIv, 8) : hex(aesIv, 16);
    if (!runIn(f.dir, "openssl enc -" + cipher + " -nopad -K " + key + " -iv " + iv + " -in " + name + ".plain -out " +
                          name + ".cipher"))
        return false;
    std::string enciphered = readFile(f.path(name + ".cipher"));
    std::string p12Password = password;
    if (version == '8') {
        // The password buffer as the reader holds it: the deciphered bytes
        // with a zero where the password ends, over 24 or 16 bytes.
        std::string buffer = plain;
        buffer[password.size()] = '\0';
        std::ofstream(f.path(name + ".buffer"), std::ios::binary) << buffer;
        if (!runIn(f.dir, "/usr/bin/python3 -c \"import hmac,hashlib,socket,getpass,sys;"
                          "d=hmac.new((socket.gethostname()+getpass.getuser()).encode(),open('" +
                              name +
                              ".buffer','rb').read(),hashlib.sha1).digest();"
                              "sys.stdout.write(''.join(chr((b&0x7f)%127+1) for b in d[:16]))\" > " +
                              name + ".bound"))
            return false;
        p12Password = readFile(f.path(name + ".bound"));
    }
    setenv("KA_TEST_P12_PASSWORD", p12Password.c_str(), 1);
    if (!runIn(f.dir, "openssl pkcs12 -export -in client.pem -inkey client.key -out " + name +
                          ".p12 -passout env:KA_TEST_P12_PASSWORD"))
        return false;
    std::string file;
    file += std::string("\xA1\xF8\x4E", 3);
    file += version;
    file += std::string(3, '\0');
    file += char(5);
    file += "abc";
    file += kind;
    std::string keyBytes;
    for (size_t i = 0; i < key.size(); i += 2)
        keyBytes += char(std::stoi(key.substr(i, 2), nullptr, 16));
    if (kind == 'A') {
        std::string field = "x" + hex(reinterpret_cast<const uint8_t*>(keyBytes.data()), keyBytes.size()) +
                            hex(reinterpret_cast<const uint8_t*>(enciphered.data()), enciphered.size());
        if (hexCase == 'X')
            for (char& c : field)
                c = char(toupper(c));
        file += field;
    } else {
        file += 'z';
        file += keyBytes;
        file += enciphered;
    }
    file += readFile(f.path(name + ".p12"));
    std::ofstream(f.path(name), std::ios::binary) << file;
    return true;
}

// A server process whose first line on standard output (or the line that
// starts with ACCEPT) tells its port; its standard input stays open.
class PeerProcess {
public:
    explicit PeerProcess(std::vector<std::string> args)
    {
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        int in[2];
        if (pipe(out) != 0)
            return;
        if (pipe(in) != 0) {
            close(out[0]);
            close(out[1]);
            return;
        }
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_addclose(&fa, out[0]);
        posix_spawn_file_actions_addclose(&fa, in[1]);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        close(out[1]);
        close(in[0]);
        input_ = in[1];
        output_ = out[0];
        std::string line;
        char c;
        while (pid_ > 0 && read(output_, &c, 1) == 1) {
            if (c != '\n') {
                line += c;
                continue;
            }
            if (line.rfind("ACCEPT ", 0) == 0) {
                port_ = atoi(line.substr(line.rfind(':') + 1).c_str());
                break;
            }
            if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) {
                port_ = atoi(line.c_str());
                break;
            }
            line.clear();
        }
    }
    ~PeerProcess()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status;
            waitpid(pid_, &status, 0);
        }
        if (input_ >= 0)
            close(input_);
        if (output_ >= 0)
            close(output_);
    }
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    uint16_t port() const { return uint16_t(port_); }

private:
    pid_t pid_ = -1;
    int port_ = 0;
    int input_ = -1;
    int output_ = -1;
};

// openssl s_server with the named certificate and key of the folder, for
// one connection; extra options as given (-tls1_3, -Verify 1 ...).
inline std::vector<std::string> sServerArgs(const std::string& cert, const std::vector<std::string>& extra = {})
{
    const TlsFiles& f = TlsFiles::get();
    std::vector<std::string> args = {"/usr/bin/openssl",
                                     "s_server",
                                     "-accept",
                                     "127.0.0.1:0",
                                     "-naccept",
                                     "1",
                                     "-cert",
                                     f.path(cert + ".pem"),
                                     "-key",
                                     f.path(cert + ".key")};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

// The Python peer: mode echo, midrecord or silent.
inline std::vector<std::string> pythonPeerArgs(const std::string& cert, const std::string& mode,
                                               const std::vector<std::string>& extra = {})
{
    const TlsFiles& f = TlsFiles::get();
    std::vector<std::string> args = {"/usr/bin/python3",
                                     sourceRoot() + "/tests/transport/tlspeer.py",
                                     "--cert",
                                     f.path(cert + ".pem"),
                                     "--key",
                                     f.path(cert + ".key"),
                                     "--mode",
                                     mode};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

}  // namespace katest
