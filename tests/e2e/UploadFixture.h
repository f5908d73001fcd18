#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/JobTest.h"

// The name of a router's certificate file in the transfer folder: the
// first one (index -1) and the numbered ones that follow it.
inline std::string certFile(unsigned long routerId, int index = -1) {
    char name[64];
    if (index < 0)
        snprintf(name, sizeof name, "%010lu.pkcs12", routerId);
    else
        snprintf(name, sizeof name, "%010lu_%i.pkcs12", routerId, index);
    return name;
}

// A template "upload.tmpl" of text for each test model ("NX-1", "QX-1");
// by default one table with the router's name.
inline void writeUploadTemplates(
    e2e::JobSetup& setup,
    const std::string& text = "systemTable\n{\n   tmibAdmSystemName        (RW,DisplayStr):  \"[router.name]\"\n}\n") {
    for (const char* model : {"NX-1", "QX-1"}) {
        testsupport::makeDirs(setup.templateDir() + model);
        testsupport::writeFile(setup.templateDir() + model + "/upload.tmpl", text);
    }
}

// Configuration uploads end to end: routers whose configuration is built
// from a small template, devices whose administrator password is also the
// passphrase of the PKCS#12 files the tests make with the openssl command,
// and the secrets of such a job, which must never reach its log.
class UploadFixture : public JobTest {
protected:
    static constexpr const char* kAdminPassword = "Adm1n-Pw";

    void SetUp() override {
        setup.addRouterType("NX-1", "NEXA");
        setup.addRouterType("QX-1", "qx.CLI");
        settings.connectTimeout = "3";
        // "All" logs in again after the firmware's reboot: 2 seconds (the
        // scaled 40) for the device to come back.
        settings.rebootTime = "40";
        setup.writeSettings(settings);
        writeUploadTemplates(setup,
                             "# upload template\n"
                             "systemTable\n"
                             "{\n"
                             "   tmibAdmSystemName        (RW,DisplayStr):  \"[router.name]\"\n"
                             "}\n"
                             "routes\n"
                             "{\n"
                             "   route \"0.0.0.0/0\" via \"[router.ipgateway]\"\n"
                             "}\n");
    }

    // A device whose transfer server is the job's transfer folder, that
    // comes back from a reboot at once and takes the router's password.
    bool startDevice(SimRouter& device, const std::string& family, std::vector<std::string> options = {}) {
        options.insert(options.begin(), {"--transfer-dir", setup.transferDir(), "--reboot-downtime", "0", "--user",
                                         "admin", "--password", kAdminPassword});
        return device.start(family, options);
    }

    std::map<std::string, std::string> routerRow(const SimRouter& device, const std::string& model,
                                                 const std::string& conntype,
                                                 std::map<std::string, std::string> extra = {}) {
        std::map<std::string, std::string> columns{{"name", "gw-essen"},
                                                   {"configtype", "Template"},
                                                   {"globalmaster", "upload.tmpl"},
                                                   {"tmibadmadmincommunity", kAdminPassword},
                                                   {"oldcommunity", "Old-Comm1"},
                                                   {"tmibadmreadcommunity", "Read-Comm1"},
                                                   {"tmibadmwritecommunity", "Write-Comm1"},
                                                   {"savebackupcfg", "0"}};
        for (const auto& e : extra) columns[e.first] = e.second;
        return device.row(model, conntype, columns);
    }

    // A PKCS#12 file in the transfer folder: a fresh EC key and a
    // self-signed certificate for common name cn, under passphrase.
    void makePkcs12(const std::string& file, const std::string& cn, const std::string& passphrase = kAdminPassword) {
        const std::string key = setup.root.file(file + ".key"), pem = setup.root.file(file + ".pem");
        auto made = testsupport::runProcess({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                                             "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out", pem,
                                             "-days", "2", "-subj", "/CN=" + cn});
        ASSERT_EQ(made.exitCode, 0) << made.err;
        made = testsupport::runProcess({"openssl", "pkcs12", "-export", "-in", pem, "-inkey", key, "-out",
                                        setup.transferDir() + file, "-passout", "pass:" + passphrase});
        ASSERT_EQ(made.exitCode, 0) << made.err;
    }

    std::map<std::string, std::string> runJob(unsigned long jobId, unsigned long routerId, const std::string& workmode,
                                              std::vector<std::string> options = {"-l"}) {
        return runJobFor(jobId, routerId, workmode, options, 1700000000ULL + jobId);
    }

    // The lines the device received from "from" on that start with one of
    // the prefixes, in order.
    static std::vector<std::string> received(const std::string& transcript, size_t from = 0,
                                             std::vector<std::string> prefixes = {"configd", "cert", "tmibAdm"}) {
        std::vector<std::string> lines;
        size_t start = from;
        while (start < transcript.size()) {
            size_t end = transcript.find('\n', start);
            if (end == std::string::npos) end = transcript.size();
            const std::string line = transcript.substr(start, end - start);
            start = end + 1;
            size_t mark = line.find(" <<< ");
            if (mark == std::string::npos) continue;
            const std::string command = line.substr(mark + 5);
            for (const auto& prefix : prefixes)
                if (command.compare(0, prefix.size(), prefix) == 0) {
                    lines.push_back(command);
                    break;
                }
        }
        return lines;
    }

    static std::string today() {
        char text[16];
        time_t now = time(nullptr);
        struct tm local;
        localtime_r(&now, &local);
        strftime(text, sizeof text, "%Y-%m-%d", &local);
        return text;
    }

    std::string lupdate(unsigned long routerId) {
        return setup.db.value("SELECT lupdate FROM cordal_router WHERE id=" + std::to_string(routerId));
    }

    // The administrator password (also the PKCS#12 passphrase), the
    // communities and the transfer password are in no line of the job's
    // log, its history row or what it printed; the certificate command is
    // masked where it is sent, not only by the log's last line of defence.
    void expectNoSecrets(const std::map<std::string, std::string>& history) {
        for (const char* secret : {kAdminPassword, "Old-Comm1", "Read-Comm1", "Write-Comm1", "xferpw"}) {
            for (const auto& [column, value] : history) EXPECT_FALSE(testsupport::contains(value, secret)) << column;
            EXPECT_FALSE(testsupport::contains(result.err + result.out, secret)) << secret;
        }
        EXPECT_FALSE(testsupport::contains(log, "-P******")) << log;
    }

    e2e::JobSettings settings;
};
