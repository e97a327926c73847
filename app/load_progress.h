// A load from its start to its result on the screen: the progress bar and
// the messages while it runs, then the parts taken over into the model and
// the panel filled, then their surface check; and clearing the model.
#pragma once
#include "app/dialog_state.h"

// Starts loading the list with the progress bar in the view's place; false
// when no job could start (reported to the sink).
bool startLoad(Navigation* navigation, const Panel* panel, const FileNameList* list, bool modelShown,
               const MessageSink* sink);
// Stops the current load, if any: it finishes on its own and is destroyed
// when its completion arrives.
void stopLoad(Navigation* navigation);

void onProgressTimer(MainDialogState* state, WPARAM timerId);
void onLoadFinished(MainDialogState* state, LoadJob* job);
// Releases the shown model's parts and empties the panel; the messages stay.
void clearModel(MainDialogState* state);
// Watches the shown parts' files anew while "Reload when the file changes"
// is on (file_watch.h); only stops the old watch otherwise.
void followShownFiles(MainDialogState* state);
// A shown file changed and its writer is done: that part alone loads again
// in its place, now or once the running load ends.
void onShownFileChanged(MainDialogState* state, int slot, uint32_t serial);
// A check the worker posted: into the model, the panel and the view.
void onCheckFinished(MainDialogState* state, CheckOutcome* outcome);
