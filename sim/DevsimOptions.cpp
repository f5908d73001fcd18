#include "sim/DevsimOptions.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdlib>
#include <functional>

namespace {

bool parseNumber(const std::string& text, long low, long high, long& value) {
    if (text.empty() || text.size() > 12) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    errno = 0;
    value = strtol(text.c_str(), nullptr, 10);
    return errno == 0 && value >= low && value <= high;
}

// The simulator is a test device with well-known passwords: it may only
// ever be reachable from the machine itself.
bool isLoopback(const std::string& address) {
    in_addr v4;
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6;
    if (inet_pton(AF_INET6, address.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
    return false;
}

// Host names end up in every prompt; characters the product awaits as
// prompt marks would make the dialogue ambiguous.
bool validHostname(const std::string& name) {
    if (name.empty() || name.size() > 64) return false;
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                  c == '.';
        if (!ok) return false;
    }
    return true;
}

// Two decimal numbers joined by a dot, as a management variable's
// instance index is written.
bool validInstance(const std::string& text) {
    size_t dot = text.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 >= text.size() || dot > 5 || text.size() - dot - 1 > 5)
        return false;
    return text.find_first_not_of("0123456789.") == std::string::npos && text.find('.', dot + 1) == std::string::npos;
}

struct OptionSpec {
    const char* name;
    bool takesValue;
    std::function<bool(DevsimOptions&, const std::string&, std::string&)> apply;
    // A switch that may carry a value after "=" (--telnet-options=strict);
    // apply then gets "" without one.
    bool inlineValueOptional = false;
};

// Texts the device prints: no byte that would end its line or drive the
// client's terminal, except the line feeds that separate a banner's lines.
bool printable(const std::string& text, bool lineFeeds) {
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if ((u < 0x20 && !(lineFeeds && c == '\n') && c != '\t') || u == 0x7f) return false;
    }
    return true;
}

// A fact the device reports in quotes: one line, no quote of its own.
std::function<bool(DevsimOptions&, const std::string&, std::string&)> fact(const char* option,
                                                                           std::string DevsimOptions::*into) {
    return [option, into](DevsimOptions& o, const std::string& v, std::string& e) {
        if (v.empty() || v.find('"') != std::string::npos || !printable(v, false)) {
            e = std::string(option) + ": '" + v + "' is not one line of text without '\"'";
            return false;
        }
        o.*into = v;
        return true;
    };
}

bool number(const std::string& option, const std::string& text, long low, long high, int& into, std::string& error) {
    long value = 0;
    if (!parseNumber(text, low, high, value)) {
        error = option + ": '" + text + "' is not a number from " + std::to_string(low) + " to " + std::to_string(high);
        return false;
    }
    into = static_cast<int>(value);
    return true;
}

const std::vector<OptionSpec>& optionSpecs() {
    static const std::vector<OptionSpec> table = {
        {"--help", false, [](DevsimOptions& o, const std::string&, std::string&) { return o.help = true; }},
        {"--family", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             if (!parseFamily(v, o.family)) {
                 e = "--family: '" + v + "' is neither nexa nor qxcli";
                 return false;
             }
             return o.familyGiven = true;
         }},
        {"--state-dir", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             if (v.empty()) e = "--state-dir: empty directory name";
             o.stateDir = v;
             return !v.empty();
         }},
        {"--listen", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             if (!isLoopback(v)) {
                 e = "--listen: '" + v + "' is not a loopback address (127.0.0.0/8 or ::1)";
                 return false;
             }
             o.listen.push_back(v);
             return true;
         }},
        {"--telnet-port", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             return number("--telnet-port", v, 0, 65535, o.telnetPort, e);
         }},
        {"--ssh-port", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             return number("--ssh-port", v, 0, 65535, o.sshPort, e);
         }},
        {"--user", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             if (v.empty() || v.find_first_of(" \t\r\n") != std::string::npos) {
                 e = "--user: a user name is one word";
                 return false;
             }
             if (o.passwordPending) {
                 e = "--user " + o.accounts.back().user + " has no --password";
                 return false;
             }
             o.accounts.push_back({v, ""});
             return o.passwordPending = true;
         }},
        {"--password", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             if (!o.passwordPending) {
                 e = "--password must follow its --user";
                 return false;
             }
             if (v.find_first_of("\r\n") != std::string::npos) {
                 e = "--password: a password is one line";
                 return false;
             }
             o.accounts.back().password = v;
             o.passwordPending = false;
             return true;
         }},
        {"--hostname", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             if (!validHostname(v)) {
                 e = "--hostname: '" + v + "' is not a host name (letters, digits, '-', '_', '.')";
                 return false;
             }
             o.hostname = v;
             return true;
         }},
        {"--transfer-dir", true,
         [](DevsimOptions& o, const std::string& v, std::string&) {
             o.transferDir = v;
             return true;
         }},
        {"--transfer-user", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             if (v.empty() || v.find_first_of(":@/ \t\r\n") != std::string::npos) {
                 e = "--transfer-user: a user name without ':', '@', '/' or blanks";
                 return false;
             }
             o.transferUser = v;
             return true;
         }},
        {"--transfer-password", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             if (v.find_first_of("@/ \t\r\n") != std::string::npos) {
                 e = "--transfer-password: a password without '@', '/' or blanks";
                 return false;
             }
             o.transferPassword = v;
             return true;
         }},
        {"--old-configd", false,
         [](DevsimOptions& o, const std::string&, std::string&) { return o.configdWithoutSource = true; }},
        {"--old-cert", false,
         [](DevsimOptions& o, const std::string&, std::string&) { return o.certWithoutSource = true; }},
        {"--reboot-downtime", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             return number("--reboot-downtime", v, 0, 3600, o.rebootDowntimeSeconds, e);
         }},
        {"--fallback-instance", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             if (!validInstance(v)) {
                 e = "--fallback-instance: '" + v + "' is not N.M";
                 return false;
             }
             o.fallbackInstance = v;
             return true;
         }},
        {"--max-auth-tries", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             return number("--max-auth-tries", v, 1, 100, o.maxAuthTries, e);
         }},
        {"--shell-timeout", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             return number("--shell-timeout", v, 0, 86400, o.shellTimeoutSeconds, e);
         }},
        {"--refuse", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             if (!isLoopback(v)) {
                 e = "--refuse: '" + v + "' is not a loopback address";
                 return false;
             }
             o.faults.refusedAddresses.push_back(v);
             return true;
         }},
        {"--no-ssh", false, [](DevsimOptions& o, const std::string&, std::string&) { return o.faults.noSsh = true; }},
        {"--silent-after", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             if (v.empty()) e = "--silent-after: empty command";
             o.faults.silentAfter = v;
             return !v.empty();
         }},
        {"--close-mid-reply", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             if (v.empty()) e = "--close-mid-reply: empty command";
             o.faults.closeMidReply = v;
             return !v.empty();
         }},
        {"--slow-reply", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             return number("--slow-reply", v, 0, 600000, o.faults.slowReplyMs, e);
         }},
        {"--large-reply", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             int bytes = 0;
             if (!number("--large-reply", v, 0, 256 * 1024 * 1024, bytes, e)) return false;
             o.faults.largeReplyBytes = static_cast<size_t>(bytes);
             return true;
         }},
        {"--trickle", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             return number("--trickle", v, 1, 600000, o.faults.trickleMs, e);
         }},
        {"--trickle-after", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             if (v.empty()) e = "--trickle-after: empty command";
             o.faults.trickleAfter = v;
             return !v.empty();
         }},
        {"--ping-fails", false,
         [](DevsimOptions& o, const std::string&, std::string&) { return o.faults.pingFails = true; }},
        {"--telnet-options", false,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             if (!v.empty() && v != "strict") {
                 e = "--telnet-options: '" + v + "' is not strict";
                 return false;
             }
             o.faults.telnetOptionsStrict = v == "strict";
             return o.faults.telnetOptions = true;
         },
         true},
        {"--banner", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             if (!printable(v, true)) {
                 e = "--banner: control characters other than line feeds and tabs";
                 return false;
             }
             o.banner = v;
             return true;
         }},
        {"--refuse-login", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             if (v.empty() || !printable(v, true)) {
                 e = "--refuse-login: an empty text or control characters other than line feeds and tabs";
                 return false;
             }
             o.loginRefusal = v;
             return true;
         }},
        {"--serial", true, fact("--serial", &DevsimOptions::serial)},
        {"--part-number", true, fact("--part-number", &DevsimOptions::partNumber)},
        {"--sw-version", true, fact("--sw-version", &DevsimOptions::swVersion)},
        {"--disk-full", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             long bytes = 0;
             if (!parseNumber(v, 0, 999999999999L, bytes)) {
                 e = "--disk-full: '" + v + "' is not a number of bytes";
                 return false;
             }
             o.faults.diskFullBytes = bytes;
             return true;
         }},
        {"--chaos", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             long seed = 0;
             if (!parseNumber(v, 0, 999999999999L, seed)) {
                 e = "--chaos: '" + v + "' is not a seed (a number from 0 to 999999999999)";
                 return false;
             }
             o.chaosSeed = static_cast<uint64_t>(seed);
             return o.chaos = true;
         }},
        {"--publickey-only", false,
         [](DevsimOptions& o, const std::string&, std::string&) { return o.faults.publickeyOnly = true; }},
        {"--noise", true,
         [](DevsimOptions& o, const std::string& v, std::string& e) {
             long seed = 0;
             if (!parseNumber(v, 0, 999999999999L, seed)) {
                 e = "--noise: '" + v + "' is not a seed (a number from 0 to 999999999999)";
                 return false;
             }
             o.faults.noiseSeed = seed;
             return true;
         }},
        {"--no-fallback-timer", false,
         [](DevsimOptions& o, const std::string&, std::string&) { return o.faults.noFallbackTimer = true; }},
    };
    return table;
}

}  // namespace

bool DevsimOptions::parse(const std::vector<std::string>& args, DevsimOptions& options, std::string& error) {
    options = DevsimOptions();
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool inlineValue = false;
        size_t equals = name.find('=');
        if (name.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            inlineValue = true;
        }
        const OptionSpec* option = nullptr;
        for (const auto& candidate : optionSpecs())
            if (name == candidate.name) option = &candidate;
        if (!option) {
            error = "unknown option '" + name + "' (see devsim --help)";
            return false;
        }
        if (option->takesValue && !inlineValue) {
            if (i + 1 >= args.size()) {
                error = name + " needs a value";
                return false;
            }
            value = args[++i];
        } else if (!option->takesValue && inlineValue && !option->inlineValueOptional) {
            error = name + " takes no value";
            return false;
        }
        if (!option->apply(options, value, error)) return false;
    }
    if (options.help) return true;
    if (options.passwordPending) {
        error = "--user " + options.accounts.back().user + " has no --password";
        return false;
    }
    if (options.transferPassword.size() && options.transferUser.empty()) {
        error = "--transfer-password needs --transfer-user";
        return false;
    }
    if (!options.faults.trickleAfter.empty() && options.faults.trickleMs == 0) {
        error = "--trickle-after needs --trickle";
        return false;
    }
    if (options.stateDir.empty()) {
        error = "--state-dir is required";
        return false;
    }
    if (options.listen.empty()) options.listen.push_back("127.0.0.1");
    return true;
}

std::vector<std::string> DevsimOptions::optionNames() {
    std::vector<std::string> names;
    for (const auto& option : optionSpecs()) names.push_back(option.name);
    return names;
}

std::string DevsimOptions::usage() {
    return "Usage: devsim --state-dir DIR [options]\n"
           "\n"
           "devsim stands in for a router of the NEXA or the qx.CLI family. It serves\n"
           "Telnet (raw TCP), SSH and SFTP on loopback addresses, keeps the device's\n"
           "state in DIR and appends every received line and every reply to\n"
           "DIR/transcript. It runs in the foreground, logs to standard error and\n"
           "ends on SIGTERM or SIGINT.\n"
           "\n"
           "Device:\n"
           "  --family nexa|qxcli     device family (default: the one stored in DIR)\n"
           "  --state-dir DIR         state directory, created when missing (required)\n"
           "  --hostname NAME         host name shown in the prompts (default router1)\n"
           "  --user NAME --password PW\n"
           "                          a login of the device; repeat the pair for more.\n"
           "                          Replaces the logins stored in DIR and the admin\n"
           "                          password a reboot restores (default one user\n"
           "                          admin with password admin)\n"
           "  --transfer-dir DIR      local directory standing in for the TFTP/HTTP(S)\n"
           "                          server of the device's transfers: tftp:HOST/ and\n"
           "                          http(s)://[USER:PW@]HOST/tftpboot/ both mean DIR\n"
           "  --transfer-user U --transfer-password P\n"
           "                          credentials the HTTP(S) server expects (default:\n"
           "                          any credentials, or none, pass)\n"
           "  --old-configd           NEXA: an older configd without the \"-s <src>\"\n"
           "                          option\n"
           "  --old-cert              NEXA: an older \"cert get\" without the\n"
           "                          \"-I <src>\" option. \"cert get -f -sNAME -o -PPASS\n"
           "                          URLFILE LABEL\" fetches a PKCS#12 file from the\n"
           "                          transfer server, opens it with the passphrase\n"
           "                          and stores its certificate in certTable of NAME\n"
           "                          Configurations: NEXA DIR/configs/NAME (\"running\",\n"
           "                          \"boot\", ...); qx.CLI DIR/bootfile names the boot\n"
           "                          file DIR/fs/DSK/NAME.CFG, which the device runs\n"
           "                          after a reboot (DIR/running-config shows it;\n"
           "                          without it /DSK/CONFIG.DEF)\n"
           "  --reboot-downtime SECONDS\n"
           "                          time a rebooting device refuses connections\n"
           "                          (default 3)\n"
           "  --fallback-instance N.M instance index of the NEXA fallback-timer variable:\n"
           "                          tmibAdmConfigCmd=reboot tmibAdmConfigTimeout=SECONDS\n"
           "                          arms a timer that reboots the device unless\n"
           "                          tmibAdmConfigTimeout.N.M=-1 cancels it first\n"
           "                          (default 1.1)\n"
           "  --max-auth-tries N      SSH passwords accepted per connection; later ones\n"
           "                          are refused, right or wrong (default 3)\n"
           "  --shell-timeout SECONDS idle time after which a shell session ends unless\n"
           "                          the client switched the time-out off (default 0,\n"
           "                          never)\n"
           "  --banner TEXT           a banner shown after every shell login, before the\n"
           "                          first prompt (may hold \"*\" and \">\"; a line feed\n"
           "                          in TEXT starts a new line)\n"
           "  --refuse-login TEXT     what a refused Telnet login prints before the new\n"
           "                          login prompt (default: the family's own refusal)\n"
           "  --serial S, --part-number P, --sw-version V\n"
           "                          NEXA: the device's serial number\n"
           "                          (tmibAdmSystemId), part number\n"
           "                          (tmibAdmBoardTable.tmibABrdPartNo) and software\n"
           "                          (tmibAdmSWVersion), replacing the stored ones. A\n"
           "                          device started without DIR/variables has its\n"
           "                          factory facts: NX-SN-000001, NX-4400/2 and\n"
           "                          \"V.7.10 Rev. 2 IPSec\"; its timer variables\n"
           "                          tmibAdmConfigCmd and tmibAdmConfigTimeout show\n"
           "                          the fallback timer (\"none\" and -1 while none runs)\n"
           "\n"
           "Network:\n"
           "  --listen ADDR           address to serve, any of 127.0.0.0/8 or ::1;\n"
           "                          repeatable (default 127.0.0.1)\n"
           "  --telnet-port N         Telnet port on every address; 0 picks a free one\n"
           "                          (default 0)\n"
           "  --ssh-port N            SSH/SFTP port on every address; 0 picks a free one\n"
           "                          (default 0)\n"
           "                          Once every address is bound, DIR/ports holds the\n"
           "                          lines \"telnet N\" and \"ssh N\".\n"
           "\n"
           "Faults:\n"
           "  --refuse ADDR           refuse every connection to ADDR (one of --listen)\n"
           "  --no-ssh                start without SSH service; it is switched on over\n"
           "                          Telnet the way the family does it\n"
           "  --silent-after TEXT     after a command line starting with TEXT the device\n"
           "                          echoes it and then stays silent\n"
           "  --close-mid-reply TEXT  the reply to a command line starting with TEXT\n"
           "                          breaks off halfway and the connection drops\n"
           "                          Both also match SFTP requests as the transcript\n"
           "                          names them (\"open /MEM/X for writing\",\n"
           "                          \"rename /MEM/X /DSK/X\"): such a request gets no\n"
           "                          answer\n"
           "  --slow-reply MS         every reply is held back MS milliseconds and then\n"
           "                          trickles in 64-byte pieces MS/10 milliseconds apart\n"
           "  --large-reply BYTES     every command reply carries BYTES of filler lines\n"
           "                          before its prompt\n"
           "  --trickle MS            after a command the device sends one byte (\".\")\n"
           "                          every MS milliseconds instead of its reply and\n"
           "                          never shows its prompt again, until the client\n"
           "                          goes or the device stops (Telnet and SSH shells)\n"
           "  --trickle-after TEXT    with --trickle: only after a command line starting\n"
           "                          with TEXT; the commands before it are answered\n"
           "  --ping-fails            pings get no replies (\" 0 packets received\")\n"
           "  --telnet-options[=strict]\n"
           "                          send Telnet option negotiation bytes at connect, as\n"
           "                          some devices do, and strip the client's answers\n"
           "                          (the transcript notes each answer). strict: offer\n"
           "                          more options (WILL ECHO, SGA, ENCRYPT; DO TTYPE,\n"
           "                          TSPEED, NAWS, NEW-ENVIRON) and withhold the login\n"
           "                          prompt until every one is answered, as BSD-derived\n"
           "                          telnetds do\n"
           "  --publickey-only        SSH offers public-key authentication only, and knows\n"
           "                          no client's key: every SSH login is refused\n"
           "  --noise SEED            a broken line: every Telnet connection gets the login\n"
           "                          prompt and then lines of random bytes (\">\" and \"*\"\n"
           "                          among them) after every line it receives, never a\n"
           "                          shell prompt\n"
           "  --disk-full BYTES       no file written over SFTP grows past BYTES: the\n"
           "                          write that would stores what fits and fails, as\n"
           "                          on a full disk\n"
           "  --no-fallback-timer     a NEXA device without the fallback timer: its\n"
           "                          variables are unknown\n"
           "  --chaos SEED            random faults, the same again for the same SEED\n"
           "                          (0 to 999999999999) and the same dialogue: one\n"
           "                          connection in 8 is dropped at once, one command\n"
           "                          in 10 has its reply cut off halfway with the\n"
           "                          line dropping, is followed by silence, makes\n"
           "                          the device reboot after its reply, or has its\n"
           "                          reply held back up to 2.5 seconds. Each fault\n"
           "                          is noted in the transcript as \"chaos: ...\"\n"
           "\n"
           "  --help                  this text\n";
}
