#include "base/file_version_win32.h"

#include <windows.h>

#include <string>
#include <vector>

namespace tarnell {

namespace {

struct VersionApi {
    using SizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
    using InfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
    using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
    SizeFn size = nullptr;
    InfoFn info = nullptr;
    QueryFn query = nullptr;

    VersionApi() {
        HMODULE module = LoadLibraryExW(L"version.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!module) return;
        size = reinterpret_cast<SizeFn>(
            reinterpret_cast<void*>(GetProcAddress(module, "GetFileVersionInfoSizeW")));
        info =
            reinterpret_cast<InfoFn>(reinterpret_cast<void*>(GetProcAddress(module, "GetFileVersionInfoW")));
        query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(GetProcAddress(module, "VerQueryValueW")));
    }
};

std::u16string FormatVersion(const std::u16string& format, const unsigned (&parts)[4]) {
    std::u16string out;
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == u'%' && i + 1 < format.size()) {
            if (format[i + 1] == u'd' && next < 4) {
                for (char c : std::to_string(parts[next++])) out.push_back(static_cast<char16_t>(c));
                ++i;
                continue;
            }
            if (format[i + 1] == u'%') {
                out.push_back(u'%');
                ++i;
                continue;
            }
        }
        out.push_back(format[i]);
    }
    return out;
}

}  // namespace

bool ReadFileVersion(const std::wstring& path, unsigned (&parts)[4]) {
    static const VersionApi api;
    if (!api.size || !api.info || !api.query || path.empty()) return false;
    DWORD ignored = 0;
    const DWORD bytes = api.size(path.c_str(), &ignored);
    if (bytes == 0) return false;
    std::vector<char> block(bytes);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (!api.info(path.c_str(), 0, bytes, block.data()) ||
        !api.query(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) || !fixed ||
        fixedSize < sizeof(VS_FIXEDFILEINFO))
        return false;
    parts[0] = HIWORD(fixed->dwFileVersionMS);
    parts[1] = LOWORD(fixed->dwFileVersionMS);
    parts[2] = HIWORD(fixed->dwFileVersionLS);
    parts[3] = LOWORD(fixed->dwFileVersionLS);
    return true;
}

std::u16string GetFileVersionText(const std::u16string& format) {
    unsigned parts[4] = {};
    if (!ReadFileVersion(OwnModulePath(), parts)) return u"0.0.0.0";
    return FormatVersion(format, parts);
}

std::wstring OwnModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return std::wstring();
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        if (path.size() >= 32768) return std::wstring();
        path.resize(path.size() * 2);
    }
}

}  // namespace tarnell
