#pragma once
#include <cstdint>
#include <mutex>
#include <random>
#include <string>

// Chaos is the --chaos fault switch: a device that misbehaves at random,
// the same way again for the same seed. Every new connection and every
// command line draws once from one generator seeded with the seed, so a
// device that sees the same dialogue shows the same faults in the same
// places. A connection may be dropped at once; a command may have its
// reply broken off halfway with the line dropping, be followed by silence,
// make the device reboot after its reply, or have its reply held back.
// Shared by the sessions of a device; thread-safe.
class Chaos {
public:
    enum class Fault { None, DropConnection, CloseMidReply, Silent, Reboot, Slow };
    // One connection in connectionOdds is dropped, one command in
    // commandOdds gets a fault.
    static constexpr unsigned connectionOdds = 8;
    static constexpr unsigned commandOdds = 10;
    // The longest hold-back of a slow reply.
    static constexpr int maxSlowMs = 2500;

    explicit Chaos(uint64_t seed);
    Chaos(const Chaos&) = delete;
    Chaos& operator=(const Chaos&) = delete;

    // DropConnection or None.
    Fault onConnection();
    // None, CloseMidReply, Silent, Reboot or Slow; slowMs is set for Slow.
    Fault onCommand(int& slowMs);
    static const char* name(Fault fault);

private:
    uint64_t draw(uint64_t below);

    std::mutex lock_;
    std::mt19937_64 random_;
};
