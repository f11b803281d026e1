// Windows files. The input's size is taken through CreateFileA on the narrow
// path, the handle held for the run; its bytes are read through a binary
// file stream opened by the wide path. The output is written to a hidden
// file by its wide name, shared for reading, writing and deletion, and
// moved over the document when complete.
#include <windows.h>
#include <io.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "platform/code_page.h"
#include "platform/file_name.h"
#include "platform/folder.h"
#include "platform/input_file.h"
#include "platform/interrupt.h"
#include "platform/output_file.h"
#include "platform/temporary_name.h"
#include "text/utf8.h"

namespace ordil::platform {

namespace {

HANDLE asHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// The same short reasons as the POSIX build for the failures people meet;
// the system's own text for the rest.
std::string systemReason(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return "No such file or directory";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return "Permission denied";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "No space left on device";
    default:
      break;
  }
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string reason = "system error " + std::to_string(error);
  if (n > 0) {
    std::u16string wide(reinterpret_cast<const char16_t*>(text), n);
    while (!wide.empty() && (wide.back() == u'\n' || wide.back() == u'\r' || wide.back() == u'.')) {
      wide.pop_back();
    }
    reason = utf16ToUtf8(wide);
  }
  LocalFree(text);
  return reason;
}

Status failure(DWORD error, const std::string& what) {
  std::string message = what + ": " + systemReason(error);
  if (error == ERROR_TOO_MANY_OPEN_FILES) return Status::tooManyFiles(std::move(message));
  return Status::io(std::move(message));
}

Status cannotCreate(DWORD error) { return failure(error, "cannot create"); }

Status writeFailed(DWORD error) {
  if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE) {
    return Status::closedOutput("write failed: " + systemReason(error));
  }
  return Status::io("write failed: " + systemReason(error));
}

FileFacts factsOfHandle(HANDLE h) {
  FileFacts facts;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(h, &info)) {
    facts.device = info.dwVolumeSerialNumber;
    facts.file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  }
  facts.mode = 0666;
  return facts;
}

}  // namespace

NativeFileName nativeFileName(const std::string& narrowPath) {
  // Only a name too long for the converter fails: it is then the empty
  // name, which no file has.
  NativeFileName wide;
  if (!narrowToWide(narrowPath, &wide)) wide.clear();
  return wide;
}

std::string displayFileName(const NativeFileName& name) {
  std::string narrow;
  if (!wideToNarrow(name, &narrow)) narrow = "(a name too long to show)";
  return narrow;
}

NativeFileName comparableFileName(NativeFileName name) {
  if (!name.empty() && name.size() <= MAXDWORD) {
    CharUpperBuffW(reinterpret_cast<wchar_t*>(name.data()), static_cast<DWORD>(name.size()));
  }
  return name;
}

// The binary file stream the bytes are read through, opened by the wide
// name at the first read.
struct InputFile::Stream {
  std::ifstream file;
};

namespace {

Status cannotOpen(std::string reason) { return Status::io("cannot open: " + reason); }

// Why a name could not be opened: a folder is said to be one.
Status openFailure(DWORD error, DWORD attributes) {
  const bool isDirectory =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  return isDirectory ? cannotOpen("Is a directory") : failure(error, "cannot open");
}

}  // namespace

Status InputFile::open(const std::string& narrowPath) {
  // The size through the narrow path itself, as the program has always
  // taken it; the stream then opens the wide form of the same path.
  name_ = nativeFileName(narrowPath);
  const HANDLE h = CreateFileA(narrowPath.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return openFailure(error, GetFileAttributesA(narrowPath.c_str()));
  }
  return takeSize(reinterpret_cast<intptr_t>(h));
}

// The folders of the name are held open by the Folder, if any: the whole
// name leads into them. A link or junction met in a folder is opened
// itself (FILE_FLAG_OPEN_REPARSE_POINT), never followed, and refused.
Status InputFile::openNative(const NativeFileName& name, const Folder*, Links links) {
  name_ = name;
  refused_ = false;
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(name.c_str());
  const bool trustedOnly = links == Links::kTrustedOnly;
  const HANDLE h = CreateFileW(wide, GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING,
                               trustedOnly ? FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT
                                           : FILE_ATTRIBUTE_NORMAL,
                               nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return openFailure(error, GetFileAttributesW(wide));
  }
  if (trustedOnly) {
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(h, &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      CloseHandle(h);
      refused_ = true;
      const size_t separator = name.find_last_of(u"\\/:");
      return Status::io("not read: " +
                        displayFileName(separator == NativeFileName::npos ? name
                                                                         : name.substr(separator + 1)) +
                        " is a link");
    }
  }
  return takeSize(reinterpret_cast<intptr_t>(h));
}

namespace {

// The identity of the file the name leads to, or none when nothing is there.
std::optional<FileFacts> factsOf(const NativeFileName& name) {
  const HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(name.c_str()), 0,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  const FileFacts facts = factsOfHandle(h);
  CloseHandle(h);
  return facts;
}

}  // namespace

Status InputFile::takeSize(intptr_t opened) {
  handle_ = opened;
  const HANDLE h = asHandle(opened);
  DWORD high = 0;
  const DWORD low = GetFileSize(h, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
    return failure(GetLastError(), "cannot open");
  }
  size_ = (static_cast<uint64_t>(high) << 32) | low;
  facts_ = factsOfHandle(h);
  open_ = true;
  return Status();
}

InputFile::InputFile() = default;

InputFile::~InputFile() {
  if (handle_ != -1) CloseHandle(asHandle(handle_));
}

Status InputFile::read(char* buffer, size_t n, size_t* got) {
  *got = 0;
  if (!open_) return Status();
  if (stream_ == nullptr) {
    stream_ = std::make_unique<Stream>();
    stream_->file.open(std::filesystem::path(name_), std::ios::binary);
    if (!stream_->file.is_open()) return Status::io("cannot open the file stream");
  }
  std::ifstream& stream = stream_->file;
  while (*got < n && stream) {
    const size_t chunk = std::min<size_t>(n - *got, size_t{1} << 30);
    stream.read(buffer + *got, static_cast<std::streamsize>(chunk));
    *got += static_cast<size_t>(stream.gcount());
  }
  return stream.bad() ? Status::io("read error") : Status();
}

namespace {

// Whether the name is a link or junction (a reparse point), which is never
// written through: the document replaces the link itself.
bool isLink(const NativeFileName& name) {
  const DWORD attributes = GetFileAttributesW(reinterpret_cast<const wchar_t*>(name.c_str()));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Whether the name exists and is something other than a file on a disk (a
// device such as NUL or CON, a pipe), which cannot be replaced.
bool isDeviceOrPipe(const NativeFileName& name) {
  const HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(name.c_str()), 0,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool device = GetFileType(h) != FILE_TYPE_DISK;
  CloseHandle(h);
  return device;
}

// The name's own part, as a message names the file.
std::string ownName(const NativeFileName& name) {
  const size_t separator = name.find_last_of(u"\\/:");
  return displayFileName(separator == NativeFileName::npos ? name : name.substr(separator + 1));
}

HANDLE createForWriting(const NativeFileName& name, DWORD disposition) {
  return CreateFileW(reinterpret_cast<const wchar_t*>(name.c_str()), GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}



// NtFlushBuffersFileEx (Windows 8 and later) with FLUSH_FLAGS_FILE_DATA_ONLY
// writes a file's data out without flushing the drive's cache, as Git's
// batch mode does for each of its files (compat/win32/flush.c); found at
// run time, and left out where it is missing.
struct IoStatus {
  void* status;
  ULONG_PTR information;
};
using FlushBuffersFileEx = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, IoStatus*);
constexpr ULONG kFlushFileDataOnly = 1;

FlushBuffersFileEx flushBuffersFileEx() {
  static const FlushBuffersFileEx function = [] {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll == nullptr ? nullptr
                            : reinterpret_cast<FlushBuffersFileEx>(reinterpret_cast<void*>(
                                  GetProcAddress(ntdll, "NtFlushBuffersFileEx")));
  }();
  return function;
}

// Runs FlushFileBuffers on a new handle of the finished hidden file;
// returns 0 or the error.
DWORD flushThrough(const NativeFileName& name) {
  const HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(name.c_str()), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  const DWORD error = FlushFileBuffers(h) ? 0 : GetLastError();
  CloseHandle(h);
  return error;
}


class Win32FileOps final : public FileOps {
 public:
  // The folder, if any, holds the folders of the name open: the whole name
  // leads into them. Windows gives a new file the folder's permissions:
  // Creation::cache serves only to recognise the cache file.
  Status place(const NativeFileName& name, const Creation& how, Place* out) override {
    out->target = name;
    out->separators = "\\/:";
    if (how.cache != nullptr) {
      const std::optional<FileFacts> there = factsOf(name);
      out->replacesCache = there && there->sameFile(*how.cache);
      if (out->replacesCache) return Status::io("its document would replace its cache file");
    }
    if (how.onlyWhereNothingStands &&
        GetFileAttributesW(reinterpret_cast<const wchar_t*>(name.c_str())) != INVALID_FILE_ATTRIBUTES) {
      out->skip = true;  // anything in the place stays as it is
      return Status();
    }
    if (isLink(name) || !isDeviceOrPipe(name)) return Status();
    if (how.placement == Placement::kBatch) {
      return Status::io("not written: " + ownName(name) + " is not a regular file");
    }
    const HANDLE h = createForWriting(name, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) return cannotCreate(GetLastError());
    out->inPlace = reinterpret_cast<intptr_t>(h);
    return Status();
  }

  Status createHidden(const Place&, const NativeFileName& hidden, intptr_t* handle,
                      bool* taken) override {
    const HANDLE h = createForWriting(hidden, CREATE_NEW);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      *taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
      return cannotCreate(error);
    }
    *handle = reinterpret_cast<intptr_t>(h);
    return Status();
  }

  Status write(intptr_t handle, const char* data, size_t n) override {
    while (n > 0) {
      const DWORD chunk = n > (1u << 30) ? (1u << 30) : static_cast<DWORD>(n);
      DWORD put = 0;
      if (!WriteFile(asHandle(handle), data, chunk, &put, nullptr)) return writeFailed(GetLastError());
      data += put;
      n -= put;
    }
    return Status();
  }

  void setPermissions(intptr_t, const FileFacts*) override {}

  Status flush(intptr_t handle) override {
    return FlushFileBuffers(asHandle(handle)) ? Status() : writeFailed(GetLastError());
  }

  void startWriteBack(intptr_t handle, uint64_t* device) override {
    const HANDLE h = asHandle(handle);
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(h, &info)) *device = info.dwVolumeSerialNumber;
    if (const FlushBuffersFileEx writeOut = flushBuffersFileEx()) {
      IoStatus status{};
      writeOut(h, kFlushFileDataOnly, nullptr, 0, &status);  // a failure shows at the flush
    }
  }

  Status close(intptr_t handle) override {
    return CloseHandle(asHandle(handle)) ? Status() : writeFailed(GetLastError());
  }

  Status rename(const Place& place, const NativeFileName& hidden, bool replace,
                bool* taken) override {
    if (MoveFileExW(reinterpret_cast<const wchar_t*>(hidden.c_str()),
                    reinterpret_cast<const wchar_t*>(place.target.c_str()),
                    replace ? MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH
                            : MOVEFILE_WRITE_THROUGH)) {
      return Status();
    }
    const DWORD error = GetLastError();
    *taken = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
    return Status::io("cannot replace: " + systemReason(error));
  }

  void remove(const Place&, const NativeFileName& hidden) override {
    DeleteFileW(reinterpret_cast<const wchar_t*>(hidden.c_str()));
  }

  // FlushFileBuffers on one file of a volume writes that file out and
  // flushes the drive's cache, which then holds the data the others wrote
  // out: Git's batch mode makes the same single flush on NTFS. Where the
  // others' data could not be written out (no NtFlushBuffersFileEx), each
  // is flushed.
  bool flushFileSystem(const Place&, const NativeFileName& hidden) override {
    return flushBuffersFileEx() != nullptr && flushThrough(hidden) == 0;
  }

  Status flushFile(const Place&, const NativeFileName& hidden) override {
    const DWORD error = flushThrough(hidden);
    return error == 0 ? Status() : writeFailed(error);
  }

  intptr_t descriptor(int number) override {
    return number == 1   ? reinterpret_cast<intptr_t>(GetStdHandle(STD_OUTPUT_HANDLE))
           : number == 2 ? reinterpret_cast<intptr_t>(GetStdHandle(STD_ERROR_HANDLE))
                         : _get_osfhandle(number);
  }
};

}  // namespace

FileOps* systemFileOps() {
  static Win32FileOps ops;
  return &ops;
}

}  // namespace ordil::platform
