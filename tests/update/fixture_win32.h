// Shared by the update tests that run under Wine: the loopback fixture service, message pumping with a
// deadline, and screenshots of windows.
#pragma once

#include <doctest/doctest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "../support/wait_win32.h"

#include "base/text.h"
#include "update/update_check_win32.h"

namespace tarnell::test {

struct FixturePorts {
    int port = 0;        // the service
    int closedPort = 0;  // bound, never listening
};

inline FixturePorts ReadFixturePorts() {
    FixturePorts ports;
    // The build tree is a Unix path; Wine shows the Unix root as drive Z:.
    std::ifstream file(std::string("Z:") + TARNELL_BINARY_DIR + "/update_service.port");
    file >> ports.port >> ports.closedPort;
    REQUIRE_MESSAGE(ports.port > 0, "the update_service fixture is not running");
    return ports;
}

// A query "t=<tag>" marks the requests of one test; the process id is added to the tag so that a run
// never counts what an earlier run against the same fixture sent.
inline std::string RunTag(const std::string& tag) {
    return tag + "-" + std::to_string(GetCurrentProcessId());
}

inline std::u16string FixtureUrl(const std::string& pathAndQuery) {
    static const FixturePorts ports = ReadFixturePorts();
    const bool tagged = pathAndQuery.find("t=") != std::string::npos;
    return FromAscii("http://127.0.0.1:" + std::to_string(ports.port) +
                     (tagged ? RunTag(pathAndQuery) : pathAndQuery));
}

inline std::u16string ClosedPortUrl(const std::string& pathAndQuery) {
    static const FixturePorts ports = ReadFixturePorts();
    return FromAscii("http://127.0.0.1:" + std::to_string(ports.closedPort) + pathAndQuery);
}

struct ReceivedRequest {
    std::string target;  // path and query
    std::string method = "GET";
    std::vector<std::pair<std::string, std::string>> headers;

    std::vector<std::string> HeaderNames() const {
        std::vector<std::string> names;
        for (const auto& h : headers) names.push_back(h.first);
        return names;
    }
    const std::string* Header(const std::string& name) const {
        for (const auto& h : headers)
            if (h.first == name) return &h.second;
        return nullptr;
    }
};

// Requests of this run that the fixture received with the query tag `tag` ("t=name"), in arrival order.
inline std::vector<ReceivedRequest> ReceivedRequests(const std::string& tag) {
    std::u16string text;
    REQUIRE(FetchText(FixtureUrl("/__log"), {}, text));
    std::vector<ReceivedRequest> found;
    std::istringstream lines(Utf16ToUtf8(text));
    std::string line;
    ReceivedRequest current;
    bool inBlock = false;
    while (std::getline(lines, line)) {
        if (!inBlock) {
            if (line.rfind("GET ", 0) == 0) {
                current = {line.substr(4), "GET", {}};
                inBlock = true;
            } else if (line.rfind("POST ", 0) == 0) {
                current = {line.substr(5), "POST", {}};
                inBlock = true;
            }
        } else if (line.empty()) {
            const std::string wanted = RunTag(tag);
            const size_t at = current.target.find(wanted);
            if (at != std::string::npos && at + wanted.size() == current.target.size())
                found.push_back(current);
            inBlock = false;
        } else {
            const size_t colon = line.find(": ");
            current.headers.emplace_back(line.substr(0, colon),
                                         colon == std::string::npos ? "" : line.substr(colon + 2));
        }
    }
    return found;
}

// The custom headers of a request (those the program sets), in the order received.
inline std::vector<std::string> CustomHeaderNames(const ReceivedRequest& request) {
    std::vector<std::string> names;
    for (const auto& h : request.headers)
        if (h.first.rfind("User-", 0) == 0 && h.first != "User-Agent") names.push_back(h.first);
    return names;
}

// The shared wait (tests/support), with the update tests' usual limit.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
    return WaitUntil(done, DWORD(timeoutMs));
}

// Saves what the screen shows of `hwnd` (frame included) as a 24-bit BMP, when the folder is given.
inline void SaveWindowShot(HWND hwnd, const std::string& folder, const std::string& name) {
    if (folder.empty() || !hwnd) return;
    UpdateWindow(hwnd);
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    RECT r{};
    GetWindowRect(hwnd, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    const int stride = ((width * 3) + 3) & ~3;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + stride * height;
    if (FILE* out = std::fopen((folder + "/" + name + ".bmp").c_str(), "wb")) {
        std::fwrite(&file, sizeof file, 1, out);
        std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out);
        std::fwrite(bits, 1, static_cast<size_t>(stride) * height, out);
        std::fclose(out);
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

// The folder for screenshots, from TARNELL_UPDATE_SHOTS (a Windows path), or "" for none.
inline std::string ShotFolder() {
    char buffer[1024] = {};
    const DWORD n = GetEnvironmentVariableA("TARNELL_UPDATE_SHOTS", buffer, sizeof buffer);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

// The client-area pixels of `hwnd`, read back from the window's own DC.
struct Pixels {
    int width = 0, height = 0;
    std::vector<COLORREF> data;
    COLORREF At(int x, int y) const { return data[static_cast<size_t>(y) * width + x]; }
};

inline Pixels CaptureClient(HWND hwnd) {
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_ERASE);
    RECT r{};
    GetClientRect(hwnd, &r);
    Pixels pixels;
    pixels.width = r.right;
    pixels.height = r.bottom;
    HDC dc = GetDC(hwnd);
    HDC memory = CreateCompatibleDC(dc);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), r.right, -r.bottom, 1, 32, BI_RGB};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, r.right, r.bottom, dc, 0, 0, SRCCOPY);
    GdiFlush();
    const auto* raw = static_cast<const DWORD*>(bits);
    pixels.data.resize(static_cast<size_t>(r.right) * r.bottom);
    for (size_t i = 0; i < pixels.data.size(); ++i) {
        const DWORD p = raw[i];  // 0x00RRGGBB
        pixels.data[i] = RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(hwnd, dc);
    return pixels;
}

}  // namespace tarnell::test
