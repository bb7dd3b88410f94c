// The driver's waits at the machine's pace: a wait that runs out has really waited its time
// stretched by UPDATER_WAIT_FACTOR and says what it waited for and how long; a factor that is no
// number of at least 1 fails the wait instead of leaving quick waits on a slow machine.
#include <gtest/gtest.h>

#include <string>

#include "child.h"
#include "scratch.h"
#include "settings_fixture.h"

namespace {

// Waits 200 ms (at a quick machine's pace) for something that never comes; reports how long the
// wait took and what it said.
TEST_CHILD(WaitForNothing)
{
    DWORD start = GetTickCount();
    std::string message = "no failure";
    try {
        driver::WaitUntil("a sign that never comes", [] { return false; }, 200);
    } catch (const driver::DriverError& e) {
        message = e.what();
    }
    WriteReport(args.at(0), {{"elapsed", std::to_string(GetTickCount() - start)}, {"message", message}});
    return 0;
}

struct FactorCase {
    const char* factor;  // nullptr: unset
    DWORD atLeastMs;
    const char* says;
};

TEST(DriverWaits, RunOutAfterTheirTimeAtTheMachinesPaceAndSayWhat)
{
    const FactorCase cases[] = {
        {nullptr, 200, "timed out after 0.2 s waiting for a sign that never comes"},
        {"4", 800, "timed out after 0.8 s (0.2 s at this machine's pace, factor 4) waiting for a sign that never comes"},
        {"2.5", 500, "timed out after 0.5 s (0.2 s at this machine's pace, factor 2.5) waiting for a sign"},
        {"0.5", 0, "UPDATER_WAIT_FACTOR must be a number from 1 to 1000"},
        {"fast", 0, "UPDATER_WAIT_FACTOR must be a number from 1 to 1000"},
        {"3x", 0, "UPDATER_WAIT_FACTOR must be a number from 1 to 1000"},
    };
    ScratchFolder scratch;
    // This program's own factor is read before the child's is set, and set back before waiting.
    const double ours = driver::WaitFactor();
    char saved[64] = "";
    const bool had = GetEnvironmentVariableA("UPDATER_WAIT_FACTOR", saved, sizeof saved) != 0;
    for (const FactorCase& c : cases) {
        SCOPED_TRACE(c.factor == nullptr ? "unset" : c.factor);
        const std::string report = scratch / "report.txt";
        SetEnvironmentVariableA("UPDATER_WAIT_FACTOR", c.factor);
        driver::Process child = StartChild("WaitForNothing", {report});
        SetEnvironmentVariableA("UPDATER_WAIT_FACTOR", had ? saved : nullptr);
        ASSERT_EQ(child.WaitForExit(), 0u);
        Report seen = ReadReport(report);
        EXPECT_NE(seen["message"].find(c.says), std::string::npos) << seen["message"];
        EXPECT_GE(std::stoul(seen["elapsed"]), c.atLeastMs);
    }
    EXPECT_EQ(driver::WaitFactor(), ours);
}

}  // namespace
