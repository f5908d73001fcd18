// Firmware images: a NEXA device fetches each image itself with its
// "update" command and then asks its questions (NexaUpdateDialogue); a
// qx.CLI device gets each image over one SFTP connection into memory, and a
// rename moves it onto its disk, after its own image checks were switched
// off on its command line.
#include <sys/stat.h>

#include <algorithm>
#include <climits>

#include "main/NexaUpdateDialogue.h"
#include "main/Tarvo.h"
#include "main/Workmode.h"
#include "util/CommandText.h"
#include "util/Pause.h"
#include "util/logEngine.h"

std::vector<Tarvo::ImgRow> Tarvo::imageRowsNexa() const {
    return {
        {"logic", swRelease->logic, "", "", "logic"},
        {"bootmon", swRelease->bootmonitor, "", "", "bootmonitor"},
        {"nexa", swRelease->nexa, "", "", "nexa"},
        {"dsllogic", swRelease->dsllogic, "", "", "dsllogic"},
    };
}

// Module 3 and module 4 share the device file MOD3.FWX: the later row
// overwrites the earlier one on the device.
std::vector<Tarvo::ImgRow> Tarvo::imageRowsQxCli() const {
    return {
        {"bios", swRelease->bootmonitor, "BOOT.IMG", "/BIO", "bootmonitor"},
        {DeviceFamily::kQxCliOs, swRelease->nexa, "SYS.IMG", "/DSK", "nexa"},
        {"module-1", swRelease->dsllogic, "MOD1.FWX", "/DSK", "dsllogic"},
        {"module-2", swRelease->module2, "MOD2.FWX", "/DSK", "module2"},
        {"module-3", swRelease->module3, "MOD3.FWX", "/DSK", "module3"},
        {"module-4", swRelease->module4, "MOD3.FWX", "/DSK", "module4"},
    };
}

namespace {
// A line break or other control character in a file or model name would
// end the command line early and make the rest a command of its own.
bool fitsOnOneLine(const std::string& text) {
    return CommandText::findControl(text) == std::string::npos;
}
}  // namespace

int Tarvo::transferWaitLimit(const std::string& localFile) {
    struct stat st {};
    const long long size = stat(localFile.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
    return static_cast<int>(
        std::min<long long>(INT_MAX / 1000, kTransferBaseSeconds + size / kSlowestTransferBytesPerSecond));
}

void Tarvo::updateImages(ConnectionHandler& link) {
    if (!isQxCli()) {
        updateImagesNexa(link);
    } else if (updateImagesPrepQxCli(link)) {
        updateImagesQxCli();
    }
}

// The "-I SRC" option of "update", when the router names a local source
// address; false (with the reason set) when the device cannot take it.
bool Tarvo::updateSourceOptionNexa(ConnectionHandler& link, std::string& option) {
    static const SourceProbe kUpdate = {"Checking 'update' options",
                                        "update -h",
                                        "-I <src>",
                                        "-I ",
                                        " ",
                                        "Command 'update' supports '-I' option.",
                                        "Command 'update' does NOT support '-I' option."};
    return probeSourceOption(link, kUpdate, true, option);
}

void Tarvo::updateImagesNexa(ConnectionHandler& link) {
    std::string sourceOption;
    if (!updateSourceOptionNexa(link, sourceOption)) return;
    for (const ImgRow& row : imageRowsNexa()) {
        if (!reason.empty()) break;
        if (row.file.empty()) continue;
        updateJob("Updating " + row.keyword);
        if (!fitsOnOneLine(row.file) || !fitsOnOneLine(router->model)) {
            log->addLine(logEngine::ERR, "Image name of %s holds control characters.", row.keyword.c_str());
            setError("SW-update failed", "Update of %s failed.", row.keyword.c_str());
            break;
        }
        // Only the system image can be a multi-part package.
        const std::string packageOption = row.keyword == "nexa" && swRelease->multiPart ? "-a " : "";
        const std::string head = "update " + packageOption + sourceOption + transferScheme;
        const std::string path = transferBase + "images/" + router->model + "/" + row.file;
        // The device fetches the image during the command and flashes it
        // after the answer, reporting progress all the while.
        ScopedWaitLimit whileTransferring(
            link, transferWaitLimit(paths.transferDir() + "images/" + router->model + "/" + row.file));
        NexaUpdateDialogue(*this, link, row.keyword).run([&] {
            // Fetching and checking an image takes the device a while.
            ScopedTimeout slow(link, 60);
            return transferCommand(link, head, path, family.promptYesNo, family.promptMain);
        });
    }
}

bool Tarvo::updateImagesPrepQxCli(ConnectionHandler& link) {
    updateJob("Preparing SW-update");
    if (!step(link, "\x10running-config", family.promptConfigEnd)) return false;
    // The FTP configuration holds the device's own checks of uploaded
    // images, which would refuse images of another release line.
    for (const char* command : {"set ftp", "no check bios", "no check firmware", "no check version"})
        if (!step(link, command, family.promptFtpConfig)) return false;
    return true;
}

void Tarvo::updateImagesQxCli() {
    withSftp([this](ConnectionHandler& sftp) {
        for (const ImgRow& row : imageRowsQxCli()) {
            if (!reason.empty()) break;
            if (row.file.empty()) continue;
            updateImageQxCli(sftp, row);
        }
    });
}

void Tarvo::updateImageQxCli(ConnectionHandler& sftp, const ImgRow& row) {
    updateJob("Updating " + row.keyword);
    // Whatever happens to this row, the device has seen new files.
    rebootPending = true;
    if (!fitsOnOneLine(row.file) || !fitsOnOneLine(router->model)) {
        log->addLine(logEngine::ERR, "Image name of %s holds control characters.", row.keyword.c_str());
        setError("Bad file-transfer", "%s-file-transfer failed.", fileTransferMethod.c_str());
        return;
    }
    ScopedTimeout slow(sftp, 600);
    const std::string image = paths.transferDir() + "images/" + router->model + "/" + row.file;
    bool renameFailed = false;
    if (sftpPutAndRename(sftp, image, "/MEM/" + row.deviceFile, row.deviceDir + "/" + row.deviceFile, renameFailed)) {
        log->addLine(logEngine::INF, "%s updated.", row.keyword.c_str());
        return;
    }
    if (!renameFailed) return;
    // The device may still be writing its disk; a reboot now could leave
    // it without a system.
    log->add(logEngine::INF, "Waiting for 10 minutes before reboot.");
    Pause::seconds(600);
}

// Stage 7: the firmware images, guarded by the device's fallback timer.
// Whatever fails after the timer was armed ends in a reboot (the guard's),
// so the device never waits for a timer the job forgot.
bool Tarvo::stageImages(ConnectionHandler& link) {
    if (!connect(link)) return false;
    FallbackGuard fallback = scheduleFallback(link, configRestoreTimeoutImage);
    if (!fallback || !reason.empty()) return false;
    updateImages(link);
    if (!reason.empty()) return false;
    if (rebootPending) {
        // The new software runs only after the restart.
        reboot(link);
        if (!connect(link)) return false;
    } else if (!fallback.flush()) {
        return false;
    }
    // The version the device runs now goes into the router row.
    inventory(link);
    // A workmode that uploads a configuration next does so on this connection.
    if (reason.empty() && mode->acts(Workmode::kUpload)) return true;
    disconnect(link);
    return reason.empty();
}
