#include "sim/NexaCert.h"

#include <arpa/inet.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <memory>

#include "sim/ConfigStore.h"
#include "sim/DeviceConfig.h"
#include "sim/DeviceState.h"
#include "sim/DevsimOptions.h"
#include "sim/NexaShell.h"
#include "sim/StateFile.h"
#include "sim/TransferUrl.h"

namespace {
const char kCertTable[] = "certTable";

std::string line(const std::string& text) {
    return text + "\r\n";
}

std::string refusal(const std::string& text) {
    return line("error: cert get: " + text);
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool validLabel(const std::string& label) {
    if (label.empty() || label.size() > 64) return false;
    for (unsigned char c : label)
        if (c < 0x20 || c == 0x7f || c == '"' || c == '#') return false;
    return true;
}

// The quoted value of a row line such as
//    certLabel                (RW,DisplayStr):  "gw-essen"
std::string quotedValue(const std::string& examined) {
    size_t open = examined.find('"');
    size_t close = examined.rfind('"');
    if (open == std::string::npos || close <= open) return "";
    return examined.substr(open + 1, close - open - 1);
}

std::string column(const std::string& name, const char* access, const std::string& value) {
    std::string text = "   " + name;
    text.resize(28, ' ');
    text += access;
    text.resize(46, ' ');
    return text + "\"" + value + "\"";
}

struct Pkcs12Free {
    void operator()(PKCS12* p) const { PKCS12_free(p); }
};
struct KeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct X509Free {
    void operator()(X509* p) const { X509_free(p); }
};
struct ChainFree {
    void operator()(STACK_OF(X509) * p) const { sk_X509_pop_free(p, X509_free); }
};
struct BnFree {
    void operator()(BIGNUM* p) const { BN_free(p); }
};
}  // namespace

void NexaShell::cert(const Args&) {
    sayLine("error: usage: cert get ... (cert get -h)");
}

void NexaShell::certGet(const Args& args) {
    say(NexaCert(state_, options_).run(args));
}

NexaCert::NexaCert(DeviceState& state, const DevsimOptions& options) : state_(state), options_(options) {}

std::string NexaCert::help() const {
    std::string text = line(options_.certWithoutSource
                                ? "usage: cert get -f -s<name> [-o] -P<passphrase> <url><file> <label>"
                                : "usage: cert get -f -s<name> [-o] -P<passphrase> [-I <src>] <url><file> <label>");
    text += line("  -f             fetch the PKCS#12 file <url><file>");
    text += line("  -s<name>       configuration that takes the certificate");
    text += line("  -o             replace a certificate of the same label");
    text += line("  -P<passphrase> passphrase of the PKCS#12 envelope");
    if (!options_.certWithoutSource) text += line("  -I <src>       source address of the transfer");
    return text;
}

std::string NexaCert::run(const std::vector<std::string>& args) {
    bool fetch = false, replace = false;
    std::string name, passphrase, source;
    std::vector<std::string> operands;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h") return help();
        if (arg == "-f") {
            fetch = true;
        } else if (arg == "-o") {
            replace = true;
        } else if (startsWith(arg, "-s") && arg.size() > 2) {
            name = arg.substr(2);
        } else if (startsWith(arg, "-P")) {
            passphrase = arg.substr(2);
        } else if (arg == "-I" && !options_.certWithoutSource) {
            in_addr v4;
            if (i + 1 >= args.size() || inet_pton(AF_INET, args[i + 1].c_str(), &v4) != 1)
                return refusal("-I needs an IPv4 address");
            source = args[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            return refusal("unknown option " + arg + " (cert get -h)");
        } else {
            operands.push_back(arg);
        }
    }
    if (!fetch) return refusal("nothing to do without -f (cert get -h)");
    if (name.empty()) return refusal("no configuration given (-s<name>)");
    if (operands.size() != 2) return refusal("usage: cert get -f -s<name> -P<passphrase> <url><file> <label>");
    if (!ConfigStore::validName(name)) return refusal("bad configuration name '" + name + "'");
    if (!validLabel(operands[1])) return refusal("bad label '" + operands[1] + "'");

    const std::string& location = operands[0];
    size_t slash = location.rfind('/');
    if (slash == std::string::npos) return refusal("bad url '" + location + "'");
    TransferUrl url;
    std::string error;
    if (!TransferUrl::parse(location.substr(0, slash + 1), url, error)) return refusal(error);
    const std::string file = location.substr(slash + 1);
    if (!TransferUrl::validFileName(file)) return refusal("bad file name '" + file + "'");
    if (options_.transferDir.empty()) return line("transfer failed: server " + url.host + " not reachable");
    if (!url.credentialsAccepted(options_.transferUser, options_.transferPassword))
        return line("transfer failed: 401 Unauthorized");
    std::string bytes;
    if (!StateFile::read(options_.transferDir + "/" + file, bytes)) return line("transfer failed: 404 Not Found");

    Contents contents;
    if (!openPkcs12(bytes, passphrase, contents, error)) return refusal(file + ": " + error);
    std::string text, updated;
    ConfigStore& store = state_.configs();
    if (!store.read(name, text)) return refusal("no configuration '" + name + "'");
    if (!storeCertificate(text, operands[1], contents, replace, updated, error)) return refusal(error);
    if (!store.write(name, updated, error)) return refusal(error);
    return line("received " + file + " (" + std::to_string(bytes.size()) + " bytes)") +
           line("PKCS#12 envelope opened: certificate '" + operands[1] + "' (" + contents.subject + ") stored in '" +
                name + "'");
}

bool NexaCert::openPkcs12(const std::string& bytes, const std::string& passphrase, Contents& contents,
                          std::string& error) {
    const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
    std::unique_ptr<PKCS12, Pkcs12Free> envelope(d2i_PKCS12(nullptr, &data, static_cast<long>(bytes.size())));
    if (!envelope) {
        ERR_clear_error();
        error = "not a PKCS#12 file";
        return false;
    }
    EVP_PKEY* rawKey = nullptr;
    X509* rawCert = nullptr;
    STACK_OF(X509)* rawChain = nullptr;
    bool opened = PKCS12_parse(envelope.get(), passphrase.c_str(), &rawKey, &rawCert, &rawChain) == 1;
    std::unique_ptr<EVP_PKEY, KeyFree> key(rawKey);
    std::unique_ptr<X509, X509Free> certificate(rawCert);
    std::unique_ptr<STACK_OF(X509), ChainFree> chain(rawChain);
    ERR_clear_error();
    if (!opened) {
        error = "cannot be opened (wrong passphrase or damaged file)";
        return false;
    }
    if (!certificate) {
        error = "holds no certificate";
        return false;
    }
    char subject[512];
    X509_NAME_oneline(X509_get_subject_name(certificate.get()), subject, sizeof subject);
    contents.subject = subject;
    for (char& c : contents.subject)
        if (c == '"') c = '\'';
    std::unique_ptr<BIGNUM, BnFree> serial(ASN1_INTEGER_to_BN(X509_get_serialNumber(certificate.get()), nullptr));
    if (serial) {
        char* hex = BN_bn2hex(serial.get());
        if (hex) contents.serial = hex;
        OPENSSL_free(hex);
    }
    contents.hasKey = key != nullptr;
    return true;
}

bool NexaCert::storeCertificate(const std::string& text, const std::string& label, const Contents& contents,
                                bool replace, std::string& result, std::string& error) {
    DeviceConfig config;
    if (!DeviceConfig::parse(text, config, error)) return false;
    DeviceConfig::Table table{kCertTable, {kCertTable}};
    if (const DeviceConfig::Table* found = config.table(kCertTable)) table = *found;

    // The row carrying this label, as [first, last] line indexes.
    size_t rowStart = 0, first = 0, last = 0;
    bool inRow = false, found = false;
    for (size_t i = 1; i < table.lines.size() && !found; ++i) {
        const std::string t = DeviceConfig::examined(table.lines[i]);
        if (!t.empty() && t[0] == '{') {
            inRow = true;
            rowStart = i;
        } else if (!t.empty() && t[0] == '}') {
            inRow = false;
        } else if (inRow && startsWith(t, "certLabel") && quotedValue(t) == label) {
            found = true;
            first = rowStart;
            last = i;
            while (last < table.lines.size() && DeviceConfig::examined(table.lines[last]).compare(0, 1, "}") != 0)
                ++last;
        }
    }
    if (found && !replace) {
        error = "certificate '" + label + "' exists (-o replaces it)";
        return false;
    }
    const std::vector<std::string> row = {"{",
                                          column("certLabel", "(RW,DisplayStr):", label),
                                          column("certSubject", "(R,DisplayStr):", contents.subject),
                                          column("certSerial", "(R,DisplayStr):", contents.serial),
                                          column("certPrivateKey", "(R,DisplayStr):", contents.hasKey ? "yes" : "no"),
                                          "}"};
    auto at = table.lines.end();
    if (found)
        at = table.lines.erase(table.lines.begin() + static_cast<long>(first),
                               table.lines.begin() + static_cast<long>(last) + 1);
    table.lines.insert(at, row.begin(), row.end());
    config.putTable(table);
    result = config.render();
    return true;
}
