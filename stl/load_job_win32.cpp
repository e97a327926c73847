// The load job on the system thread pool, finished by a WM_APP post.
#include <windows.h>

#include "load_job.h"

namespace {

DWORD WINAPI runJobOnPool(void* context) {
    LoadJob* job = static_cast<LoadJob*>(context);
    runLoadJob(job);
    // After this post the job belongs to the dialog.
    PostMessageW(static_cast<HWND>(job->dialogWindow), WM_APP, reinterpret_cast<WPARAM>(job), 0);
    return 0;
}

}  // namespace

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
