#pragma once

// Pause is every deliberate wait of the program: the 2 seconds after a
// disconnect, the reboot wait, the wait for certificate files and the wait
// after a failed firmware rename. The installed program always pauses for
// the full time; only the test-only runner scales the pauses, so that
// end-to-end tests stay fast. Nothing the installed program reads (settings,
// environment, database) can change the scale.
class Pause {
public:
    // Sleeps the scaled number of seconds; a signal does not cut it short
    // unless an interrupt check is installed and reports true.
    static void seconds(unsigned seconds);
    // Test-only: factor applied to every pause from now on (1.0 = real).
    static void setScale(double factor);
    static double scale();
    // Called between the slices of a pause; when it returns true the pause
    // ends early (a termination request). Not owned; may be nullptr.
    static void setInterruptCheck(bool (*check)());
    // Whether the installed check reports a termination request; the
    // device waits (Telnet reads, the expect engine) end on it too, and no
    // further command is sent to the device.
    static bool interruptRequested();
};
