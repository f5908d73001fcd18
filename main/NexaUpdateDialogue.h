#pragma once
#include <functional>
#include <string>

#include "util/commandResult.h"

class ConnectionHandler;
class Tarvo;

// NexaUpdateDialogue drives the questions a NEXA device asks after its
// "update" command, for one image. It is a state machine: a table of the
// six states (what each sends on entry and which reply class leads where,
// tested in the table's order), the reply classes as named predicates over
// one reply, and a loop. It answers "y" to delete and update questions and
// always "n" to a reboot question: the restart is left to the workmode,
// which it tells through the job's rebootPending. A dialogue that ends in
// StateError fails the job with "SW-update failed".
//
// job and link must outlive the dialogue.
class NexaUpdateDialogue {
public:
    enum State { StateStart, StateConfirmDelete, StateConfirmUpdate, StateDeclineReboot, StateError, StateEnd };

    NexaUpdateDialogue(Tarvo& job, ConnectionHandler& link, std::string keyword);

    // sendUpdate sends the update command itself (it is masked and slow,
    // so the caller builds it). Returns the final state.
    State run(const std::function<commandResult()>& sendUpdate);

    static const char* stateName(State state);

private:
    // Which prompt an answer awaits first: the reply classes need to know
    // whether "(y or n)" or the shell prompt was seen.
    struct Seen {
        bool question;  // the yes/no prompt
        bool prompt;    // the shell prompt
    };
    commandResult answer(const std::string& text, bool awaitQuestion, Seen& seen);

    Tarvo& job;
    ConnectionHandler& link;
    std::string keyword;
};
