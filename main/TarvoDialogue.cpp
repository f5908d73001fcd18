// The dialogue layer every device operation is written on: one step of
// "send, wait for the prompt, fail with Missing prompt", the masked
// transfer commands of NEXA devices, the judgement of sftp replies and the
// SFTP connection a qx.CLI transfer opens for itself.
#include <memory>

#include "main/Tarvo.h"
#include "util/logEngine.h"

bool Tarvo::step(ConnectionHandler& link, const std::string& command, const std::string& prompt, commandResult* reply,
                 bool quiet) {
    commandResult result = link.sendCmd(command, prompt, "", quiet);
    bool found = result.foundFirst;
    const bool refused = result.refused;
    if (reply) *reply = std::move(result);
    if (!found) stepFailed(prompt, refused);
    return found;
}

bool Tarvo::secretStep(ConnectionHandler& link, const std::string& command, const std::string& prompt,
                       const std::string& secret) {
    commandResult result = link.sendSecret(command, prompt, secret);
    if (!result.foundFirst) stepFailed(prompt, result.refused);
    return result.foundFirst;
}

void Tarvo::stepFailed(const std::string& prompt, bool refused) {
    // The channel's error line says which character it refused.
    if (refused)
        setError("Command refused", "A command held a control character and was not sent to the device.");
    else
        missingPrompt(prompt);
}

void Tarvo::missingPrompt(const std::string& prompt) {
    setError("Missing prompt", "Missing '%s' prompt.", prompt.c_str());
}

commandResult Tarvo::transferCommand(ConnectionHandler& link, const std::string& head, const std::string& tail,
                                     const std::string& prompt, const std::string& second,
                                     const std::string& shownHead) {
    const std::string command = head + transferCredentials + tail;
    const bool headSecret = !shownHead.empty();
    if (debug || (transferCredentials.empty() && !headSecret)) return link.sendCmd(command, prompt, second, false);
    // A secret travels in the command: the ordinary log gets the command
    // with it blanked out, and the device's echo only as debug.
    log->addLine(logEngine::INF, "*> %s%s%s", (headSecret ? shownHead : head).c_str(),
                 transferCredentials.empty() ? "" : "*:*@", tail.c_str());
    return link.sendCmd(command, prompt, second, true);
}

bool Tarvo::sftpReplyFailed(const commandResult& reply) {
    static const char* const kFailureEndings[] = {": No such file or directory", ": Permission denied", ": Failure"};
    for (const auto& text : reply.replies) {
        if (text.find("Couldn't") != std::string::npos) return true;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(start, end - start);
            while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
            size_t first = line.find_first_not_of(" \r");
            if (first != std::string::npos && line.compare(first, 7, "remote ") == 0) return true;
            // A get of a missing file: 'File "/DSK/X.CFG" not found.'
            const std::string notFound = "\" not found.";
            if (first != std::string::npos && line.compare(first, 6, "File \"") == 0 &&
                line.size() >= notFound.size() &&
                line.compare(line.size() - notFound.size(), notFound.size(), notFound) == 0)
                return true;
            for (const char* ending : kFailureEndings) {
                const std::string tailText(ending);
                if (line.size() >= tailText.size() &&
                    line.compare(line.size() - tailText.size(), tailText.size(), tailText) == 0)
                    return true;
            }
            start = end + 1;
        }
    }
    return false;
}

bool Tarvo::sftpPutAndRename(ConnectionHandler& sftp, const std::string& local, const std::string& memoryFile,
                             const std::string& target, bool& renameFailed) {
    // sftp's progress meter goes on ticking when the transfer stalls, so
    // only the file's size tells how long its waits may last.
    ScopedWaitLimit whileTransferring(sftp, transferWaitLimit(local));
    renameFailed = false;
    commandResult put = sftp.sendCmd("put " + local + " " + memoryFile, family.promptSftp);
    if (!put.foundFirst || !put.contains("100%") || sftpReplyFailed(put)) {
        setError("Bad file-transfer", "%s-file-transfer failed.", fileTransferMethod.c_str());
        removePartialUpload(sftp, memoryFile);
        return false;
    }
    // OpenSSH 9 reports a failed rename as "remote rename ...: Failure"
    // and never with "Couldn't": the common judgement reads both.
    commandResult moved = sftp.sendCmd("rename " + memoryFile + " " + target, family.promptSftp);
    if (!moved.foundFirst || sftpReplyFailed(moved)) {
        renameFailed = true;
        setError("Bad file-renaming", "%s-file-renaming failed.", fileTransferMethod.c_str());
        return false;
    }
    return true;
}

void Tarvo::removePartialUpload(ConnectionHandler& sftp, const std::string& memoryFile) {
    if (!sftp.peerAlive()) {
        log->addLine(logEngine::ERR, "Cannot remove the partial file '%s': the %s-connection is gone.",
                     memoryFile.c_str(), sftp.cTypeStr().c_str());
        return;
    }
    commandResult removal = sftp.sendCmd("rm " + memoryFile, family.promptSftp);
    if (!removal.foundFirst)
        log->addLine(logEngine::ERR, "Removing the partial file '%s' was not confirmed.", memoryFile.c_str());
    else if (!sftpReplyFailed(removal))
        log->addLine(logEngine::INF, "Removed the partial file '%s' of the failed transfer.", memoryFile.c_str());
    else if (removal.contains("No such file"))
        log->addLine(logEngine::INF, "The failed transfer left no file '%s'.", memoryFile.c_str());
    else
        log->addLine(logEngine::ERR, "Could not remove the partial file '%s'.", memoryFile.c_str());
}

bool Tarvo::withSftp(const std::function<void(ConnectionHandler&)>& work) {
    std::unique_ptr<ConnectionHandler> sftp(createConnectionHandler(SFTP));
    if (!sftp) {
        setError("No connect-handler", "Could not create Connectionhandler.");
        return false;
    }
    if (!connect(*sftp)) return false;
    work(*sftp);
    disconnect(*sftp);
    return true;
}

std::string Tarvo::getCfgFileNameQxCli(ConnectionHandler& link, bool useDefault) {
    if (useDefault) return "CONFIG.DEF";
    updateJob("Reading boot-cfg-name");
    std::string name;
    commandResult reply;
    if (step(link, "\x10running-config", family.promptConfigEnd)) {
        reply = link.sendCmd("set file-cfg", family.promptConfigEnd);
        if (reply.foundFirst && reply.contains("Current config:"))
            name = reply.fetch("Current[\\s]config:[\\s]*([\\S]+)");
    }
    if (name.empty() || name == "INVALID") {
        setError("No cfg-file-name", "Cannot get name of configuration-file.");
        return "";
    }
    return name + ".CFG";
}
