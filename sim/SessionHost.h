#pragma once

class Chaos;
class FallbackTimer;

// SessionHost is what a session may ask of the device that runs it.
class SessionHost {
public:
    virtual ~SessionHost() = default;
    // The device goes down once the asking session has sent its last words.
    virtual void requestReboot() = 0;
    // The device's fallback timer, shared by all its sessions.
    virtual FallbackTimer* fallbackTimer() = 0;
    // The device's --chaos faults; null without them.
    virtual Chaos* chaos() = 0;
};
