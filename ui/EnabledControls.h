// Which of the main window's commands can be used, from what the window is
// doing: the resource-list fetch, the caching job of the listed rows and the
// acceleration server. No widgets: the window applies the result, and a
// table of cases tests it without a display.
#pragma once

// The caching job as the window last showed it.
enum class JobStage {
    None,            // no job since the rows were listed
    Working,         // checking or downloading: its command stops it
    CompleteAtOnce,  // nothing was missing
    Complete,        // the last bytes arrived: the lists stay off until the server stops
    GivenUp,         // ended with rows that failed
    Stopped,         // the operator stopped it
};

enum class ServerStage {
    Stopped,
    Starting,  // launched and probed off the UI thread
    Running,
};

struct WindowActivity {
    bool fetching = false;  // the resource-list fetch runs
    bool rows = false;      // the content list holds rows
    JobStage job = JobStage::None;
    // A job of these rows ended with the cache worth serving (complete or
    // given up); the acceleration button stays usable through later jobs.
    bool servable = false;
    // The server stopped after the job completed: the lists are back.
    bool listsBack = false;
    ServerStage server = ServerStage::Stopped;
};

struct EnabledControls {
    bool lists = false;       // the refresh button and the meeting list
    bool caching = false;     // IDOK: "开始缓存" / "停止缓存"
    bool accelerate = false;  // 1007: "启动加速" / "停止加速"

    bool operator==(const EnabledControls&) const = default;
};

// A running job or fetch keeps the lists off, so no click on a meeting
// pulls the rows from under it; a running server stays stoppable; a server
// being started cannot be clicked again.
constexpr EnabledControls EnabledFor(const WindowActivity& a)
{
    bool complete = a.job == JobStage::CompleteAtOnce || a.job == JobStage::Complete;
    EnabledControls on;
    on.lists = !a.fetching && a.job != JobStage::Working && !(a.job == JobStage::Complete && !a.listsBack);
    on.caching = !a.fetching && a.rows && !complete;
    on.accelerate = a.server == ServerStage::Running || (a.server == ServerStage::Stopped && a.servable);
    return on;
}
