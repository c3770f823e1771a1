// Named streams on Windows: NTFS alternate data streams, listed through
// the backup interface (BackupRead delivers a file as a sequence of stream
// headers and contents) and opened as "file:stream" paths.
#include "platform/streams.h"

#include <windows.h>

#include <cstring>

#include "platform/thread_owned.h"
#include "platform/win32/wide.h"

namespace veldro::platform {

namespace {

// The fixed part of a WIN32_STREAM_ID header: identifier, attributes,
// 64-bit size and name size, without the name that follows it.
constexpr DWORD stream_header_size = 20;
// The listing's read buffer: the header and the name are read into it.
constexpr std::size_t listing_buffer_size = 16384;

struct StreamHeader {
    DWORD id = 0;
    DWORD attributes = 0;
    std::int64_t size = 0;
    DWORD name_size = 0;
};

// Buffers reused from one listing to the next.
struct WinStreamBuffers {
    std::vector<unsigned char> listing = std::vector<unsigned char>(listing_buffer_size);
    std::wstring name;
};

WinStreamBuffers& buffers() {
    thread_local ThreadOwned<WinStreamBuffers> state;
    return state.get();
}

std::intptr_t from_handle(HANDLE h) {
    return h == INVALID_HANDLE_VALUE ? FileHandle::invalid_value : reinterpret_cast<std::intptr_t>(h);  // NOLINT
}

StreamHeader decode_header(const unsigned char* bytes) {
    StreamHeader header;
    std::memcpy(&header.id, bytes, 4);
    std::memcpy(&header.attributes, bytes + 4, 4);
    std::memcpy(&header.size, bytes + 8, 8);
    std::memcpy(&header.name_size, bytes + 16, 4);
    return header;
}

// One listing: the open file and its backup context.
struct BackupListing {
    HANDLE file = INVALID_HANDLE_VALUE;
    LPVOID context = nullptr;

    bool read(unsigned char* into, DWORD count, DWORD& got) {
        got = 0;
        return BackupRead(file, into, count, &got, FALSE, TRUE, &context) != 0;
    }
    // Skips to the end of the current stream's contents: the largest
    // distance there is; the system stops at the end of the stream.
    void skip_contents() {
        DWORD low = 0;
        DWORD high = 0;
        (void)BackupSeek(file, 0xFFFFFFFFU, 0x7FFFFFFFU, &low, &high, &context);
    }
    // Reads and throws away `count` bytes (a name too long for the buffer).
    bool discard(unsigned char* scratch, DWORD room, DWORD count) {
        while (count > 0) {
            DWORD got = 0;
            if (!read(scratch, count < room ? count : room, got) || got == 0) {
                return false;
            }
            count -= got;
        }
        return true;
    }
    ~BackupListing() {
        if (context != nullptr) {
            DWORD got = 0;
            (void)BackupRead(file, nullptr, 0, &got, TRUE, TRUE, &context);
        }
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
        }
    }
};

// ":notes.txt:$DATA" -> "notes.txt": the characters after the first colon
// up to the next one.
void store_stream(std::vector<StreamRecord>& table, std::size_t& count, const wchar_t* name, std::size_t length,
                  const StreamHeader& header) {
    std::size_t begin = 0;
    while (begin < length && name[begin] != L':') {
        ++begin;
    }
    begin = begin < length ? begin + 1 : 0;
    std::size_t end = begin;
    while (end < length && name[end] != L':') {
        ++end;
    }
    if (count == table.size()) {
        table.emplace_back();
    }
    StreamRecord& record = table[count];
    record.name = win32::from_wide(name + begin, end - begin);
    record.size = header.size;
    record.attributes = header.attributes;
    ++count;
}

bool refuses_backup_reads(DWORD error) {
    return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
}

std::wstring stream_path(const std::string& file, const std::string& name) {
    return win32::to_wide_path(file) + L":" + win32::to_wide(name);
}

}  // namespace

StreamListStatus list_named_streams(const std::string& path, std::vector<StreamRecord>& table, std::size_t& count) {
    count = 0;
    BackupListing listing;
    // Read sharing first, then letting writers go on; never through a link,
    // and without moving the last-access time.
    listing.file = win32::open_source(win32::to_wide_path(path), 0);
    if (listing.file == nullptr) {
        listing.file = INVALID_HANDLE_VALUE;
    }
    if (listing.file == INVALID_HANDLE_VALUE) {
        return StreamListStatus::open_failed;
    }
    WinStreamBuffers& state = buffers();
    unsigned char* const buffer = state.listing.data();
    const DWORD name_room = listing_buffer_size - stream_header_size;
    for (;;) {
        DWORD got = 0;
        if (!listing.read(buffer, stream_header_size, got)) {
            if (refuses_backup_reads(GetLastError())) {
                count = 0;
                return StreamListStatus::unsupported;
            }
            return StreamListStatus::header_read_failed;
        }
        if (got < stream_header_size) {
            break;  // the end of the file
        }
        const StreamHeader header = decode_header(buffer);
        if (header.name_size == 0) {
            // The unnamed data, extended attributes, security data and the
            // like: only their contents are passed over.
            if (header.size > 0) {
                listing.skip_contents();
            }
            continue;
        }
        if (header.name_size > name_room) {
            // Longer than any NTFS stream name: the stream is passed over.
            if (!listing.discard(buffer + stream_header_size, name_room, header.name_size)) {
                return StreamListStatus::name_read_failed;
            }
        } else {
            if (!listing.read(buffer + stream_header_size, header.name_size, got)) {
                return StreamListStatus::name_read_failed;
            }
            if (got < header.name_size) {
                break;
            }
            state.name.resize(header.name_size / sizeof(wchar_t));
            std::memcpy(state.name.data(), buffer + stream_header_size, state.name.size() * sizeof(wchar_t));
            store_stream(table, count, state.name.data(), state.name.size(), header);
        }
        if (header.size > 0) {
            listing.skip_contents();
        }
    }
    return StreamListStatus::complete;
}

PrivilegeStatus enable_backup_privileges() {
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token) == 0) {
        return PrivilegeStatus::token_open_failed;
    }
    // TOKEN_PRIVILEGES with room for two entries.
    struct TwoPrivileges {
        DWORD PrivilegeCount;
        LUID_AND_ATTRIBUTES Privileges[2];
    } privileges{};
    privileges.PrivilegeCount = 2;
    if (LookupPrivilegeValueW(nullptr, L"SeBackupPrivilege", &privileges.Privileges[0].Luid) == 0) {
        CloseHandle(token);
        return PrivilegeStatus::backup_lookup_failed;
    }
    if (LookupPrivilegeValueW(nullptr, L"SeRestorePrivilege", &privileges.Privileges[1].Luid) == 0) {
        CloseHandle(token);
        return PrivilegeStatus::restore_lookup_failed;
    }
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    privileges.Privileges[1].Attributes = SE_PRIVILEGE_ENABLED;
    // A user who does not hold the privileges goes on without them.
    const BOOL adjusted =
        AdjustTokenPrivileges(token, FALSE, reinterpret_cast<PTOKEN_PRIVILEGES>(&privileges),  // NOLINT
                              0, nullptr, nullptr);
    const DWORD error = GetLastError();
    CloseHandle(token);
    return adjusted != 0 && error == ERROR_NOT_ALL_ASSIGNED ? PrivilegeStatus::not_held : PrivilegeStatus::enabled;
}

std::error_code open_stream_for_read(const std::string& file, const std::string& name, FileHandle& stream) {
    stream = FileHandle(from_handle(win32::open_source(stream_path(file, name), FILE_FLAG_SEQUENTIAL_SCAN)));
    return stream.valid() ? std::error_code() : win32::system_error();
}

std::error_code write_stream(const std::string& file, const std::string& name, const void* data, std::size_t size) {
    HANDLE h = CreateFileW(stream_path(file, name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return win32::system_error();
    }
    FileHandle target(from_handle(h));
    const std::error_code written = write_all(target, data, size);
    const std::error_code closed = target.close();
    return written ? written : closed;
}

// The system's copy would read the stream through a handle of its own,
// moving the file's last-access time, and write straight onto the final
// name: the caller's copy through a temporary name is used instead.
std::error_code system_copy_stream(const std::string& /*file*/, const std::string& /*name*/,
                                   const std::string& /*target*/) {
    return win32::system_error(ERROR_NOT_SUPPORTED);
}

bool has_no_named_streams(const std::string& /*path*/) {
    // Only the backup interface lists streams here, and it opens the file.
    return false;
}

}  // namespace veldro::platform
