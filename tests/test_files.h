// Building STL files for tests: binary files from triangles, and temporary
// files on disk that disappear with the test.
#pragma once
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include "core/platform.h"
#include "load/load_job.h"

struct TestTriangle {
    float normal[3];
    float vertices[3][3];
    uint16_t attribute;
};

inline void appendUint32(std::string* bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes->push_back(static_cast<char>(value >> (8 * i)));
}

inline void appendTriangle(std::string* bytes, const TestTriangle& t) {
    char record[50];
    memcpy(record, t.normal, 12);
    memcpy(record + 12, t.vertices, 36);
    record[48] = static_cast<char>(t.attribute & 0xFF);
    record[49] = static_cast<char>(t.attribute >> 8);
    bytes->append(record, 50);
}

// An 80-byte header (the text, padded with zeros) and a count, any records left to the caller.
inline std::string binaryHeader(uint32_t count, const std::string& header = "") {
    std::string bytes = header.substr(0, 80);
    bytes.resize(80, '\0');
    appendUint32(&bytes, count);
    return bytes;
}

// A header, then one block.
inline std::string binaryStl(const std::vector<TestTriangle>& triangles, const std::string& header = "") {
    std::string bytes = binaryHeader(static_cast<uint32_t>(triangles.size()), header);
    for (const TestTriangle& t : triangles) appendTriangle(&bytes, t);
    return bytes;
}

inline TestTriangle unitTriangle(float offset = 0, uint16_t attribute = 0) {
    return TestTriangle{{0, 0, 1}, {{offset, 0, 0}, {offset + 1, 0, 0}, {offset, 1, 0}}, attribute};
}

// A cube of side 10 around the origin.
inline std::vector<TestTriangle> cubeTriangles() {
    const float c[8][3] = {{-5, -5, -5}, {5, -5, -5}, {5, 5, -5}, {-5, 5, -5},
                           {-5, -5, 5},  {5, -5, 5},  {5, 5, 5},  {-5, 5, 5}};
    const int faces[6][4] = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {2, 3, 7, 6}, {1, 2, 6, 5}, {3, 0, 4, 7}};
    std::vector<TestTriangle> triangles;
    for (const auto& f : faces)
        for (int half = 0; half < 2; ++half) {
            const int corners[3] = {f[0], f[1 + half], f[2 + half]};
            TestTriangle t{};
            for (int v = 0; v < 3; ++v) memcpy(t.vertices[v], c[corners[v]], sizeof t.vertices[v]);
            triangles.push_back(t);
        }
    return triangles;
}

// A closed T, Z up, standing on its stem: the T of a stem 10 wide and 10
// high under a bar 30 wide and 10 high, 10 deep (y from -5 to 5). The bar's
// undersides beside the stem, 2 cm² in millimetres, are its only overhangs.
inline std::vector<TestTriangle> tTriangles() {
    // The outline in (x, z), counter-clockwise; the caps in triangles of it.
    const float outline[8][2] = {{-5, 0}, {5, 0}, {5, 10}, {15, 10}, {15, 20}, {-15, 20}, {-15, 10}, {-5, 10}};
    const int caps[6][3] = {{0, 1, 2}, {0, 2, 7}, {5, 6, 7}, {5, 7, 2}, {5, 2, 3}, {5, 3, 4}};
    auto corner = [&](int i, float y, float out[3]) {
        out[0] = outline[i % 8][0];
        out[1] = y;
        out[2] = outline[i % 8][1];
    };
    std::vector<TestTriangle> triangles;
    auto add = [&](int a, float ya, int b, float yb, int c, float yc) {
        TestTriangle t{};
        corner(a, ya, t.vertices[0]);
        corner(b, yb, t.vertices[1]);
        corner(c, yc, t.vertices[2]);
        triangles.push_back(t);
    };
    for (const auto& cap : caps) {
        add(cap[0], -5, cap[1], -5, cap[2], -5);  // facing -y
        add(cap[0], 5, cap[2], 5, cap[1], 5);
    }
    for (int i = 0; i < 8; ++i) {
        add(i, -5, i + 1, 5, i + 1, -5);
        add(i, -5, i, 5, i + 1, 5);
    }
    return triangles;
}

// A folder of files that is removed when the test ends. Named for the process
// too: test programs run side by side, and under Wine their addresses repeat.
class TempFolder {
public:
    TempFolder() {
        static int serial = 0;
#ifdef _WIN32
        long process = _getpid();
#else
        long process = getpid();
#endif
        path_ = std::filesystem::temp_directory_path() /
                ("stlv-test-" + std::to_string(process) + "-" +
                 std::to_string(reinterpret_cast<uintptr_t>(this) & 0xFFFFFF) + "-" + std::to_string(++serial));
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
#ifdef _WIN32
        // Through the prefix, so that folders deeper than MAX_PATH go too.
        std::filesystem::remove_all(L"\\\\?\\" + path_.wstring(), ignored);
#endif
        std::filesystem::remove_all(path_, ignored);
    }
    std::string write(const std::string& name, const std::string& bytes) const {
        std::ofstream(path_ / name, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return name;
    }
    // The folder with a trailing separator.
    std::string directory() const {
        return (path_ / "").string();
    }

private:
    std::filesystem::path path_;
};

inline std::vector<Utf16> utf16Path(const std::string& path) {
    std::vector<Utf16> wide(path.begin(), path.end());
    wide.push_back(0);
    return wide;
}

// Files of one folder as the Open dialog gives them: the first name as a full
// path, then the other names.
inline std::unique_ptr<FileNameList> folderList(const std::string& directory, const std::vector<std::string>& names) {
    auto list = std::make_unique<FileNameList>();
    if (!makeFileNameList(utf16Path(directory + names[0]).data(), list.get())) return nullptr;
    list->nameStart = static_cast<int32_t>(directory.size());
    std::u16string rest;
    for (size_t i = 1; i < names.size(); ++i) rest += std::u16string(names[i].begin(), names[i].end()) + u'\0';
    memcpy(list->path + list->nextName, rest.c_str(), (rest.size() + 1) * sizeof(Utf16));
    return list;
}

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// Handles this thread's waiting messages; keyboard ones through the dialog if one is named.
inline void pumpMessages(HWND dialog = nullptr) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        if (!dialog || !IsDialogMessageW(dialog, &message)) DispatchMessageW(&message);
}

// Pumps until done() holds; false if it still does not after `milliseconds`.
template <typename Condition>
bool pumpUntil(Condition done, DWORD milliseconds = 20000, HWND dialog = nullptr) {
    for (DWORD start = GetTickCount(); !done(); Sleep(5)) {
        if (GetTickCount() - start > milliseconds) return false;
        pumpMessages(dialog);
    }
    return true;
}

// A rectangle of a device context as 0xRRGGBB words; empty if it cannot be read.
inline std::vector<uint32_t> capturePixels(HDC source, int x, int y, int width, int height) {
    std::vector<uint32_t> pixels;
    HDC memory = CreateCompatibleDC(source);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap && bits) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        if (BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY)) {
            GdiFlush();
            const uint32_t* rows = static_cast<const uint32_t*>(bits);
            pixels.assign(rows, rows + size_t(width) * height);
            for (uint32_t& pixel : pixels) pixel &= 0xFFFFFF;
        }
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    return pixels;
}

// The model covers the view's middle, as the screen shows it. Up and left of the middle,
// because the picture of a view without a device has its icon's corner at the middle.
// How many of the 400 pixels there differ from the background (-1: the screen cannot be read).
inline int centreCoverage(HWND view) {
    RECT rect;
    GetWindowRect(view, &rect);
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    std::vector<uint32_t> pixels = capturePixels(screen, rect.left, rect.top, width, height);
    ReleaseDC(nullptr, screen);
    if (pixels.empty() || width < 100 || height < 100) return -1;
    uint32_t background = pixels[size_t(2) * width + 2];
    int covered = 0;
    for (int y = height / 2 - 20; y < height / 2; ++y)
        for (int x = width / 2 - 20; x < width / 2; ++x) covered += pixels[size_t(y) * width + x] != background;
    return covered;
}

// The dialog shows the view only with a model: before that the screen may
// hold anything where it will be, such as a window not painted yet.
inline bool modelIsShown(HWND view) {
    return IsWindowVisible(view) && centreCoverage(view) == 400;
}

// A full path as Windows takes it beyond MAX_PATH.
inline std::wstring prefixedPath(const std::string& path) {
    return L"\\\\?\\" + std::wstring(path.begin(), path.end());
}

// A folder below `directory` (which ends in a separator), made of folders of
// 40 characters, deep enough that `name` in it makes a path of exactly
// `length` units; the folders are made. Returns the folder, separator ended.
inline std::string makeDeepFolder(const std::string& directory, size_t length, const std::string& name) {
    std::string deep = directory;
    while (deep.size() + 41 + name.size() + 1 < length) {  // leaves at least one e for the last folder
        deep += std::string(40, 'd') + "\\";
        CreateDirectoryW(prefixedPath(deep).c_str(), nullptr);
    }
    deep += std::string(length - deep.size() - name.size() - 1, 'e') + "\\";
    CreateDirectoryW(prefixedPath(deep).c_str(), nullptr);
    return deep;
}

inline bool writeFileAt(const std::string& path, const std::string& bytes) {
    HANDLE file = CreateFileW(prefixedPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    bool ok = file != INVALID_HANDLE_VALUE && WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return ok;
}
#endif
