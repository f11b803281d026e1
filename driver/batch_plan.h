// The batch's plan: which files it converts and where their documents go,
// decided whole before the first conversion, so that which file wins a
// shared document does not depend on the jobs, and documents written
// during the run are never taken for inputs. It is a pure function of
// the paths named and what a FolderWalker says of them.
#ifndef ORDIL_DRIVER_BATCH_PLAN_H_
#define ORDIL_DRIVER_BATCH_PLAN_H_

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "driver/batch.h"
#include "driver/conversion.h"
#include "platform/file_name.h"
#include "platform/folder.h"

namespace ordil {

// A path in the platform's own form, and back; a path as messages name it.
inline platform::NativeFileName nativeName(const std::filesystem::path& path) {
  const auto& native = path.native();
  return platform::NativeFileName(native.begin(), native.end());
}
inline std::filesystem::path pathOf(const platform::NativeFileName& name) {
  return std::filesystem::path(std::filesystem::path::string_type(name.begin(), name.end()));
}
inline std::string displayPath(const std::filesystem::path& path) {
  return platform::displayFileName(nativeName(path));
}

// One thing found in a folder.
struct WalkEntry {
  platform::NativeFileName name;  // its own name
  bool isLink = false;            // a symbolic link (what follows is of its target)
  bool isFolder = false;
  bool isRegularFile = false;
};

// What the plan asks of the file system, so that tests can give it any
// tree (ninja's DiskInterface is the model).
class FolderWalker {
 public:
  enum class Kind { kMissing, kFolder, kOther };
  virtual ~FolderWalker() = default;
  // What a path the user named is, links followed; for kMissing, *reason
  // says why ("No such file or directory").
  virtual Kind kindOf(const std::filesystem::path& path, std::string* reason) = 0;
  // The entries of a folder, in any order. Fails with "cannot read the
  // folder: reason".
  virtual Status list(const std::filesystem::path& folder, std::vector<WalkEntry>* entries) = 0;
};

// The FolderWalker of the real file system (std::filesystem).
class FileSystemWalker final : public FolderWalker {
 public:
  Kind kindOf(const std::filesystem::path& path, std::string* reason) override;
  Status list(const std::filesystem::path& folder, std::vector<WalkEntry>* entries) override;
};

// One cache file of the list, kept small so that a list of a hundred
// thousand files costs a few megabytes: its folder's number and its own
// name, or (for a file named on the command line) the number of that name.
// The rest is derived when it is converted.
struct Item {
  static constexpr uint32_t kFound = UINT32_MAX;
  uint32_t folder = 0;
  uint32_t named = kFound;
  platform::NativeFileName name;  // the file's own name, when found in a folder
};

// The folders the files were found in and the names given on the command
// line, which the items refer to. Each folder is found below a folder
// named on the command line, its root.
struct Places {
  std::vector<std::filesystem::path> folders;
  std::vector<uint32_t> rootOf;  // of each folder, in roots
  std::vector<std::filesystem::path> roots;
  std::vector<std::string> named;
  std::optional<std::filesystem::path> outputRoot;  // -d: where the documents go instead

  // Opens the folder of a file found in one, from its root and following
  // no link below it, so that a folder replaced by a link since it was
  // listed leads nowhere (platform/folder.h).
  Status openFolder(const Item& item, platform::Folder* folder) const;

  // Opens the folder below outputRoot that the item's document goes in,
  // making the folders that are not there, each with the mode of the one
  // it mirrors, and following no link below outputRoot.
  Status openOutputFolder(const Item& item, platform::Folder* folder) const;

  std::filesystem::path input(const Item& item) const;

  // The item's document: beside its input, or in its place below
  // outputRoot, named by documentNameFor.
  std::filesystem::path output(const Item& item) const;

 private:
  // The folders between the item's root and its own folder; none for a
  // file named on the command line.
  std::vector<platform::NativeFileName> below(const Item& item) const;
};

// The sentinel of BatchPlan's item numbers: no item.
inline constexpr uint32_t kNone = UINT32_MAX;

struct BatchPlan {
  std::vector<Item> items;  // in the order of the list
  Places places;
  std::vector<Problem> problems;  // met making the list, in order
  // For each item whose document would be that of an item before it, that
  // item's number, kNone for the others; empty when no two share one.
  std::vector<uint32_t> sameAs;
  // For each item whose document would replace a cache file of the list,
  // that file's item number, kNone for the others; empty when none would.
  std::vector<uint32_t> replaces;

  const Item* sharesWith(size_t i) const {
    return sameAs.empty() || sameAs[i] == kNone ? nullptr : &items[sameAs[i]];
  }
  const Item* replacesCache(size_t i) const {
    return replaces.empty() || replaces[i] == kNone ? nullptr : &items[replaces[i]];
  }
};

// Lists the paths of options in order: a file named (followed as named)
// that holds "ashx" in its own name, and in each folder named the regular
// files whose own names hold "ashx", recursively in name order, links to
// folders not followed. A missing path or a named file without "ashx" is a
// usage problem; a folder that cannot be read an I/O problem, and the rest
// is listed. Then finds the shared documents and the documents that would
// replace a listed cache file (neither with check).
BatchPlan makePlan(const BatchOptions& options, FolderWalker* walker);

// The conversion of a cache file of the list: the document beside it, or
// in its place below the output folder, the first "ashx" of its own name
// becoming "xml", the id read from the name's part before its first ".".
Conversion conversionFor(const Item& item, const Places& places);


}  // namespace ordil

#endif  // ORDIL_DRIVER_BATCH_PLAN_H_
