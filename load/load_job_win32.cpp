// The load job on the system thread pool, finished by a WM_APP post.
#include <windows.h>

#include "load/load_job.h"

#include "core/spin_lock.h"

namespace {

DWORD WINAPI runJobOnPool(void* context) {
    LoadJob* job = static_cast<LoadJob*>(context);
    runLoadJob(job);
    deliverLoadJob(job);
    return 0;
}

}  // namespace

void deliverLoadJob(LoadJob* job) {
    // After this post the job belongs to the dialog.
    if (PostMessageW(static_cast<HWND>(job->dialogWindow), WM_APP, reinterpret_cast<WPARAM>(job), 0)) return;
    acquireSpinLock(&job->messageLock);
    bool givenUp = job->keepGoing == 0;
    if (!givenUp) job->state |= kLoadUndelivered;
    releaseSpinLock(&job->messageLock);
    if (givenUp) destroyLoadJob(job);
}

LoadJob* startLoadJob(const FileNameList* fileList, void* dialogWindow, void* viewWindow, const MessageSink* sink) {
    LoadJob* job = static_cast<LoadJob*>(allocArray(processHeap(), 1, sizeof(LoadJob), sink));
    if (!job) return nullptr;
    initLoadJob(job, fileList, dialogWindow, viewWindow);
    if (!QueueUserWorkItem(runJobOnPool, job, WT_EXECUTELONGFUNCTION)) {
        freeBytes(job);
        return nullptr;
    }
    return job;
}
