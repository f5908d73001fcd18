#include "main/NexaUpdateDialogue.h"

#include <initializer_list>
#include <vector>

#include "main/Tarvo.h"
#include "util/ConnectionHandler.h"
#include "util/logEngine.h"

namespace {

using State = NexaUpdateDialogue::State;

// One reply of the device and which of the two awaited texts it showed.
struct Reply {
    const commandResult& result;
    bool question;  // "(y or n)"
    bool prompt;    // ">"
};

bool containsAny(const commandResult& result, std::initializer_list<const char*> texts) {
    for (const char* text : texts)
        if (result.contains(text)) return true;
    return false;
}

// The reply classes.
bool isDeleteQuestion(const Reply& r) {
    return r.question && r.result.contains("*** delete");
}
bool isUpdateQuestion(const Reply& r) {
    return r.question && containsAny(r.result, {"Do you want to perform an incremental update", "Perform update",
                                                "Perform Flash-ROM update", "Choose Modem"});
}
bool isRebootQuestion(const Reply& r) {
    return r.question && containsAny(r.result, {"Rebooting...", "Reboot now"});
}
bool isActivationNotice(const Reply& r) {
    return r.prompt && r.result.contains("Do reboot to activate new SW");
}
bool isFinished(const Reply& r) {
    return r.prompt && containsAny(r.result, {"Checking Image ... OK", "update successfully finished",
                                              "Identical image exists in Flash-ROM", "Software is identical",
                                              "Update canceled.", "Waiting for modem to reboot"});
}
bool showsPrompt(const Reply& r) {
    return r.prompt;
}

struct Transition {
    bool (*when)(const Reply&);
    bool setsRebootPending;
    State next;
};

// What a state sends on entry (nullptr: the update command for StateStart,
// nothing for the final states), whether its answer awaits the yes/no
// question first, and its transitions in the order they are tested. A
// reply that fits none leads to StateError.
struct StateRow {
    const char* answer;
    bool awaitQuestion;
    std::vector<Transition> transitions;
};

const StateRow& rowOf(State state) {
    static const StateRow kStates[] = {
        // StateStart
        {nullptr,
         true,
         {{isDeleteQuestion, false, NexaUpdateDialogue::StateConfirmDelete},
          {isUpdateQuestion, false, NexaUpdateDialogue::StateConfirmUpdate},
          {isActivationNotice, true, NexaUpdateDialogue::StateEnd},
          {isFinished, false, NexaUpdateDialogue::StateEnd}}},
        // StateConfirmDelete: once the flash has room, a device that
        // writes at once only tells that a reboot activates the image.
        {"y",
         true,
         {{isDeleteQuestion, false, NexaUpdateDialogue::StateConfirmDelete},
          {isUpdateQuestion, false, NexaUpdateDialogue::StateConfirmUpdate},
          {isActivationNotice, true, NexaUpdateDialogue::StateEnd},
          {isFinished, false, NexaUpdateDialogue::StateEnd}}},
        // StateConfirmUpdate
        {"y",
         true,
         {{isRebootQuestion, false, NexaUpdateDialogue::StateDeclineReboot},
          {isFinished, false, NexaUpdateDialogue::StateEnd}}},
        // StateDeclineReboot: only the shell prompt is awaited.
        {"n", false, {{showsPrompt, true, NexaUpdateDialogue::StateEnd}}},
        // StateError, StateEnd
        {nullptr, false, {}},
        {nullptr, false, {}},
    };
    return kStates[state];
}

// A device that keeps asking (a flash it can never clear) must not keep
// the job answering for ever.
const unsigned kMaxAnswers = 64;

}  // namespace

NexaUpdateDialogue::NexaUpdateDialogue(Tarvo& job, ConnectionHandler& link, std::string keyword)
    : job(job), link(link), keyword(std::move(keyword)) {}

const char* NexaUpdateDialogue::stateName(State state) {
    static const char* const kNames[] = {"StateStart",         "StateConfirmDelete", "StateConfirmUpdate",
                                         "StateDeclineReboot", "StateError",         "StateEnd"};
    return kNames[state];
}

commandResult NexaUpdateDialogue::answer(const std::string& text, bool awaitQuestion, Seen& seen) {
    if (awaitQuestion) {
        commandResult result = link.sendCmd(text, job.family.promptYesNo, job.family.promptMain);
        seen = {result.foundFirst, result.foundSecond};
        return result;
    }
    commandResult result = link.sendCmd(text, job.family.promptMain);
    seen = {false, result.foundFirst};
    return result;
}

NexaUpdateDialogue::State NexaUpdateDialogue::run(const std::function<commandResult()>& sendUpdate) {
    State state = StateStart;
    unsigned answers = 0;
    for (;;) {
        job.log->addLine(logEngine::INF, "[ Reached %s ]", stateName(state));
        const StateRow& row = rowOf(state);
        if (row.transitions.empty()) break;
        Seen seen{false, false};
        commandResult result;
        if (state == StateStart) {
            result = sendUpdate();
            seen = {result.foundFirst, result.foundSecond};
        } else if (++answers > kMaxAnswers) {
            state = StateError;
            continue;
        } else {
            result = answer(row.answer, row.awaitQuestion, seen);
        }
        const Reply reply{result, seen.question, seen.prompt};
        State next = StateError;
        for (const Transition& transition : row.transitions) {
            if (!transition.when(reply)) continue;
            if (transition.setsRebootPending) job.rebootPending = true;
            next = transition.next;
            break;
        }
        state = next;
    }
    if (state == StateError) job.setError("SW-update failed", "Update of %s failed.", keyword.c_str());
    return state;
}
