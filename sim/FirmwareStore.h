#pragma once
#include <string>

class DeviceState;

// FirmwareStore keeps what the device knows about its software in files of
// the state directory:
//
//   firmware   how a NEXA device's update dialogue goes (prepared by tests;
//              "key value" lines, all optional):
//                delete-questions N      flash too full: N "*** delete"
//                                        questions before the update (0)
//                activation notice|question
//                                        "Do reboot to activate new SW"
//                                        instead of the update question
//                                        (question)
//                reboot-question yes|no  ask "Reboot now" after an update
//                                        (yes)
//                source-option yes|no    "update" takes "-I <src>" (yes)
//                feature-set NAME        what the device reports after the
//                                        version of its software (IPSec)
//   pending    NEXA: the software written to flash, active after the next
//              reboot: then the device's tmibAdmSWVersion, the image's
//              version and the feature set ("V.7.10 Rev. 3 IPSec")
//   checks     qx.CLI: the image checks of the FTP configuration switched
//              off, one name a line ("bios", "firmware", "version")
//   release    qx.CLI: the running release, read at boot from the first
//              line of /DSK/SYS.IMG (see FirmwareImage); other reports of
//              the device (its version report) read it from here
class FirmwareStore {
public:
    struct NexaDialogue {
        int deleteQuestions = 0;
        bool activationNotice = false;
        bool rebootQuestion = true;
        bool sourceOption = true;
        std::string featureSet = "IPSec";
    };

    // The dialogue settings; defaults for a missing file or unknown lines.
    static NexaDialogue nexaDialogue(const DeviceState& state);
    // An image's version written to flash, running after the next reboot.
    static void setPending(const DeviceState& state, const std::string& version);
    // Whether the software the device reports is the image's version.
    static bool runs(const std::string& reported, const std::string& version);
    // An image check of the FTP configuration switched on or off.
    static void setImageCheck(const DeviceState& state, const std::string& name, bool on);
    // At boot: NEXA makes the pending version its running one, qx.CLI reads
    // the release of its system image. Returns what changed, for the
    // transcript ("" when nothing did).
    static std::string activate(DeviceState& state);
};
