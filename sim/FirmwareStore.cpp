#include "sim/FirmwareStore.h"

#include <cstdio>
#include <cstdlib>
#include <set>

#include "sim/DeviceState.h"
#include "sim/FirmwareImage.h"
#include "sim/StateFile.h"

FirmwareStore::NexaDialogue FirmwareStore::nexaDialogue(const DeviceState& state) {
    NexaDialogue dialogue;
    std::string content;
    if (!StateFile::read(state.path("firmware"), content)) return dialogue;
    for (const auto& [key, value] : StateFile::keyValueLines(content)) {
        if (key == "delete-questions")
            dialogue.deleteQuestions = atoi(value.c_str());
        else if (key == "activation")
            dialogue.activationNotice = value == "notice";
        else if (key == "reboot-question")
            dialogue.rebootQuestion = value != "no";
        else if (key == "source-option")
            dialogue.sourceOption = value != "no";
        else if (key == "feature-set")
            dialogue.featureSet = value;
    }
    return dialogue;
}

void FirmwareStore::setPending(const DeviceState& state, const std::string& version) {
    std::string error;
    const std::string featureSet = nexaDialogue(state).featureSet;
    StateFile::writeAtomically(state.path("pending"), version + (featureSet.empty() ? "" : " " + featureSet) + "\n",
                               error);
}

bool FirmwareStore::runs(const std::string& reported, const std::string& version) {
    return reported == version || reported.compare(0, version.size() + 1, version + " ") == 0;
}

void FirmwareStore::setImageCheck(const DeviceState& state, const std::string& name, bool on) {
    std::string content;
    std::set<std::string> off;
    if (StateFile::read(state.path("checks"), content))
        for (const auto& line : StateFile::entryLines(content)) off.insert(line);
    if (on)
        off.erase(name);
    else
        off.insert(name);
    content.clear();
    for (const auto& check : off) content += check + "\n";
    std::string error;
    StateFile::writeAtomically(state.path("checks"), content, error);
}

std::string FirmwareStore::activate(DeviceState& state) {
    std::string error;
    if (state.family() == SimFamily::Nexa) {
        std::string pending;
        if (!StateFile::read(state.path("pending"), pending)) return "";
        while (!pending.empty() && (pending.back() == '\n' || pending.back() == '\r')) pending.pop_back();
        ::remove(state.path("pending").c_str());
        if (pending.empty()) return "";
        state.setVariable("tmibAdmSWVersion", pending, true);
        return "running software " + pending;
    }
    std::string image;
    if (!FirmwareImage::load(state.fsRoot() + "/DSK/SYS.IMG", image)) return "";
    const std::string release = FirmwareImage::qxCliRelease(image);
    if (release.empty()) return "";
    std::string current;
    if (StateFile::read(state.path("release"), current) && current == release + "\n") return "";
    StateFile::writeAtomically(state.path("release"), release + "\n", error);
    return "running release " + release;
}
