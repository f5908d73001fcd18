#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>

#include "sim/DeviceState.h"
#include "sim/DevsimOptions.h"
#include "sim/FallbackTimer.h"
#include "sim/Shell.h"
#include "sim/ShellFactory.h"
#include "sim/Transcript.h"
#include "tests/support/TestSupport.h"

// A device state in a per-test folder and shells over it, driven without
// any socket: feed() gives the shell bytes and returns what it answered.
class ShellFixture : public ::testing::Test {
protected:
    void open(SimFamily family, const std::string& hostname = "router1") {
        options.stateDir = dir.file("state");
        options.family = family;
        options.familyGiven = true;
        options.hostname = hostname;
        std::string error;
        state = DeviceState::open(options, error);
        ASSERT_TRUE(state) << error;
        transcript = std::make_unique<Transcript>(state->path("transcript"));
    }

    // A Telnet session (login, echo) or an SSH session of user admin.
    std::unique_ptr<Shell> shell(bool telnet, bool echo = true) {
        Shell::Context context;
        context.session = telnet ? "telnet#1" : "ssh#1";
        context.login = telnet;
        context.echo = echo;
        if (!telnet) context.user = "admin";
        context.fallbackTimer = fallbackTimer;
        auto made = ShellFactory::make(*state, options, transcript.get(), context);
        made->start();
        greeting = made->takeOutput();
        return made;
    }

    static std::string feed(Shell& shell, const std::string& bytes) {
        shell.receive(bytes);
        return shell.takeOutput();
    }

    // Logs in over Telnet with admin/admin and returns the shell.
    std::unique_ptr<Shell> telnetLoggedIn() {
        auto s = shell(true);
        feed(*s, "admin\r\n");
        loginReply = feed(*s, "admin\r\n");
        return s;
    }

    // The product's SSH login pattern for NEXA devices, /\n*.*:\w*>\s*/.
    static bool matchesNexaSshPrompt(const std::string& text) {
        return std::regex_search(text, std::regex("\\n*.*:\\w*>\\s*"));
    }

    // The prefix the product takes from a qx.CLI reply: from the last line
    // feed up to the last "*" ("" when the reply has no such prompt).
    static std::string promptPrefix(const std::string& reply) {
        size_t feedAt = reply.rfind('\n');
        size_t star = reply.rfind('*');
        if (feedAt == std::string::npos || star == std::string::npos || star < feedAt) return "";
        return reply.substr(feedAt, star - feedAt);
    }

    static bool hasAny(const std::string& text, std::initializer_list<const char*> needles) {
        for (const char* needle : needles)
            if (text.find(needle) != std::string::npos) return true;
        return false;
    }

    testsupport::TempDir dir;
    DevsimOptions options;
    std::unique_ptr<DeviceState> state;
    std::unique_ptr<Transcript> transcript;
    FallbackTimer* fallbackTimer = nullptr;  // the device's, when a test gives it one
    std::string greeting;
    std::string loginReply;
};
