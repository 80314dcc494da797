// Waiting on a worker thread from the user-interface thread. A worker may send a message to a
// window of this thread (a key command tells the main window of a settings change) and wait for
// the answer; a plain wait here would then hang both threads. So the wait serves sent messages.
#pragma once

#include <windows.h>

// Waits for the handle while dispatching messages sent to this thread. Answers WAIT_OBJECT_0,
// WAIT_TIMEOUT or WAIT_FAILED like WaitForSingleObject; posted messages stay queued.
DWORD waitServingSentMessages(HANDLE handle, DWORD timeout);
