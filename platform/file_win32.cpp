// Windows files. The input's size is taken through CreateFileA on the narrow
// path, the handle held for the run; its bytes are read through a binary
// file stream opened by the wide path. The output is written to a hidden
// file by its wide name, shared for reading, writing and deletion, and
// moved over the document when complete.
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/file_name.h"
#include "platform/input_file.h"
#include "platform/interrupt.h"
#include "platform/output_file.h"
#include "platform/temporary_name.h"
#include "text/encoding.h"
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

}  // namespace

NativeFileName nativeFileName(const std::string& narrowPath) {
  NativeFileName wide;
  narrowToWide(narrowPath, &wide);
  return wide;
}

std::string displayFileName(const NativeFileName& name) {
  std::string narrow;
  wideToNarrow(name, &narrow);
  return narrow;
}

// The binary file stream the bytes are read through, opened by the wide
// path at the first read.
struct InputFile::Stream {
  std::ifstream file;
};

InputFile::InputFile(const std::string& narrowPath) : path_(narrowPath) {
  const HANDLE h = CreateFileA(narrowPath.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesA(narrowPath.c_str());
    const bool isDirectory = attributes != INVALID_FILE_ATTRIBUTES &&
                             (attributes & FILE_ATTRIBUTE_DIRECTORY);
    error_ = isDirectory ? "Is a directory" : systemReason(error);
    return;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  DWORD high = 0;
  const DWORD low = GetFileSize(h, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
    error_ = systemReason(GetLastError());
    return;
  }
  size_ = (static_cast<uint64_t>(high) << 32) | low;
  open_ = true;
}

InputFile::~InputFile() {
  if (handle_ != -1) CloseHandle(asHandle(handle_));
}

size_t InputFile::read(char* buffer, size_t n) {
  if (!open_) return 0;
  if (stream_ == nullptr) {
    std::u16string wide;
    narrowToWide(path_, &wide);
    stream_ = std::make_unique<Stream>();
    stream_->file.open(std::filesystem::path(wide), std::ios::binary);
    if (!stream_->file.is_open()) error_ = "cannot open the file stream";
  }
  std::ifstream& stream = stream_->file;
  size_t got = 0;
  while (got < n && stream.is_open() && stream) {
    const size_t chunk = std::min<size_t>(n - got, size_t{1} << 30);
    stream.read(buffer + got, static_cast<std::streamsize>(chunk));
    got += static_cast<size_t>(stream.gcount());
  }
  if (stream.bad()) error_ = "read error";
  return got;
}

OutputFile::~OutputFile() { discard(); }

namespace {

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

HANDLE createForWriting(const NativeFileName& name, DWORD disposition) {
  return CreateFileW(reinterpret_cast<const wchar_t*>(name.c_str()), GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool OutputFile::create(const NativeFileName& name, std::string* reason) {
  discard();
  if (isDeviceOrPipe(name)) {
    const HANDLE h = createForWriting(name, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) {
      *reason = systemReason(GetLastError());
      return false;
    }
    handle_ = reinterpret_cast<intptr_t>(h);
    destination_ = name;
    return true;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    // Remembered before it exists, so that no interruption leaves it behind.
    temporary_ = temporaryNameFor(name, randomNumber(), "\\/:");
    pendingTicket_ = rememberPendingFile(temporary_);
    const HANDLE h = createForWriting(temporary_, CREATE_NEW);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      forgetPendingFile(pendingTicket_);
      pendingTicket_ = -1;
      temporary_.clear();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      *reason = systemReason(error);
      return false;
    }
    handle_ = reinterpret_cast<intptr_t>(h);
    destination_ = name;
    return true;
  }
  *reason = systemReason(ERROR_FILE_EXISTS);
  return false;
}

bool OutputFile::isOpen() const { return handle_ != -1; }

bool OutputFile::write(const char* data, size_t n, std::string* reason) {
  if (handle_ == -1) {
    *reason = systemReason(ERROR_INVALID_HANDLE);
    return false;
  }
  while (n > 0) {
    const DWORD chunk = n > (1u << 30) ? (1u << 30) : static_cast<DWORD>(n);
    DWORD put = 0;
    if (!WriteFile(asHandle(handle_), data, chunk, &put, nullptr)) {
      *reason = systemReason(GetLastError());
      return false;
    }
    data += put;
    n -= put;
  }
  return true;
}

bool OutputFile::commit(std::string* reason) {
  if (handle_ == -1) {
    *reason = systemReason(ERROR_INVALID_HANDLE);
    return false;
  }
  const HANDLE h = asHandle(handle_);
  handle_ = -1;
  if (temporary_.empty()) {
    if (!CloseHandle(h)) {
      *reason = systemReason(GetLastError());
      return false;
    }
    return true;
  }
  // The bytes reach the device before the name does (see the POSIX side).
  const bool flushed = FlushFileBuffers(h) != 0;
  const DWORD flushError = GetLastError();
  if (!CloseHandle(h) || !flushed) {
    *reason = systemReason(flushed ? GetLastError() : flushError);
    discard();
    return false;
  }
  if (!MoveFileExW(reinterpret_cast<const wchar_t*>(temporary_.c_str()),
                   reinterpret_cast<const wchar_t*>(destination_.c_str()),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    *reason = systemReason(GetLastError());
    discard();
    return false;
  }
  forgetPendingFile(pendingTicket_);
  pendingTicket_ = -1;
  temporary_.clear();
  return true;
}

void OutputFile::discard() {
  if (handle_ != -1) CloseHandle(asHandle(handle_));
  handle_ = -1;
  if (!temporary_.empty()) DeleteFileW(reinterpret_cast<const wchar_t*>(temporary_.c_str()));
  forgetPendingFile(pendingTicket_);
  pendingTicket_ = -1;
  temporary_.clear();
}

}  // namespace ordil::platform
