#include "util/Pause.h"

#include <cerrno>
#include <cmath>
#include <ctime>

namespace {
double gScale = 1.0;
bool (*gInterrupted)() = nullptr;
}  // namespace

void Pause::seconds(unsigned count) {
    const double total = static_cast<double>(count) * gScale;
    if (total <= 0) return;
    timespec now{}, end{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    end.tv_sec = now.tv_sec + static_cast<time_t>(total);
    end.tv_nsec = now.tv_nsec + static_cast<long>((total - std::floor(total)) * 1e9);
    if (end.tv_nsec >= 1000000000L) {
        end.tv_sec += 1;
        end.tv_nsec -= 1000000000L;
    }
    // Slept in slices against one deadline, so that a termination request
    // can end the pause and an interrupted sleep does not shorten it.
    for (;;) {
        if (gInterrupted && gInterrupted()) return;
        clock_gettime(CLOCK_MONOTONIC, &now);
        double left = static_cast<double>(end.tv_sec - now.tv_sec) + (end.tv_nsec - now.tv_nsec) / 1e9;
        if (left <= 0) return;
        double slice = left < 0.2 ? left : 0.2;
        timespec step{static_cast<time_t>(slice), static_cast<long>((slice - std::floor(slice)) * 1e9)};
        nanosleep(&step, nullptr);
    }
}

void Pause::setScale(double factor) {
    gScale = factor < 0 ? 0 : factor;
}

double Pause::scale() {
    return gScale;
}

void Pause::setInterruptCheck(bool (*check)()) {
    gInterrupted = check;
}

bool Pause::interruptRequested() {
    return gInterrupted && gInterrupted();
}
