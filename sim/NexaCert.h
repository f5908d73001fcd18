#pragma once
#include <string>
#include <vector>

class DeviceState;
struct DevsimOptions;

// NexaCert is the NEXA device's certificate command:
//
//   cert get -f -sNAME [-o] -PPASS [-I SRC] URLFILE LABEL
//   cert get -h
//
// -f fetches the PKCS#12 file URLFILE (a transfer URL as configd takes it,
// tftp:HOST/FILE or http(s)://[USER:PW@]HOST/tftpboot/FILE) from the
// transfer server (--transfer-dir), -P is the passphrase it is opened with
// (OpenSSL, as the device does), -s the configuration whose certTable gets
// the certificate as a row labelled LABEL, -o lets that row replace one of
// the same label, -I the source address of the transfer (an older device,
// --old-cert, lacks it). Only a file that opened is answered with a line
// holding "envelope"; every refusal is a line starting "error: ", a failed
// transfer "transfer failed: ...".
class NexaCert {
public:
    NexaCert(DeviceState& state, const DevsimOptions& options);

    // The reply lines (each ending "\r\n") to "cert ARGS".
    std::string run(const std::vector<std::string>& args);

    // What a PKCS#12 file holds, as far as the device shows it.
    struct Contents {
        std::string subject;  // "/CN=..." of the certificate
        std::string serial;   // hexadecimal
        bool hasKey = false;
    };
    // Opens a PKCS#12 file with passphrase; false (with the reason in
    // error) for anything but a file with a certificate that opened.
    static bool openPkcs12(const std::string& bytes, const std::string& passphrase, Contents& contents,
                           std::string& error);
    // Puts the certificate as a row of certTable in configuration text,
    // replacing the row with that label when replace is set; false with
    // the reason in error.
    static bool storeCertificate(const std::string& text, const std::string& label, const Contents& contents,
                                 bool replace, std::string& result, std::string& error);

private:
    std::string help() const;
    std::string get(const std::vector<std::string>& args);

    DeviceState& state_;
    const DevsimOptions& options_;
};
