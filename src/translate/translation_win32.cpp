#include "translate/translation_win32.h"

#include <windows.h>

#include <optional>
#include <string>

#include "translate/translation.h"

namespace tarnell {

namespace {

std::optional<std::string> ReadTableResource() {
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC info = FindResourceW(module, L"translate", RT_RCDATA);
    if (!info) return std::nullopt;
    const HGLOBAL loaded = LoadResource(module, info);
    const DWORD size = SizeofResource(module, info);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return std::nullopt;
    return std::string(static_cast<const char*>(bytes), size);
}

}  // namespace

void LoadTranslationTable() {
    LoadTranslationTableOnce(ReadTableResource);
}

void ReleaseTranslationTable() {
    ReleaseTranslationTableOnce();
}

}  // namespace tarnell
