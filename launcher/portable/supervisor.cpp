#include "portable/supervisor.h"

#include <algorithm>
#include <utility>

Supervisor::Supervisor(RestartPolicy policy, uint64_t stopTimeoutMs, ChildControl& control)
    : policy_(std::move(policy)), stopTimeoutMs_(stopTimeoutMs), control_(control) {}

void Supervisor::start(uint64_t now) {
    if (state_ == SupervisorState::Starting)
        launch(now);
}

void Supervisor::launch(uint64_t now) {
    deadline_ = 0;
    if (!control_.startChild()) {
        finish(SupervisorEnd::ChildNotStarted);
        return;
    }
    state_ = SupervisorState::Running;
    childStartedAt_ = now;
}

void Supervisor::finish(SupervisorEnd end) {
    state_ = SupervisorState::Stopped;
    end_ = end;
    deadline_ = 0;
}

void Supervisor::stopRequested(uint64_t now) {
    switch (state_) {
    case SupervisorState::Starting:
    case SupervisorState::WaitingToRestart:
        finish(SupervisorEnd::Stopped);
        break;
    case SupervisorState::Running:
        state_ = SupervisorState::Stopping;
        deadline_ = std::max<uint64_t>(now + stopTimeoutMs_, 1);
        control_.askChildToStop();
        break;
    case SupervisorState::Stopping:
        // A repeated request changes nothing; the child is asked again, which it may ignore.
        control_.askChildToStop();
        break;
    case SupervisorState::Stopped:
        break;
    }
}

void Supervisor::childExited(uint64_t now, uint32_t exitCode) {
    if (state_ == SupervisorState::Stopping) {
        finish(SupervisorEnd::Stopped);
        return;
    }
    if (state_ != SupervisorState::Running)
        return;
    if (exitCode == 0) {
        finish(SupervisorEnd::Stopped);
        return;
    }
    if (!policy_.enabled) {
        finish(SupervisorEnd::Crashed);
        return;
    }
    if (now - childStartedAt_ >= uint64_t{policy_.resetAfterSeconds} * 1000)
        restartsInWindow_ = 0;
    if (restartsInWindow_ >= policy_.limit) {
        finish(SupervisorEnd::RestartLimit);
        return;
    }
    uint32_t delay = 0;
    if (!policy_.delaysSeconds.empty()) {
        size_t index = std::min<size_t>(restartsInWindow_, policy_.delaysSeconds.size() - 1);
        delay = policy_.delaysSeconds[index];
    }
    ++restartsInWindow_;
    ++totalRestarts_;
    state_ = SupervisorState::WaitingToRestart;
    // Never 0: 0 means no deadline.
    deadline_ = std::max<uint64_t>(now + uint64_t{delay} * 1000, 1);
    control_.restartScheduled(delay, restartsInWindow_);
}

void Supervisor::timePassed(uint64_t now) {
    if (deadline_ == 0 || now < deadline_)
        return;
    if (state_ == SupervisorState::WaitingToRestart) {
        launch(now);
    } else if (state_ == SupervisorState::Stopping && !killed_) {
        killed_ = true;
        deadline_ = now + kKillGraceMs;
        control_.killChild();
    } else if (state_ == SupervisorState::Stopping) {
        // The kill did not show as an exit in time: nothing more can be done for the child.
        finish(SupervisorEnd::Stopped);
    }
}
