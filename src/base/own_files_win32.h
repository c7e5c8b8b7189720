// Win32 glue only: files the program writes in folders that other processes can change (the user's own
// %LOCALAPPDATA%, which the program, running elevated, shares with every process of the user). Nothing
// there is opened through a link: a folder is used only when it is a real folder reached through no
// link, and held so that it cannot be renamed or replaced while in use; a file is read or written only
// when it is an ordinary file of the folder's own (no symbolic link, junction, mount point or hard
// link, no folder), and new files are always new names, so nothing planted under a name is written
// through. Fixed buffers only (paths up to MAX_PATH): the crash handler's last resort uses it too.
#pragma once

#include <windows.h>

#include <cstddef>

namespace tarnell {

class OwnFolder {
  public:
    OwnFolder() = default;
    ~OwnFolder();
    OwnFolder(const OwnFolder&) = delete;
    OwnFolder& operator=(const OwnFolder&) = delete;

    // Creates `path` (an absolute local path, X:\...) when it is missing, with `security` when given,
    // then opens and checks it. With `security`, a folder that was already there gets that owner and
    // DACL too (it may have been made by someone else), or is refused. False when the path is not
    // local and absolute, is too long, cannot be made, or is not a real folder reached through no link.
    bool Open(const wchar_t* path, SECURITY_DESCRIPTOR* security = nullptr);
    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    const wchar_t* Path() const { return path_; }

    // `name` in the folder opened for reading (shared) or writing (readers allowed), only when it is an
    // ordinary file of its own; a read-only file is not opened for writing. INVALID_HANDLE_VALUE when
    // missing or refused.
    HANDLE OpenFile(const wchar_t* name, bool write) const;

    // `name` made as a new, empty file opened for writing; INVALID_HANDLE_VALUE when anything (a link
    // included) is there already.
    HANDLE CreateNew(const wchar_t* name) const;

    // A new, empty file named stem-<unique>.extension, opened for writing; its name goes to `name`
    // (MAX_PATH characters). Never an existing name, so never a link planted there.
    HANDLE CreateUnique(const wchar_t* stem, const wchar_t* extension, wchar_t* name) const;

    // `size` bytes become the contents of `name`: written to a new file (name-<unique>.tmp) and moved over
    // `name`, which replaces whatever is there (a planted link is replaced, its target left alone); where
    // `name` cannot be replaced (it is held open, read-only, a folder) it is rewritten in place when it is an
    // ordinary file that allows it, else the new file is kept under its own unique name
    // (stem-<unique>.extension). `used` (MAX_PATH characters) gets the name that holds the contents.
    // False when nothing could be written.
    bool Replace(const wchar_t* name, const void* data, size_t size, const wchar_t* stem,
                 const wchar_t* extension, wchar_t* used) const;

    // Moves the file `from` over `to`, replacing what is there (a link there goes, its target stays),
    // unless `to` is read-only or a folder. False when not moved.
    bool MoveOver(const wchar_t* from, const wchar_t* to) const;

    // Deletes `name` when it is an ordinary file of the folder's own.
    bool Remove(const wchar_t* name) const;

  private:
    static bool UniqueName(const wchar_t* stem, const wchar_t* extension, wchar_t* name);
    bool FullName(const wchar_t* name, wchar_t* out) const;
    bool IsOwnFile(HANDLE file, const wchar_t* name) const;

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    wchar_t path_[MAX_PATH] = {};
};

// Reads at most `cap` bytes from the end of an open file into `out` (`capacity` bytes); the count read.
size_t ReadFileTail(HANDLE file, size_t cap, char* out, size_t capacity);

// True for an absolute path on a local drive letter (X:\...), the only kind a folder of the program's
// may have: no share, no device path, nothing relative.
bool IsLocalAbsolutePath(const wchar_t* path);

// True when `a` and `b` name the same path, the letters' case aside.
bool SamePath(const wchar_t* a, const wchar_t* b);

}  // namespace tarnell
