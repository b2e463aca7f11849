// Sends the crash reports kept by an earlier start, on a thread of its own
// that nobody waits for and that shows nothing.
#pragma once

// Starts the thread, when there is anything to send. It sends the kept
// reports oldest first, each with its own key, deletes each after its 2xx
// (or a 400 or 413, which will never pass) and stops at the first other
// failure. A report whose upload the end of the process cuts short stays
// for the next start.
void StartSendingKeptReports();
