// SPDX-License-Identifier: MIT
#pragma once

// The process: its preparation, the signals that end a run, and the deadline
// by which it ends whatever the display server does. A display server that
// stops answering holds the main thread inside the window system's library,
// where nothing of the run loop runs: only a timer can end the process then.

#include <string>

namespace process {

// Descriptors 0 to 2 that exist, line-buffered output, SIGPIPE ignored, and
// the stop signals (SIGINT, SIGTERM, SIGHUP and a SIGALRM sent from outside)
// caught for good. Programs run it before anything else; tests need not.
void prepare();

// A descriptor that becomes readable when a stop signal comes (they are
// caught from now on, if prepare() did not), or -1.
int stopSignals();
// Reads what the stop signals wrote.
void drainStopSignals();
// The signals' default again, unless prepare() caught them for good.
void releaseStopSignals();

// What the run was asked for and has not delivered yet. When the deadline
// ends the process, it says what is owed on one line and ends with status 1;
// with nothing owed it ends with 0.
constexpr unsigned kAnyFrame = 1u << 0, kClosingLine = 1u << 1, kSummary = 1u << 2, kScreenshot = 1u << 3;
void owe(unsigned what);
void delivered(unsigned what);

// The process ends `seconds` from now at the latest (an end already set for
// sooner stays). A stop signal sets one a second away.
void endWithin(double seconds);

// While the screenshot is written, and the temporary file it is written
// through: should the deadline cut the write, that file goes.
void writingScreenshot(bool writing);
void screenshotTemporary(const std::string& path);

}  // namespace process
