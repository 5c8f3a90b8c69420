#pragma once
// The version and system summary written into the trace log at start-up. The main window calls
// it once after opening its run; the version lines are not guarded, the summary never stops
// start-up.
void LogSystemInfo();
