// The preview handler Explorer's preview pane hosts (in prevhost.exe): a
// COM object initialised with the file's stream, given a window and a
// rectangle, asked to show the file (preview_pane.h) and to let it go.
#pragma once
#include <windows.h>

// A new handler's interface `id`, as a class factory hands it out.
HRESULT createPreviewHandler(REFIID id, void** object);
