// Which of the main window's commands can be used, as the fetch, the
// caching job and the acceleration server leave them.
#include <gtest/gtest.h>

#include "ui/EnabledControls.h"

namespace {

using J = JobStage;
using S = ServerStage;

struct Row {
    const char* name;
    WindowActivity activity;  // fetching, rows, job, servable, listsBack, server
    EnabledControls on;       // lists, caching, accelerate
};

const Row kRows[] = {
    {"opened", {false, false, J::None, false, false, S::Stopped}, {true, false, false}},
    {"fetching", {true, true, J::GivenUp, true, false, S::Stopped}, {false, false, true}},
    {"fetching while serving", {true, false, J::None, false, false, S::Running}, {false, false, true}},
    {"rows listed", {false, true, J::None, false, false, S::Stopped}, {true, true, false}},
    {"empty list", {false, false, J::None, false, false, S::Stopped}, {true, false, false}},
    {"rows listed while serving", {false, true, J::None, false, false, S::Running}, {true, true, true}},
    {"working", {false, true, J::Working, false, false, S::Stopped}, {false, true, false}},
    {"working after giving up", {false, true, J::Working, true, false, S::Stopped}, {false, true, true}},
    {"complete at once", {false, true, J::CompleteAtOnce, true, false, S::Stopped}, {true, false, true}},
    {"complete", {false, true, J::Complete, true, false, S::Stopped}, {false, false, true}},
    {"complete, server stopped since", {false, true, J::Complete, true, true, S::Stopped}, {true, false, true}},
    {"given up", {false, true, J::GivenUp, true, false, S::Stopped}, {true, true, true}},
    {"stopped before anything ended", {false, true, J::Stopped, false, false, S::Stopped}, {true, true, false}},
    {"server starting", {false, true, J::Complete, true, false, S::Starting}, {false, false, false}},
    {"server starting, rows listed", {false, true, J::None, false, false, S::Starting}, {true, true, false}},
    {"serving a complete cache", {false, true, J::Complete, true, false, S::Running}, {false, false, true}},
};

TEST(EnabledFor, FollowsTheFetchTheJobAndTheServer)
{
    for (const Row& row : kRows) {
        EnabledControls on = EnabledFor(row.activity);
        EXPECT_EQ(on.lists, row.on.lists) << row.name;
        EXPECT_EQ(on.caching, row.on.caching) << row.name;
        EXPECT_EQ(on.accelerate, row.on.accelerate) << row.name;
    }
}

}  // namespace
