// Windows folders: files are opened by their whole names, and each folder
// below the named one is held open without delete sharing, so that it can
// be neither renamed nor removed, nor replaced by a link or junction, while
// the files in it are converted.
#include <windows.h>

#include "platform/folder.h"

namespace ordil::platform {

Folder::~Folder() { close(); }

void Folder::close() {
  for (const intptr_t h : held_) CloseHandle(reinterpret_cast<HANDLE>(h));
  held_.clear();
}

// Windows has no permission bits to give the folders made (modeOf).
Status Folder::open(const NativeFileName& base, const std::vector<NativeFileName>& below,
                    bool create, const std::function<uint32_t(size_t)>&) {
  close();
  NativeFileName path = base;
  for (const NativeFileName& name : below) {
    if (!path.empty() && path.back() != u'\\' && path.back() != u'/') path.push_back(u'\\');
    path += name;
    if (create && !CreateDirectoryW(reinterpret_cast<const wchar_t*>(path.c_str()), nullptr)) {
      const DWORD error = GetLastError();
      if (error != ERROR_ALREADY_EXISTS) {
        return Status::io("cannot make the folder " + displayFileName(name) + ": system error " +
                          std::to_string(error));
      }
    }
    // The folder itself, not what a link or junction there leads to; a
    // handle that asks no access to its contents would not hold the
    // others to its sharing.
    const HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), FILE_LIST_DIRECTORY,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                 nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      return Status::io("cannot open the folder " + displayFileName(name) + ": system error " +
                        std::to_string(GetLastError()));
    }
    held_.push_back(reinterpret_cast<intptr_t>(h));
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      return Status::io(displayFileName(name) +
                        (create ? " is not a folder" : " is no longer a folder"));
    }
  }
  return Status();
}

// The folders of the name are held open by the Folder, if any: the whole
// name leads into them.
std::optional<int64_t> modifiedTime(const NativeFileName& name, bool followLink, const Folder*) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(reinterpret_cast<const wchar_t*>(name.c_str()), GetFileExInfoStandard,
                            &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return std::nullopt;
  }
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    if (!followLink) return std::nullopt;
    // What the link leads to: its own time is the link's.
    const HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(name.c_str()), 0,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    const bool got = GetFileTime(h, nullptr, nullptr, &data.ftLastWriteTime) != 0;
    CloseHandle(h);
    if (!got) return std::nullopt;
  }
  return static_cast<int64_t>((uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                              data.ftLastWriteTime.dwLowDateTime);
}

bool isFolder(const std::string& narrowPath) {
  const DWORD attributes = GetFileAttributesA(narrowPath.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

uint32_t folderMode(const NativeFileName&) { return 0777; }

Status checkLinksAlong(const NativeFileName&) { return Status(); }

}  // namespace ordil::platform
