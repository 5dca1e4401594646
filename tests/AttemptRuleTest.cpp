// The attempt rule of a row in flight: one table of scripts, each a row's
// life as the job sees it (ticks with the bytes received, failures), with
// the action expected at every step.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "cache/AttemptRule.h"

namespace {

using Action = CAttemptRule::Action;

struct Step {
    char kind;         // 't' tick, 'o' tick off the link, 'f' failure, 'h' hopeless failure
    int64_t now;
    int64_t received;
    Action expected;
};

struct Script {
    const char* name;
    std::vector<Step> steps;
};

constexpr Action N = Action::None, R = Action::Restart, W = Action::Wait, G = Action::GiveUp;

const Script kScripts[] = {
    {"FailuresWait1248ThenTheFifthGivesUp",
     {{'f', 1, 0, W}, {'t', 1, 0, N}, {'t', 2, 0, R},
      {'f', 3, 0, W}, {'t', 4, 0, N}, {'t', 5, 0, R},
      {'f', 5, 0, W}, {'t', 8, 0, N}, {'t', 9, 0, R},
      {'f', 9, 0, W}, {'t', 16, 0, N}, {'t', 17, 0, R},
      {'f', 17, 0, G}}},
    // Each new start reads back the side file (0, then 5000): no progress.
    {"ASideFileReadBackIsNoProgress",
     {{'t', 1, 5000, N},
      {'f', 2, 5000, W}, {'t', 3, 0, R}, {'t', 4, 5000, N},
      {'f', 4, 5000, W}, {'t', 6, 0, R}, {'t', 7, 5000, N},
      {'f', 7, 5000, W}, {'t', 11, 0, R}, {'t', 12, 5000, N},
      {'f', 12, 5000, W}, {'t', 20, 0, R}, {'t', 21, 5000, N},
      {'f', 21, 5000, G}}},
    {"BytesAboveTheBestMarkStartTheCountAgain",
     {{'f', 1, 0, W}, {'t', 2, 0, R}, {'f', 2, 0, W}, {'t', 4, 0, R},
      {'t', 5, 100, N}, {'f', 5, 100, W}, {'t', 6, 0, R}, {'f', 6, 100, W}}},
    {"TenSecondsWithoutAByteAreNoStallElevenAre",
     {{'t', 1, 100, N}, {'t', 11, 100, N}, {'t', 12, 100, R}}},
    // A host that went quiet: every start after the stall receives nothing new.
    {"AStallRestartWithoutNewBytesIsAFailedAttempt",
     {{'t', 1, 100, N}, {'t', 12, 100, R},
      {'t', 13, 100, N}, {'t', 24, 100, W}, {'t', 25, 0, R},
      {'t', 26, 100, N}, {'t', 37, 100, W}, {'t', 39, 0, R},
      {'t', 50, 0, W}, {'t', 54, 0, R},
      {'t', 65, 0, W}, {'t', 73, 0, R},
      {'t', 84, 0, G}}},
    {"ALinkThatDeliversBetweenStallsIsNeverGivenUp",
     {{'t', 1, 100, N}, {'t', 12, 100, R}, {'t', 13, 200, N}, {'t', 24, 200, R},
      {'t', 25, 300, N}, {'t', 36, 300, R}, {'t', 37, 400, N}, {'t', 48, 400, R},
      {'t', 49, 500, N}, {'t', 60, 500, R}, {'t', 61, 600, N}, {'t', 72, 600, R}}},
    {"WaitingForAConnectionOrTheFinalSyncIsNoStall",
     {{'t', 1, 100, N}, {'o', 30, 100, N}, {'o', 90, 100, N}, {'t', 100, 100, N}, {'t', 101, 100, R}}},
    {"NeitherLengthNorByteIsAFailedAttempt",
     {{'t', 10, 0, N}, {'t', 11, 0, W}}},
    {"TwoCopiesUnlikeTheMd5GiveUpAtOnce",
     {{'t', 1, 5000, N}, {'h', 2, 9000, G}}},
};

class AttemptRuleTest : public ::testing::TestWithParam<Script> {};

TEST_P(AttemptRuleTest, ActsAsTheScriptSays)
{
    CAttemptRule rule(0);
    int index = 0;
    for (const Step& step : GetParam().steps) {
        Action got = step.kind == 'f' || step.kind == 'h'
                         ? rule.OnFailure(step.now, step.received, step.kind == 'h')
                         : rule.OnTick(step.now, step.received, step.kind == 'o');
        EXPECT_EQ(static_cast<int>(got), static_cast<int>(step.expected))
            << "step " << index << " ('" << step.kind << "' at " << step.now << " s)";
        ++index;
    }
}

INSTANTIATE_TEST_SUITE_P(Scripts, AttemptRuleTest, ::testing::ValuesIn(kScripts),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
