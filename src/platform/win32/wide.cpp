#include "platform/win32/wide.h"

#include "platform/windows_entries.h"
#include "util/paths.h"
#include "util/wtf8.h"

namespace veldro::platform::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::wstring to_wide(const std::string& utf8) {
    const std::u16string units = util::wtf8_to_utf16(utf8);
    return {units.begin(), units.end()};
}

std::string from_wide(const wchar_t* wide, std::size_t length) {
    return util::utf16_to_wtf8(reinterpret_cast<const char16_t*>(wide), length);  // NOLINT
}

std::string from_wide(const std::wstring& wide) {
    return from_wide(wide.data(), wide.size());
}

std::wstring to_wide_path(const std::string& path) {
    return to_wide(paths::call_form(path));
}

void keep_last_access(HANDLE file) {
    FILETIME keep{0xFFFFFFFFU, 0xFFFFFFFFU};
    (void)SetFileTime(file, nullptr, &keep, nullptr);
}

namespace {

HANDLE open_reading(const std::wstring& path, DWORD share, DWORD flags) {
    HANDLE h =
        CreateFileW(path.c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES, share, nullptr, OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        h = CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, flags, nullptr);
    }
    return h;
}

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Tries each sharing mode in turn (the last entry 0 ends the list).
HANDLE open_in_turn(const std::wstring& path, DWORD flags, const DWORD* shares) {
    HANDLE h = INVALID_HANDLE_VALUE;
    for (; *shares != 0 && h == INVALID_HANDLE_VALUE; ++shares) {  // NOLINT
        h = open_reading(path, *shares, flags);
    }
    return h;
}

HANDLE open_checked(const std::wstring& path, DWORD flags, const DWORD* shares) {
    flags |= FILE_FLAG_BACKUP_SEMANTICS;
    HANDLE h = open_in_turn(path, flags | FILE_FLAG_OPEN_REPARSE_POINT, shares);
    if (h == INVALID_HANDLE_VALUE) {
        return h;
    }
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag) != 0 &&
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        CloseHandle(h);
        if (classify_windows_entry(tag.FileAttributes, tag.ReparseTag) != EntryKind::regular) {
            SetLastError(ERROR_CANT_ACCESS_FILE);
            return INVALID_HANDLE_VALUE;
        }
        h = open_in_turn(path, flags, shares);
        if (h == INVALID_HANDLE_VALUE) {
            return h;
        }
    }
    keep_last_access(h);
    return h;
}

}  // namespace

HANDLE open_source(const std::wstring& path, DWORD flags) {
    static constexpr DWORD shares[] = {FILE_SHARE_READ, share_all, 0};  // NOLINT(modernize-avoid-c-arrays)
    return open_checked(path, flags, shares);
}

HANDLE open_source(const std::wstring& path, DWORD flags, SourceShare share) {
    static constexpr DWORD readers[] = {FILE_SHARE_READ, 0};  // NOLINT(modernize-avoid-c-arrays)
    static constexpr DWORD anyone[] = {share_all, 0};         // NOLINT(modernize-avoid-c-arrays)
    return open_checked(path, flags, share == SourceShare::readers_only ? readers : anyone);
}

HANDLE open_source_link(const std::wstring& path) {
    HANDLE h = open_reading(path, share_all, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    if (h != INVALID_HANDLE_VALUE) {
        keep_last_access(h);
    }
    return h;
}

}  // namespace veldro::platform::win32
