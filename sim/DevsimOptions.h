#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/DeviceTypes.h"

// Fault switches: each one makes the device misbehave in one way, so the
// product's handling of that misbehaviour can be tested.
struct Faults {
    std::vector<std::string> refusedAddresses;  // --refuse: connections to these addresses are refused
    bool noSsh = false;                         // --no-ssh: SSH off until enabled over Telnet
    std::string silentAfter;                    // --silent-after: no output after a line starting so
    std::string closeMidReply;                  // --close-mid-reply: half the reply, then the line drops
    int slowReplyMs = 0;                        // --slow-reply: replies held back and trickled
    size_t largeReplyBytes = 0;                 // --large-reply: filler before every command's prompt
    int trickleMs = 0;                          // --trickle: one byte every MS ms instead of a reply
    std::string trickleAfter;                   // --trickle-after: only after a line starting so
    bool pingFails = false;                     // --ping-fails: no ping target answers
    bool telnetOptions = false;                 // --telnet-options: IAC bytes at connect
    bool telnetOptionsStrict = false;           // --telnet-options=strict: no login before every answer
    bool noFallbackTimer = false;               // --no-fallback-timer: NEXA without delayed command
    long long diskFullBytes = -1;               // --disk-full: no SFTP file grows past this; -1 no limit
    bool publickeyOnly = false;                 // --publickey-only: SSH takes public keys only
    long long noiseSeed = -1;                   // --noise: Telnet answers random bytes; -1 off
};

// DevsimOptions is the parsed command line of devsim. Parsing checks every
// value (numbers, loopback addresses, user/password pairs) so the program
// never starts half-configured.
struct DevsimOptions {
    bool help = false;
    bool familyGiven = false;
    DeviceFamily family = DeviceFamily::Nexa;
    std::string stateDir;
    std::vector<std::string> listen;  // never empty after parse
    int telnetPort = 0;               // 0: a free port
    int sshPort = 0;
    std::vector<Account> accounts;  // empty: keep the accounts of the state directory
    std::string hostname = "router1";
    std::string transferDir;
    std::string transferUser;  // credentials the transfer server expects ("" any)
    std::string transferPassword;
    bool configdWithoutSource = false;  // an older NEXA configd without "-s <src>"
    bool certWithoutSource = false;     // an older NEXA cert get without "-I <src>"
    int rebootDowntimeSeconds = 3;
    std::string fallbackInstance = "1.1";  // N.M of the NEXA timer variable tmibAdmConfigTimeout.N.M
    int maxAuthTries = 3;
    int shellTimeoutSeconds = 0;  // idle time after which a shell ends; 0 never
    std::string banner;           // --banner: shown after a login, before the first prompt
    std::string loginRefusal;     // --refuse-login: what a refused login prints ("" the family's own)
    // NEXA factory facts set at start ("" keeps the stored or factory one).
    std::string serial, partNumber, swVersion;
    Faults faults;
    bool chaos = false;  // --chaos: random faults drawn from chaosSeed
    uint64_t chaosSeed = 0;
    bool passwordPending = false;  // while parsing: a --user waits for its --password

    // args without the program name. False with a message in error.
    static bool parse(const std::vector<std::string>& args, DevsimOptions& options, std::string& error);
    static std::string usage();
    // Every option the parser knows ("--family", ...).
    static std::vector<std::string> optionNames();
};
