#include "sim/NexaConfigd.h"

#include <arpa/inet.h>

#include <ctime>

#include "sim/ConfigStore.h"
#include "sim/DeviceState.h"
#include "sim/DevsimOptions.h"
#include "sim/NexaShell.h"
#include "sim/StateFile.h"
#include "sim/TransferUrl.h"

namespace {
const char* const kHeaderFirstLine = "# NEXA configuration export";

std::string line(const std::string& text) {
    return text + "\r\n";
}

std::string refusal(const std::string& text) {
    return line("error: " + text);
}

bool validSource(const std::string& address) {
    in_addr v4;
    return inet_pton(AF_INET, address.c_str(), &v4) == 1;
}
}  // namespace

void NexaShell::configd(const Args& args) {
    say(NexaConfigd(state_, options_).run(args));
}

NexaConfigd::NexaConfigd(DeviceState& state, const DevsimOptions& options) : state_(state), options_(options) {}

std::string NexaConfigd::help() const {
    std::string text = line(options_.configdWithoutSource ? "usage: configd <command> [args]"
                                                          : "usage: configd [-s <src>] <command> [args]");
    text += line("  put|put_all all <url> <file> <name>  send configuration <name> as <url><file>");
    text += line("  get|get_all all <url> <file> <name>  fetch <url><file> into configuration <name>");
    text += line("  save <table> <name>                  running table <table> into <name>");
    text += line("  load <table> <name>                  table <table> of <name> into running");
    text += line("  copy <from> <to> | move <from> <to> | delete <name> | list");
    if (!options_.configdWithoutSource) text += line("  -s <src>   source address of the transfer");
    return text;
}

std::string NexaConfigd::run(const Args& given) {
    Args args = given;
    std::string source;
    if (!args.empty() && args[0] == "-h") return help();
    if (!args.empty() && args[0] == "-s") {
        if (options_.configdWithoutSource) return refusal("configd: unknown option -s");
        if (args.size() < 2 || !validSource(args[1])) return refusal("configd: -s needs an IPv4 address");
        source = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) return refusal("configd: missing command (configd -h)");
    const std::string verb = args[0];
    args.erase(args.begin());
    if (verb == "put" || verb == "put_all" || verb == "get" || verb == "get_all") return transfer(verb, args, source);
    if (!source.empty()) return refusal("configd: -s only goes with a transfer");

    ConfigStore& store = state_.configs();
    std::string error;
    bool ok = false;
    if (verb == "save" && args.size() == 2 && args[0] == "all") {
        // The whole running configuration, the passwords set since the
        // last save included, becomes the named one.
        ok = store.copy("running", args[1], error);
        if (ok && args[1] == "boot") state_.saveRunningPasswords();
    } else if ((verb == "save" || verb == "load") && args.size() == 2) {
        ok = verb == "save" ? store.saveTable(args[0], args[1], error) : store.loadTable(args[0], args[1], error);
    } else if ((verb == "copy" || verb == "move") && args.size() == 2) {
        ok = verb == "copy" ? store.copy(args[0], args[1], error) : store.move(args[0], args[1], error);
    } else if (verb == "delete" && args.size() == 1) {
        ok = store.remove(args[0], error);
    } else if (verb == "list" && args.empty()) {
        std::string text;
        for (const auto& name : store.names()) text += line("  " + name);
        return text;
    } else if (verb == "save" || verb == "load" || verb == "copy" || verb == "move" || verb == "delete" ||
               verb == "list") {
        return refusal("configd " + verb + ": wrong arguments (configd -h)");
    } else {
        return refusal("unknown command configd " + verb + " (configd -h)");
    }
    return ok ? "" : refusal("configd " + verb + ": " + error);
}

std::string NexaConfigd::transfer(const std::string& verb, const Args& args, const std::string&) {
    if (args.size() != 4 || args[0] != "all")
        return refusal("configd " + verb + ": usage: configd " + verb + " all <url> <file> <name>");
    TransferUrl url;
    std::string error;
    if (!TransferUrl::parse(args[1], url, error)) return refusal(error);
    if (!TransferUrl::validFileName(args[2])) return refusal("bad file name '" + args[2] + "'");
    if (!ConfigStore::validName(args[3])) return refusal("bad configuration name '" + args[3] + "'");
    if (options_.transferDir.empty()) return line("transfer failed: server " + url.host + " not reachable");
    if (!url.credentialsAccepted(options_.transferUser, options_.transferPassword))
        return line("transfer failed: 401 Unauthorized");
    return verb[0] == 'p' ? put(args[2], args[3]) : get(args[2], args[3]);
}

std::string NexaConfigd::exportHeader(const std::string& name, const std::string& hostname, time_t when) {
    char stamp[32];
    struct tm local;
    localtime_r(&when, &local);
    strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(kHeaderFirstLine) + "\n# configuration " + name + " of " + hostname +
           "\n# Created by configd at " + stamp + "\n";
}

std::string NexaConfigd::withoutHeader(const std::string& text) {
    if (text.compare(0, std::string(kHeaderFirstLine).size(), kHeaderFirstLine) != 0) return text;
    size_t end = 0;
    for (int i = 0; i < 3 && end != std::string::npos; ++i) {
        end = text.find('\n', end);
        if (end != std::string::npos) ++end;
    }
    return end == std::string::npos ? "" : text.substr(end);
}

std::string NexaConfigd::put(const std::string& file, const std::string& name) {
    std::string text, error;
    if (!state_.configs().read(name, text)) return line("transfer failed: no configuration '" + name + "'");
    const std::string exported = exportHeader(name, options_.hostname, time(nullptr)) + text;
    if (!StateFile::writeAtomically(options_.transferDir + "/" + file, exported, error))
        return line("transfer failed: " + error);
    return line("transfer ok");
}

std::string NexaConfigd::get(const std::string& file, const std::string& name) {
    std::string text, error;
    if (!StateFile::read(options_.transferDir + "/" + file, text)) return line("transfer failed: 404 Not Found");
    if (!state_.configs().write(name, withoutHeader(text), error)) return refusal("configuration refused: " + error);
    return line("transfer ok");
}
