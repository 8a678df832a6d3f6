// Starts a program with the ordinary rights of the logged-on user: a one-shot
// task of the Task Scheduler (run as the Users group, least privileged, started
// by its own registration) is registered, briefly watched and deleted again.
// A program that runs with raised rights would otherwise hand them on to what
// it starts. COM must be initialised on the calling thread. Every failure is
// logged with its HRESULT; nothing is shown to the user here.
#pragma once

#include <string>

// Draws the task name "Launch <0..32767>" and runs the task; true when the
// task was registered and ran, so the program was started (even when the
// task could not be deleted afterwards). `arguments` may be null.
bool LaunchThroughScheduler(const std::string& programPath, const char* arguments);

// Registers `taskName` in the root folder to run the program, waits up to
// about 10 s for it to run, deletes it; true when it was registered and
// reached the running state (a failed deletion is logged, and changes that
// not).
bool RunAsScheduledTask(const std::string& taskName, const std::string& programPath,
                        const std::string& arguments);

// Starts a program for the user: from Vista on through the scheduler, so
// that it runs with the user's ordinary rights; where that fails, or on older
// systems, directly ("\"program\" arguments", in `folder` when given, no
// handles inherited), with this program's rights. True when it was started.
bool StartWithUserRights(const std::string& programPath, const std::string& arguments,
                         const std::string& folder);
