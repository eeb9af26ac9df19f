#pragma once

#include <cstdint>
#include <vector>

// The rules that keep a service's child running: restart after a crash with back-off, a
// bounded number of restarts in a window, and a stop that asks, waits, then ends the child.
// Times are milliseconds of a monotonic clock that the caller passes in with each event; the
// caller also passes in how children are started and ended, so the rules run without Windows.

struct RestartPolicy {
    bool enabled = true;
    // Delay before the first, second, ... restart; the last one repeats.
    std::vector<uint32_t> delaysSeconds{1, 5, 30};
    // Running this long counts as healthy and forgets the earlier restarts.
    uint32_t resetAfterSeconds = 600;
    // More restarts than this within one window give up.
    uint32_t limit = 5;
};

enum class SupervisorState { Starting, Running, Stopping, WaitingToRestart, Stopped };

// Why the supervision ended.
enum class SupervisorEnd {
    None,
    Stopped,          // a stop was asked for, or the child ended with 0
    ChildNotStarted,  // a start failed
    RestartLimit,     // the child crashed once more after the last allowed restart
    Crashed,          // the child crashed and restarting is off
};

class ChildControl {
public:
    virtual ~ChildControl() = default;
    // Starts a child; false when none runs.
    virtual bool startChild() = 0;
    virtual void askChildToStop() = 0;
    // Ends the child and everything it started.
    virtual void killChild() = 0;
    // Told before a restart is waited for: its delay and how many restarts this window saw.
    virtual void restartScheduled(uint32_t delaySeconds, uint32_t restartInWindow) = 0;
};

class Supervisor {
public:
    // How long a child may take to end once it was killed before it is given up on.
    static constexpr uint64_t kKillGraceMs = 10000;

    Supervisor(RestartPolicy policy, uint64_t stopTimeoutMs, ChildControl& control);

    void start(uint64_t now);
    void stopRequested(uint64_t now);
    void childExited(uint64_t now, uint32_t exitCode);
    // Acts on a deadline that has come: a restart that is due, a stop that took too long.
    void timePassed(uint64_t now);

    SupervisorState state() const { return state_; }
    SupervisorEnd end() const { return end_; }
    // When timePassed must be called next; 0 when nothing waits for the clock.
    uint64_t deadline() const { return deadline_; }
    bool childKilled() const { return killed_; }
    uint32_t totalRestarts() const { return totalRestarts_; }

private:
    void launch(uint64_t now);
    void finish(SupervisorEnd end);

    RestartPolicy policy_;
    uint64_t stopTimeoutMs_;
    ChildControl& control_;
    SupervisorState state_ = SupervisorState::Starting;
    SupervisorEnd end_ = SupervisorEnd::None;
    uint64_t deadline_ = 0;
    uint64_t childStartedAt_ = 0;
    uint32_t restartsInWindow_ = 0;
    uint32_t totalRestarts_ = 0;
    bool killed_ = false;
};
