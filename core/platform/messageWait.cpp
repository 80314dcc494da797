#include "core/platform/messageWait.h"

DWORD waitServingSentMessages(HANDLE handle, DWORD timeout)
{
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD left = INFINITE;
        if (timeout != INFINITE) {
            const DWORD elapsed = GetTickCount() - start;
            left = elapsed >= timeout ? 0 : timeout - elapsed;
        }
        const DWORD result = MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_SENDMESSAGE);
        if (result != WAIT_OBJECT_0 + 1) return result;
        // Peeking with PM_QS_SENDMESSAGE dispatches the sent messages and removes nothing.
        MSG message;
        PeekMessage(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}
