#include "base/own_files_win32.h"

#include <aclapi.h>

#include <atomic>

namespace tarnell {

namespace {

std::atomic<unsigned> g_unique{0};

// The path a handle really reaches, without the \\?\ prefix; false for anything but a drive letter path.
bool FinalPath(HANDLE handle, wchar_t* out) {
    wchar_t buffer[MAX_PATH + 8];
    const DWORD n =
        GetFinalPathNameByHandleW(handle, buffer, MAX_PATH + 8, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= MAX_PATH + 8) return false;
    const wchar_t* path = buffer;
    if (n > 4 && buffer[0] == L'\\' && buffer[1] == L'\\' && buffer[2] == L'?' && buffer[3] == L'\\')
        path += 4;
    if (!IsLocalAbsolutePath(path) || lstrlenW(path) >= MAX_PATH) return false;
    lstrcpynW(out, path, MAX_PATH);
    return true;
}

// Neither a link of any kind nor a second name of another file.
bool IsPlainObject(HANDLE handle, bool folder) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) return false;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;
    if (((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != folder) return false;
    if (!folder && info.nNumberOfLinks != 1) return false;  // a hard link shares its data with another name
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) &&
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    return true;
}

void AppendNumber(wchar_t* text, unsigned long long value) {
    wchar_t digits[24];
    int n = 0;
    do {
        digits[n++] = wchar_t(L'0' + value % 10);
        value /= 10;
    } while (value && n < 24);
    size_t at = size_t(lstrlenW(text));
    while (n > 0 && at + 1 < MAX_PATH) text[at++] = digits[--n];
    text[at] = 0;
}

bool Append(wchar_t* text, const wchar_t* piece) {
    const int have = lstrlenW(text), add = lstrlenW(piece);
    if (have + add >= MAX_PATH) return false;
    lstrcpynW(text + have, piece, MAX_PATH - have);
    return true;
}

bool WriteAll(HANDLE file, const void* data, size_t size) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD chunk = size > 0x10000000 ? 0x10000000 : DWORD(size);
        DWORD written = 0;
        if (!WriteFile(file, at, chunk, &written, nullptr) || written != chunk) return false;
        at += written;
        size -= written;
    }
    return true;
}

void DeleteThrough(HANDLE file) {
    FILE_DISPOSITION_INFO dispose{TRUE};
    SetFileInformationByHandle(file, FileDispositionInfo, &dispose, sizeof dispose);
}

}  // namespace

bool IsLocalAbsolutePath(const wchar_t* path) {
    if (!path) return false;
    const wchar_t d = path[0];
    return ((d >= L'A' && d <= L'Z') || (d >= L'a' && d <= L'z')) && path[1] == L':' && path[2] == L'\\';
}

bool SamePath(const wchar_t* a, const wchar_t* b) {
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

size_t ReadFileTail(HANDLE file, size_t cap, char* out, size_t capacity) {
    if (capacity < cap) cap = capacity;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) return 0;
    LARGE_INTEGER from{};
    from.QuadPart = size.QuadPart > LONGLONG(cap) ? size.QuadPart - LONGLONG(cap) : 0;
    if (!SetFilePointerEx(file, from, nullptr, FILE_BEGIN)) return 0;
    const size_t want = size_t(size.QuadPart - from.QuadPart);
    size_t done = 0;
    DWORD read = 0;
    while (done < want && ReadFile(file, out + done, DWORD(want - done), &read, nullptr) && read > 0)
        done += read;
    return done;
}

OwnFolder::~OwnFolder() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

bool OwnFolder::Open(const wchar_t* path, SECURITY_DESCRIPTOR* security) {
    if (!IsLocalAbsolutePath(path)) return false;
    wchar_t full[MAX_PATH];
    const DWORD n = GetFullPathNameW(path, MAX_PATH, full, nullptr);
    // Room for the names of the files inside.
    if (n == 0 || n + 48 >= MAX_PATH) return false;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, security, FALSE};
    if (!CreateDirectoryW(full, security ? &attributes : nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    // A link at the folder's own name is seen by its path's attributes even where the opened handle
    // hides it (Wine).
    const DWORD attributesOfPath = GetFileAttributesW(full);
    if (attributesOfPath == INVALID_FILE_ATTRIBUTES || (attributesOfPath & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(attributesOfPath & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    // Without FILE_SHARE_DELETE: while it is held, nobody renames, removes or replaces the folder.
    const DWORD access = FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_TRAVERSE | SYNCHRONIZE | READ_CONTROL |
                         (security ? WRITE_DAC | WRITE_OWNER : 0);
    HANDLE handle = CreateFileW(full, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    // Reached through no link anywhere on its path: the folder the handle reaches is the one named.
    wchar_t reached[MAX_PATH], expected[MAX_PATH];
    const DWORD longLength = GetLongPathNameW(full, expected, MAX_PATH);
    if (longLength == 0 || longLength >= MAX_PATH) lstrcpynW(expected, full, MAX_PATH);
    bool ok = IsPlainObject(handle, true) && FinalPath(handle, reached) && SamePath(reached, expected);
    if (ok && security) {
        // The folder may have been there before, made by someone else: it becomes ours, or is not used.
        PSID owner = nullptr;
        PACL dacl = nullptr;
        BOOL present = FALSE, defaulted = FALSE;
        ok = GetSecurityDescriptorOwner(security, &owner, &defaulted) &&
             GetSecurityDescriptorDacl(security, &present, &dacl, &defaulted) && owner && present &&
             SetSecurityInfo(
                 handle, SE_FILE_OBJECT,
                 OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                 owner, nullptr, dacl, nullptr) == ERROR_SUCCESS;
    }
    if (!ok) {
        CloseHandle(handle);
        return false;
    }
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = handle;
    lstrcpynW(path_, reached, MAX_PATH);
    return true;
}

bool OwnFolder::FullName(const wchar_t* name, wchar_t* out) const {
    if (!IsOpen()) return false;
    lstrcpynW(out, path_, MAX_PATH);
    return Append(out, L"\\") && Append(out, name);
}

bool OwnFolder::IsOwnFile(HANDLE file, const wchar_t* name) const {
    wchar_t expected[MAX_PATH], reached[MAX_PATH];
    return IsPlainObject(file, false) && FullName(name, expected) && FinalPath(file, reached) &&
           SamePath(reached, expected);
}

HANDLE OwnFolder::OpenFile(const wchar_t* name, bool write) const {
    wchar_t full[MAX_PATH];
    if (!FullName(name, full)) return INVALID_HANDLE_VALUE;
    // FILE_FLAG_OPEN_REPARSE_POINT: a symbolic link or junction is opened itself, never followed.
    HANDLE file = CreateFileW(full, write ? GENERIC_WRITE | GENERIC_READ : GENERIC_READ,
                              FILE_SHARE_READ | (write ? FILE_SHARE_WRITE : 0), nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    BY_HANDLE_FILE_INFORMATION info{};
    // Read-only means read-only for us too, whatever the system would let the elevated program do.
    const bool refused =
        !IsOwnFile(file, name) || (write && (!GetFileInformationByHandle(file, &info) ||
                                             (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)));
    if (refused) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

HANDLE OwnFolder::CreateNew(const wchar_t* name) const {
    wchar_t full[MAX_PATH];
    if (!FullName(name, full)) return INVALID_HANDLE_VALUE;
    // CREATE_NEW fails on any name that exists, a link or a dangling link included.
    HANDLE file = CreateFileW(full, GENERIC_WRITE | GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE || IsOwnFile(file, name)) return file;
    DeleteThrough(file);  // made somewhere else than asked: gone again, nothing written
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}

bool OwnFolder::UniqueName(const wchar_t* stem, const wchar_t* extension, wchar_t* name) {
    SYSTEMTIME t;
    GetSystemTime(&t);
    name[0] = 0;
    if (!Append(name, stem) || !Append(name, L"-")) return false;
    AppendNumber(name, (unsigned long long)t.wYear * 10000000000ULL + t.wMonth * 100000000ULL +
                           t.wDay * 1000000ULL + t.wHour * 10000ULL + t.wMinute * 100ULL + t.wSecond);
    Append(name, L"-");
    AppendNumber(name, GetCurrentProcessId());
    Append(name, L"-");
    AppendNumber(name, g_unique.fetch_add(1) + 1);
    return Append(name, extension);
}

HANDLE OwnFolder::CreateUnique(const wchar_t* stem, const wchar_t* extension, wchar_t* name) const {
    for (int attempt = 0; attempt < 16; ++attempt) {
        if (!UniqueName(stem, extension, name)) return INVALID_HANDLE_VALUE;
        HANDLE file = CreateNew(name);
        if (file != INVALID_HANDLE_VALUE) return file;
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    return INVALID_HANDLE_VALUE;
}

bool OwnFolder::Replace(const wchar_t* name, const void* data, size_t size, const wchar_t* stem,
                        const wchar_t* extension, wchar_t* used) const {
    // Written under a name no reader takes for a finished file, then moved where it belongs.
    wchar_t fresh[MAX_PATH];
    HANDLE file = CreateUnique(name, L".tmp", fresh);
    if (file == INVALID_HANDLE_VALUE) {
        // No new file can be made here: the file itself, rewritten in place when it is ours.
        HANDLE in = OpenFile(name, true);
        if (in == INVALID_HANDLE_VALUE) return false;
        const bool ok = WriteAll(in, data, size) && SetEndOfFile(in);
        CloseHandle(in);
        if (ok) lstrcpynW(used, name, MAX_PATH);
        return ok;
    }
    if (!WriteAll(file, data, size) || !FlushFileBuffers(file)) {
        DeleteThrough(file);
        CloseHandle(file);
        return false;
    }
    CloseHandle(file);
    if (MoveOver(fresh, name)) {
        lstrcpynW(used, name, MAX_PATH);
        return true;
    }
    // Held open by a viewer that lets others write: rewritten in place, when it is an ordinary file.
    HANDLE in = OpenFile(name, true);
    if (in != INVALID_HANDLE_VALUE) {
        const bool ok = WriteAll(in, data, size) && SetEndOfFile(in);
        CloseHandle(in);
        if (ok) {
            Remove(fresh);
            lstrcpynW(used, name, MAX_PATH);
            return true;
        }
    }
    // A second file beside it, under a name of its own (a move that replaces nothing).
    for (int attempt = 0; attempt < 16; ++attempt) {
        wchar_t second[MAX_PATH], from[MAX_PATH], to[MAX_PATH];
        if (!UniqueName(stem, extension, second) || !FullName(fresh, from) || !FullName(second, to)) break;
        if (MoveFileExW(from, to, MOVEFILE_WRITE_THROUGH)) {
            lstrcpynW(used, second, MAX_PATH);
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    lstrcpynW(used, fresh, MAX_PATH);  // it stays under the name it was written with
    return true;
}

bool OwnFolder::MoveOver(const wchar_t* fromName, const wchar_t* toName) const {
    wchar_t from[MAX_PATH], to[MAX_PATH];
    if (!FullName(fromName, from) || !FullName(toName, to)) return false;
    // A read-only file is not replaced (Windows refuses the elevated program too; Wine run as root would
    // not), and neither is a folder: both keep what they hold.
    const DWORD existing = GetFileAttributesW(to);
    const bool replaceable = existing == INVALID_FILE_ATTRIBUTES ||
                             !(existing & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) ||
                             (existing & FILE_ATTRIBUTE_REPARSE_POINT);
    if (!replaceable) return false;
    // The move replaces the name: a link there goes, what it pointed at stays as it was. A scanner or
    // indexer that has just opened either file makes the move fail for a moment (Wine's own bookkeeping
    // now and then too): a few tries, 25 ms apart, before the file counts as held.
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
        const DWORD error = GetLastError();
        if (attempt >= 4 || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)) return false;
        Sleep(25);
    }
}

bool OwnFolder::Remove(const wchar_t* name) const {
    wchar_t full[MAX_PATH];
    if (!FullName(name, full)) return false;
    HANDLE file = CreateFileW(full, DELETE | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool ours = IsOwnFile(file, name);
    if (ours) DeleteThrough(file);
    CloseHandle(file);
    return ours;
}

}  // namespace tarnell
