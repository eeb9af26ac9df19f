#include "portable/supervisor.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace {

// Records what the supervisor asked for; starts fail where the case says so.
class FakeChildren : public ChildControl {
public:
    std::vector<std::string> calls;
    std::deque<bool> startResults;

    bool startChild() override {
        bool started = startResults.empty() ? true : startResults.front();
        if (!startResults.empty())
            startResults.pop_front();
        calls.push_back(started ? "start" : "start-failed");
        return started;
    }
    void askChildToStop() override { calls.push_back("ask"); }
    void killChild() override { calls.push_back("kill"); }
    void restartScheduled(uint32_t delaySeconds, uint32_t restartInWindow) override {
        calls.push_back("wait " + std::to_string(delaySeconds) + "s #" +
                        std::to_string(restartInWindow));
    }
};

// One event at a time in seconds: "exit N" (the child ended with N), "stop", "tick" (the
// clock reached the time).
struct Step {
    double second;
    std::string event;
};

struct SupervisorCase {
    const char* name;
    RestartPolicy policy;
    std::vector<bool> startResults;
    std::vector<Step> steps;
    std::vector<std::string> calls;
    SupervisorState state;
    SupervisorEnd end;
};

void PrintTo(const SupervisorCase& c, std::ostream* os) { *os << c.name; }

constexpr uint64_t kStopTimeoutMs = 30000;

RestartPolicy policy(std::vector<uint32_t> delays, uint32_t resetAfter, uint32_t limit,
                     bool enabled = true) {
    return RestartPolicy{enabled, std::move(delays), resetAfter, limit};
}

class SupervisorRules : public ::testing::TestWithParam<SupervisorCase> {};

TEST_P(SupervisorRules, CallsAndOutcome) {
    const SupervisorCase& c = GetParam();
    FakeChildren children;
    children.startResults.assign(c.startResults.begin(), c.startResults.end());
    Supervisor supervisor(c.policy, kStopTimeoutMs, children);
    // The clock does not start at 0 on a real machine either.
    const uint64_t origin = 5000000;
    supervisor.start(origin);
    for (const Step& step : c.steps) {
        uint64_t now = origin + static_cast<uint64_t>(step.second * 1000);
        if (step.event == "stop")
            supervisor.stopRequested(now);
        else if (step.event == "tick")
            supervisor.timePassed(now);
        else
            supervisor.childExited(now, static_cast<uint32_t>(std::stoul(step.event.substr(5))));
    }
    EXPECT_EQ(children.calls, c.calls);
    EXPECT_EQ(supervisor.state(), c.state);
    EXPECT_EQ(supervisor.end(), c.end);
}

const RestartPolicy kDefault{};
using S = SupervisorState;
using E = SupervisorEnd;

INSTANTIATE_TEST_SUITE_P(
    Table, SupervisorRules,
    ::testing::Values(
        SupervisorCase{"clean_exit_stops", kDefault, {}, {{3, "exit 0"}},
                       {"start"}, S::Stopped, E::Stopped},
        SupervisorCase{"first_start_fails", kDefault, {false}, {},
                       {"start-failed"}, S::Stopped, E::ChildNotStarted},
        SupervisorCase{"crash_waits_then_restarts", kDefault, {},
                       {{2, "exit 3"}, {2.5, "tick"}, {3, "tick"}},
                       {"start", "wait 1s #1", "start"}, S::Running, E::None},
        SupervisorCase{"killed_from_outside_restarts", kDefault, {},
                       {{2, "exit 1"}, {3, "tick"}},
                       {"start", "wait 1s #1", "start"}, S::Running, E::None},
        SupervisorCase{"delays_back_off_and_last_repeats", policy({1, 5}, 600, 5), {},
                       {{1, "exit 3"}, {2, "tick"}, {3, "exit 3"}, {7, "tick"}, {8, "tick"},
                        {9, "exit 3"}, {14, "tick"}},
                       {"start", "wait 1s #1", "start", "wait 5s #2", "start", "wait 5s #3",
                        "start"},
                       S::Running, E::None},
        SupervisorCase{"limit_reached_gives_up", policy({1}, 600, 2), {},
                       {{1, "exit 3"}, {2, "tick"}, {3, "exit 3"}, {4, "tick"}, {5, "exit 3"}},
                       {"start", "wait 1s #1", "start", "wait 1s #2", "start"},
                       S::Stopped, E::RestartLimit},
        SupervisorCase{"healthy_run_resets_the_count", policy({1, 5}, 60, 2), {},
                       {{1, "exit 3"}, {2, "tick"}, {3, "exit 3"}, {8, "tick"},
                        {68, "exit 3"}, {69, "tick"}, {70, "exit 3"}},
                       {"start", "wait 1s #1", "start", "wait 5s #2", "start", "wait 1s #1",
                        "start", "wait 5s #2"},
                       S::WaitingToRestart, E::None},
        SupervisorCase{"limit_zero_never_restarts", policy({1}, 600, 0), {},
                       {{1, "exit 3"}}, {"start"}, S::Stopped, E::RestartLimit},
        SupervisorCase{"restart_off_reports_the_crash", policy({1}, 600, 5, false), {},
                       {{1, "exit 3"}}, {"start"}, S::Stopped, E::Crashed},
        SupervisorCase{"failed_restart_ends", kDefault, {true, false},
                       {{1, "exit 3"}, {2, "tick"}},
                       {"start", "wait 1s #1", "start-failed"}, S::Stopped, E::ChildNotStarted},
        SupervisorCase{"stop_asks_and_exit_ends", kDefault, {},
                       {{1, "stop"}, {2, "exit 0"}}, {"start", "ask"}, S::Stopped, E::Stopped},
        SupervisorCase{"exit_code_during_stop_is_no_crash", kDefault, {},
                       {{1, "stop"}, {2, "exit 143"}, {5, "tick"}},
                       {"start", "ask"}, S::Stopped, E::Stopped},
        SupervisorCase{"stop_times_out_then_kills", kDefault, {},
                       {{1, "stop"}, {30.9, "tick"}, {31, "tick"}, {31.2, "exit 1"}},
                       {"start", "ask", "kill"}, S::Stopped, E::Stopped},
        SupervisorCase{"kill_without_exit_gives_up_after_grace", kDefault, {},
                       {{1, "stop"}, {31, "tick"}, {40, "tick"}, {41, "tick"}},
                       {"start", "ask", "kill"}, S::Stopped, E::Stopped},
        SupervisorCase{"second_stop_asks_again", kDefault, {},
                       {{1, "stop"}, {2, "stop"}, {3, "exit 0"}},
                       {"start", "ask", "ask"}, S::Stopped, E::Stopped},
        SupervisorCase{"stop_while_waiting_is_final", kDefault, {},
                       {{1, "exit 3"}, {1.5, "stop"}, {5, "tick"}},
                       {"start", "wait 1s #1"}, S::Stopped, E::Stopped},
        SupervisorCase{"late_tick_before_deadline_does_nothing", policy({30}, 600, 5), {},
                       {{1, "exit 3"}, {30, "tick"}},
                       {"start", "wait 30s #1"}, S::WaitingToRestart, E::None}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Supervisor, DeadlinesAndCounters) {
    FakeChildren children;
    Supervisor supervisor(policy({2}, 600, 5), 3000, children);
    EXPECT_EQ(supervisor.deadline(), 0u);
    supervisor.start(1000);
    EXPECT_EQ(supervisor.deadline(), 0u) << "a running child waits for no clock";
    supervisor.childExited(1500, 9);
    EXPECT_EQ(supervisor.deadline(), 3500u);
    supervisor.timePassed(3500);
    EXPECT_EQ(supervisor.totalRestarts(), 1u);
    supervisor.stopRequested(4000);
    EXPECT_EQ(supervisor.deadline(), 7000u);
    EXPECT_FALSE(supervisor.childKilled());
    supervisor.timePassed(7000);
    EXPECT_TRUE(supervisor.childKilled());
    EXPECT_EQ(supervisor.deadline(), 7000u + Supervisor::kKillGraceMs);
}

} // namespace
