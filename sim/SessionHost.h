#pragma once

// SessionHost is what a session may ask of the device that runs it.
class SessionHost {
public:
    virtual ~SessionHost() = default;
    // The device goes down once the asking session has sent its last words.
    virtual void requestReboot() = 0;
};
