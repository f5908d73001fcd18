// The NEXA device's "cert get": PKCS#12 files made with the openssl command
// are fetched from the transfer server, opened with their passphrase and
// stored in the certificate table of a configuration; the shell runs it
// as a command line with the label in quotes.
#include <sys/stat.h>

#include "sim/CommandTable.h"
#include "sim/ConfigStore.h"
#include "sim/NexaCert.h"
#include "sim/NexaShell.h"
#include "tests/sim/ShellFixture.h"

using testsupport::contains;

namespace {

class NexaCertTest : public ShellFixture {
protected:
    void SetUp() override {
        xfer = dir.file("xfer");
        ASSERT_EQ(::mkdir(xfer.c_str(), 0755), 0);
        options.transferDir = xfer;
        open(SimFamily::Nexa);
        std::string error;
        ASSERT_TRUE(state->configs().copy("boot", "opb_tmp", error)) << error;
    }

    // A PKCS#12 file in the transfer folder: a fresh EC key and a
    // self-signed certificate for common name cn, under passphrase.
    void makePkcs12(const std::string& file, const std::string& cn, const std::string& passphrase) {
        const std::string key = dir.file(file + ".key"), cert = dir.file(file + ".pem");
        auto made = testsupport::runProcess({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                                             "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out", cert,
                                             "-days", "2", "-subj", "/CN=" + cn});
        ASSERT_EQ(made.exitCode, 0) << made.err;
        made = testsupport::runProcess({"openssl", "pkcs12", "-export", "-in", cert, "-inkey", key, "-out",
                                        xfer + "/" + file, "-passout", "pass:" + passphrase});
        ASSERT_EQ(made.exitCode, 0) << made.err;
    }

    // "cert ARGUMENTS", ARGUMENTS starting with "get".
    std::string cert(const std::string& arguments) {
        auto words = CommandTable<NexaShell>::split(arguments);
        EXPECT_EQ(words.at(0), "get");
        words.erase(words.begin());
        return NexaCert(*state, options).run(words);
    }
    std::string config(const std::string& name) { return testsupport::readFile(state->path("configs/" + name)); }

    // The rows of certTable labelled label.
    static int rowsLabelled(const std::string& text, const std::string& label) {
        int count = 0;
        for (size_t at = text.find("\"" + label + "\""); at != std::string::npos;
             at = text.find("\"" + label + "\"", at + 1))
            ++count;
        return count;
    }

    std::string xfer;
};

TEST_F(NexaCertTest, AFileThatOpensIsStoredUnderItsLabelAndAnsweredWithEnvelope) {
    makePkcs12("0000000042.pkcs12", "gw-essen", "Pa ss");
    makePkcs12("other.pkcs12", "gw-other", "Pa ss");
    const std::string before = config("opb_tmp");

    // The shell splits the line the product sends, label in quotes; a
    // passphrase is one word.
    auto s = shell(false, false);
    std::string reply = feed(*s, "cert get -f -sopb_tmp -o -PPass tftp:h/0000000042.pkcs12 'gw essen'\n");
    EXPECT_FALSE(contains(reply, "envelope")) << "wrong passphrase: " << reply;
    EXPECT_TRUE(contains(reply, "error: cert get: 0000000042.pkcs12: cannot be opened")) << reply;
    EXPECT_EQ(config("opb_tmp"), before) << "nothing stored";

    makePkcs12("0000000042.pkcs12", "gw-essen", "Adm1n");
    reply = feed(*s, "cert get -f -sopb_tmp -o -PAdm1n tftp:h/0000000042.pkcs12 'gw essen'\n");
    EXPECT_TRUE(contains(reply, "PKCS#12 envelope opened: certificate 'gw essen' (/CN=gw-essen) stored in 'opb_tmp'"))
        << reply;
    const std::string stored = config("opb_tmp");
    EXPECT_EQ(rowsLabelled(stored, "gw essen"), 1);
    EXPECT_TRUE(contains(stored, "certSubject              (R,DisplayStr):   \"/CN=gw-essen\"")) << stored;
    EXPECT_TRUE(contains(stored, "certPrivateKey           (R,DisplayStr):   \"yes\""));
    EXPECT_TRUE(contains(stored, "\"device\"")) << "the certificate the table held stays";
    EXPECT_EQ(stored.find("certTable"), stored.rfind("certTable")) << "one certificate table";
    EXPECT_EQ(config("boot"), before) << "only the named configuration changes";

    // -o replaces the row of the same label; without it the device refuses.
    makePkcs12("second.pkcs12", "gw-essen-2", "Adm1n");
    EXPECT_TRUE(contains(cert("get -f -sopb_tmp -PAdm1n tftp:h/second.pkcs12 'gw essen'"), "exists (-o replaces it)"));
    reply = cert("get -f -sopb_tmp -o -PAdm1n http://u:p@h/tftpboot/second.pkcs12 'gw essen'");
    EXPECT_TRUE(contains(reply, "envelope")) << reply;
    EXPECT_EQ(rowsLabelled(config("opb_tmp"), "gw essen"), 1);
    EXPECT_TRUE(contains(config("opb_tmp"), "/CN=gw-essen-2"));
    EXPECT_FALSE(contains(config("opb_tmp"), "\"/CN=gw-essen\""));
}

TEST_F(NexaCertTest, RefusalsNeverMentionTheEnvelope) {
    makePkcs12("c.pkcs12", "gw", "pw");
    testsupport::writeFile(xfer + "/empty.pkcs12", "");
    testsupport::writeFile(xfer + "/text.pkcs12", "-----BEGIN CERTIFICATE-----\n");
    const char* const refused[] = {
        "get -f -sopb_tmp -o -Ppw tftp:h/missing.pkcs12 'gw'",    // 404
        "get -f -sopb_tmp -o -Ppw tftp:h/empty.pkcs12 'gw'",      // not PKCS#12
        "get -f -sopb_tmp -o -Ppw tftp:h/text.pkcs12 'gw'",       // not PKCS#12
        "get -f -snone -o -Ppw tftp:h/c.pkcs12 'gw'",             // no such configuration
        "get -f -s../x -o -Ppw tftp:h/c.pkcs12 'gw'",             // bad configuration name
        "get -sopb_tmp -o -Ppw tftp:h/c.pkcs12 'gw'",             // no -f
        "get -f -o -Ppw tftp:h/c.pkcs12 'gw'",                    // no configuration
        "get -f -sopb_tmp -o -Ppw tftp://h/c.pkcs12 'gw'",        // bad URL
        "get -f -sopb_tmp -o -Ppw http://h/c.pkcs12 'gw'",        // the server has no such directory
        "get -f -sopb_tmp -o -Ppw tftp:h/c.pkcs12",               // no label
        "get -f -sopb_tmp -o -Ppw -I nohost tftp:h/c.pkcs12 gw",  // bad source
        "get -f -sopb_tmp -o -Ppw -x tftp:h/c.pkcs12 gw",         // unknown option
    };
    for (const char* arguments : refused) {
        std::string reply = cert(arguments);
        EXPECT_FALSE(contains(reply, "envelope")) << arguments << ": " << reply;
        EXPECT_TRUE(contains(reply, "error: ") || contains(reply, "transfer failed")) << arguments << ": " << reply;
    }
    options.transferUser = "xfer";
    options.transferPassword = "right";
    EXPECT_EQ(cert("get -f -sopb_tmp -o -Ppw https://xfer:wrong@h/tftpboot/c.pkcs12 gw"),
              "transfer failed: 401 Unauthorized\r\n");
    EXPECT_TRUE(contains(cert("get -f -sopb_tmp -o -Ppw https://xfer:right@h/tftpboot/c.pkcs12 gw"), "envelope"));
}

TEST_F(NexaCertTest, SourceOptionAndTheOlderDevice) {
    makePkcs12("c.pkcs12", "gw", "pw");
    EXPECT_TRUE(contains(cert("get -h"), "-I <src>"));
    EXPECT_TRUE(contains(cert("get -f -sopb_tmp -o -Ppw -I 10.1.1.1 tftp:h/c.pkcs12 gw"), "envelope"));
    auto s = shell(false, false);
    EXPECT_TRUE(contains(feed(*s, "cert\n"), "error: usage: cert get"));

    options.certWithoutSource = true;
    EXPECT_FALSE(contains(cert("get -h"), "-I <src>"));
    EXPECT_TRUE(contains(cert("get -h"), "-P<passphrase>"));
    std::string reply = cert("get -f -sopb_tmp -o -Ppw -I 10.1.1.1 tftp:h/c.pkcs12 gw");
    EXPECT_TRUE(contains(reply, "unknown option -I")) << reply;
    EXPECT_FALSE(contains(reply, "envelope"));
}

}  // namespace
