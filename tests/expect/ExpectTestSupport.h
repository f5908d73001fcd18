#pragma once
#include <functional>
#include <string>
#include <vector>

// Helpers for the expect engine's tests: what the kernel says about this
// process and its children.
namespace expecttest {

// Number of descriptors this process has open.
int openDescriptors();
// True while pid names a process that has not ended (zombies count as ended).
bool running(int pid);
// Waits up to ms for pid to end; true when it did.
bool endsWithin(int pid, int ms);
// True when this process has no child at all, ended or not.
bool noChildren();
// Milliseconds on a monotonic clock.
long long nowMs();
// The message of the ExpectException that action raises, or a note that it
// raised none.
std::string raised(const std::function<void()>& action);
// Fields of /proc/<pid>/stat after the command name (field 3 onwards).
std::vector<std::string> statFields(int pid);

}  // namespace expecttest
