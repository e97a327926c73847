#include "app/thumbnail/shell_registration.h"

#include <shlobj.h>

#include <initializer_list>

namespace {

// One server's class key.
struct ServerClass {
    const wchar_t* classText;
    const wchar_t* classKey;
    const wchar_t* serverKey;
    const wchar_t* name;
    // The surrogate it runs in: the 64-bit preview host, prevhost.exe ("Registering
    // Preview Handlers"); null for the thumbnail provider, which runs in-process.
    const wchar_t* appId;
};

constexpr wchar_t kPreviewName[] = L"Veldmark STL Viewer preview";
constexpr ServerClass kThumbnailServer = {
    L"{c9754f59-910f-4c7d-89d7-15722d1a29bb}", L"Software\\Classes\\CLSID\\{c9754f59-910f-4c7d-89d7-15722d1a29bb}",
    L"Software\\Classes\\CLSID\\{c9754f59-910f-4c7d-89d7-15722d1a29bb}\\InprocServer32",
    L"Veldmark STL Viewer thumbnails", nullptr};
constexpr ServerClass kPreviewServer = {
    L"{4d1e7a3b-8c52-4f06-9e1d-2b7c5a9f3e61}", L"Software\\Classes\\CLSID\\{4d1e7a3b-8c52-4f06-9e1d-2b7c5a9f3e61}",
    L"Software\\Classes\\CLSID\\{4d1e7a3b-8c52-4f06-9e1d-2b7c5a9f3e61}\\InprocServer32", kPreviewName,
    L"{6d2b5079-2f0b-48dd-ab7f-97cec514d30b}"};
// Windows lists the preview handlers it may offer here too.
constexpr wchar_t kPreviewListKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\PreviewHandlers";

// The keys of one extension a server handles, and the value of the server's
// class key that keeps the handler registering replaced there (the .stl
// thumbnail name predates .3mf).
struct HandlerEntry {
    const ServerClass* server;
    const wchar_t* extension;
    const wchar_t* shellEx;
    const wchar_t* handler;  // under the shell's handler category of the server's kind
    const wchar_t* previousHandler;
};
constexpr HandlerEntry kEntries[] = {
    {&kThumbnailServer, L"Software\\Classes\\.stl", L"Software\\Classes\\.stl\\ShellEx",
     L"Software\\Classes\\.stl\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}", L"PreviousThumbnailHandler"},
    {&kThumbnailServer, L"Software\\Classes\\.3mf", L"Software\\Classes\\.3mf\\ShellEx",
     L"Software\\Classes\\.3mf\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}", L"PreviousThumbnailHandler.3mf"},
    {&kPreviewServer, L"Software\\Classes\\.stl", L"Software\\Classes\\.stl\\ShellEx",
     L"Software\\Classes\\.stl\\ShellEx\\{8895b1c6-b41f-4c1c-a562-0d564250836f}", L"PreviousPreviewHandler"},
    {&kPreviewServer, L"Software\\Classes\\.3mf", L"Software\\Classes\\.3mf\\ShellEx",
     L"Software\\Classes\\.3mf\\ShellEx\\{8895b1c6-b41f-4c1c-a562-0d564250836f}", L"PreviousPreviewHandler.3mf"},
};

HRESULT setValue(const wchar_t* path, const wchar_t* name, const wchar_t* text) {
    DWORD bytes = static_cast<DWORD>((lstrlenW(text) + 1) * sizeof(wchar_t));
    return HRESULT_FROM_WIN32(RegSetKeyValueW(HKEY_CURRENT_USER, path, name, REG_SZ, text, bytes));
}

// Removes the key when it holds nothing, so that keys that were there before stay.
void deleteIfEmpty(const wchar_t* path) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    DWORD subkeys = 1, values = 1;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    if (subkeys == 0 && values == 0) RegDeleteKeyW(HKEY_CURRENT_USER, path);
}

// A class id as text, from the key's value; false when there is none.
bool readClassText(const wchar_t* path, const wchar_t* name, wchar_t (&text)[64]) {
    DWORD bytes = sizeof text;
    return RegGetValueW(HKEY_CURRENT_USER, path, name, RRF_RT_REG_SZ, nullptr, text, &bytes) == ERROR_SUCCESS &&
           text[0];
}

// The handler entry names our server.
bool handlerIsOurs(const HandlerEntry& entry) {
    wchar_t text[64];
    return readClassText(entry.handler, nullptr, text) && lstrcmpiW(text, entry.server->classText) == 0;
}

// Takes the extension's handler entry, keeping another program's to be put back.
HRESULT takeEntry(const HandlerEntry& entry) {
    wchar_t previous[64];
    HRESULT result = S_OK;
    if (!handlerIsOurs(entry) && readClassText(entry.handler, nullptr, previous))
        result = setValue(entry.server->classKey, entry.previousHandler, previous);
    if (SUCCEEDED(result)) result = setValue(entry.handler, nullptr, entry.server->classText);
    return result;
}

// Gives the entry back to the program registering replaced, or removes it and
// the keys it leaves empty; an entry another program took since stays its.
void giveBackEntry(const HandlerEntry& entry) {
    wchar_t previous[64];
    if (!handlerIsOurs(entry)) return;
    if (readClassText(entry.server->classKey, entry.previousHandler, previous)) {
        setValue(entry.handler, nullptr, previous);
        return;
    }
    RegDeleteKeyW(HKEY_CURRENT_USER, entry.handler);
    deleteIfEmpty(entry.shellEx);
    deleteIfEmpty(entry.extension);
}

HRESULT writeServerClass(const ServerClass& server, const wchar_t* path) {
    HRESULT result = setValue(server.classKey, nullptr, server.name);
    if (SUCCEEDED(result)) result = setValue(server.serverKey, nullptr, path);
    if (SUCCEEDED(result)) result = setValue(server.serverKey, L"ThreadingModel", L"Apartment");
    if (SUCCEEDED(result) && server.appId) result = setValue(server.classKey, L"AppID", server.appId);
    if (SUCCEEDED(result) && server.appId) result = setValue(server.classKey, L"DisplayName", server.name);
    return result;
}

void tellShell() {
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

}  // namespace

HRESULT takeShellHandlers() {
    HRESULT result = S_OK;
    for (const HandlerEntry& entry : kEntries)
        if (SUCCEEDED(result)) result = takeEntry(entry);
    tellShell();
    return result;
}

void giveBackShellHandlers() {
    for (const HandlerEntry& entry : kEntries) {
        giveBackEntry(entry);
        RegDeleteKeyValueW(HKEY_CURRENT_USER, entry.server->classKey, entry.previousHandler);
    }
    tellShell();
}

HRESULT registerShellServers(const wchar_t* path) {
    HRESULT result = writeServerClass(kThumbnailServer, path);
    if (SUCCEEDED(result)) result = writeServerClass(kPreviewServer, path);
    if (SUCCEEDED(result)) result = setValue(kPreviewListKey, kPreviewServer.classText, kPreviewName);
    if (SUCCEEDED(result)) result = takeShellHandlers();
    return result;
}

HRESULT unregisterShellServers() {
    giveBackShellHandlers();
    LSTATUS status = ERROR_SUCCESS;
    for (const ServerClass* server : {&kThumbnailServer, &kPreviewServer}) {
        LSTATUS deleted = RegDeleteTreeW(HKEY_CURRENT_USER, server->classKey);
        if (deleted != ERROR_FILE_NOT_FOUND && status == ERROR_SUCCESS) status = deleted;
    }
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kPreviewListKey, kPreviewServer.classText);
    deleteIfEmpty(kPreviewListKey);
    tellShell();
    return HRESULT_FROM_WIN32(status);
}
