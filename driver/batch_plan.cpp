#include "driver/batch_plan.h"

#include <algorithm>
#include <new>
#include <system_error>
#include <unordered_map>

#include "text/quote.h"

namespace ordil {

namespace fs = std::filesystem;

FolderWalker::Kind FileSystemWalker::kindOf(const fs::path& path, std::string* reason) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);  // a named link is followed
  if (!fs::exists(status)) {
    *reason = error ? error.message() : "No such file or directory";
    return Kind::kMissing;
  }
  return fs::is_directory(status) ? Kind::kFolder : Kind::kOther;
}

Status FileSystemWalker::list(const fs::path& folder, std::vector<WalkEntry>* entries) {
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code ignored;
    WalkEntry entry;
    entry.name = nativeName(it->path().filename());
    entry.isLink = it->is_symlink(ignored);
    entry.isFolder = it->is_directory(ignored);
    entry.isRegularFile = it->is_regular_file(ignored);
    entries->push_back(std::move(entry));
  }
  if (error) return Status::io("cannot read the folder: " + error.message());
  return Status();
}

Status Places::openFolder(const Item& item, platform::Folder* folder) const {
  return folder->open(nativeName(roots[rootOf[item.folder]]), below(item));
}

Status Places::openOutputFolder(const Item& item, platform::Folder* folder) const {
  std::error_code error;
  fs::create_directories(*outputRoot, error);
  if (error) {
    return Status::io("cannot make the folder " + quotedName(displayPath(*outputRoot)) + ": " +
                      error.message());
  }
  const std::vector<platform::NativeFileName> parts = below(item);
  // A folder made takes the mode of the one it mirrors, as cp -r makes it.
  const auto modeOf = [&](size_t depth) {
    fs::path mirrored = roots[rootOf[item.folder]];
    for (size_t i = 0; i <= depth; ++i) mirrored /= pathOf(parts[i]);
    return platform::folderMode(nativeName(mirrored));
  };
  return folder->open(nativeName(*outputRoot), parts, true, modeOf);
}

fs::path Places::input(const Item& item) const {
  return item.named == Item::kFound ? folders[item.folder] / pathOf(item.name)
                                    : pathOf(platform::nativeFileName(named[item.named]));
}

fs::path Places::output(const Item& item) const {
  const fs::path in = input(item);
  const platform::NativeFileName name = documentNameFor(nativeName(in.filename()));
  if (!outputRoot) return in.parent_path() / pathOf(name);
  fs::path folder = *outputRoot;
  for (const platform::NativeFileName& part : below(item)) folder /= pathOf(part);
  return folder / pathOf(name);
}

std::vector<platform::NativeFileName> Places::below(const Item& item) const {
  std::vector<platform::NativeFileName> parts;
  if (item.named != Item::kFound) return parts;
  for (const fs::path& part : folders[item.folder].lexically_relative(roots[rootOf[item.folder]])) {
    if (part != ".") parts.push_back(nativeName(part));
  }
  return parts;
}

namespace {

// Whether the file's own name holds "ashx".
bool isCacheName(const platform::NativeFileName& ownName) { return holdsAshx(ownName); }

// Makes the list of files, and the problems met making it.
class Lister {
 public:
  Lister(FolderWalker* walker, BatchPlan* plan) : walker_(walker), plan_(plan) {}

  void addPath(const std::string& narrowPath) {
    const fs::path path = pathOf(platform::nativeFileName(narrowPath));
    std::string reason;
    const FolderWalker::Kind kind = walker_->kindOf(path, &reason);
    if (kind == FolderWalker::Kind::kMissing) {
      problem(narrowPath, Status::usage(reason));
      return;
    }
    Places& places = plan_->places;
    if (kind == FolderWalker::Kind::kFolder) {
      places.roots.push_back(path);
      addFolder(path, static_cast<uint32_t>(places.roots.size() - 1));
      return;
    }
    if (!isCacheName(nativeName(path.filename()))) {
      problem(narrowPath, Status::usage("no \"ashx\" in the file's name; not converted"));
      return;
    }
    Item item;
    item.named = static_cast<uint32_t>(places.named.size());
    places.named.push_back(narrowPath);
    plan_->items.push_back(std::move(item));
  }

 private:
  void problem(std::string path, Status status) {
    plan_->problems.push_back({std::move(path), std::move(status)});
  }

  // A folder whose listing runs out of memory is reported, and the rest
  // listed.
  void addFolder(const fs::path& folder, uint32_t root) {
    try {
      addFolderEntries(folder, root);
    } catch (const std::bad_alloc&) {
      problem(displayPath(folder), Status::noMemory());
    }
  }

  // The regular files inside whose own names hold "ashx", in name order,
  // folders included as they come; links to folders are not followed.
  void addFolderEntries(const fs::path& folder, uint32_t root) {
    std::vector<WalkEntry> entries;
    if (const Status listed = walker_->list(folder, &entries); !listed.ok()) {
      problem(displayPath(folder), listed);
      return;
    }
    std::sort(entries.begin(), entries.end(),
              [](const WalkEntry& a, const WalkEntry& b) { return a.name < b.name; });
    Places& places = plan_->places;
    uint32_t number = Item::kFound;  // this folder's, once a file is found in it
    for (WalkEntry& entry : entries) {
      if (entry.isFolder) {
        if (!entry.isLink) addFolder(folder / pathOf(entry.name), root);  // links not followed
        continue;
      }
      if (!entry.isRegularFile || !isCacheName(entry.name)) continue;
      if (number == Item::kFound) {
        number = static_cast<uint32_t>(places.folders.size());
        places.folders.push_back(folder);
        places.rootOf.push_back(root);
      }
      Item item;
      item.folder = number;
      item.name = std::move(entry.name);
      plan_->items.push_back(std::move(item));
    }
  }

  FolderWalker* const walker_;
  BatchPlan* const plan_;
};

// Two names of one file compare equal.
platform::NativeFileName comparable(const fs::path& path) {
  return platform::comparableFileName(nativeName(path.lexically_normal()));
}

// For each item whose document would be that of an item before it in the
// list, that item's number, kNone for the others; empty when no two items
// share a document.
std::vector<uint32_t> sharedDocuments(const std::vector<Item>& items, const Places& places) {
  std::unordered_map<platform::NativeFileName, uint32_t> first;
  std::vector<uint32_t> sameAs;
  for (uint32_t i = 0; i < items.size(); ++i) {
    const auto [at, isFirst] = first.emplace(
        comparable(places.output(items[i])), i);
    if (isFirst) continue;
    if (sameAs.empty()) sameAs.assign(items.size(), kNone);
    sameAs[i] = at->second;
  }
  return sameAs;
}

// For each item whose document would replace a cache file of the list, the
// number of that item, kNone for the others; empty when there is none. Only
// a document whose own name still holds "ashx" can be a listed cache file.
std::vector<uint32_t> cachesReplaced(const std::vector<Item>& items, const Places& places) {
  std::vector<uint32_t> replaces;
  std::unordered_map<platform::NativeFileName, uint32_t> inputs;
  for (uint32_t i = 0; i < items.size(); ++i) {
    if (!holdsAshx(nativeName(places.output(items[i]).filename()))) continue;
    if (inputs.empty()) {
      for (uint32_t j = 0; j < items.size(); ++j) {
        inputs.emplace(comparable(places.input(items[j])), j);
      }
    }
    const auto at = inputs.find(
        comparable(places.output(items[i])));
    if (at == inputs.end()) continue;
    if (replaces.empty()) replaces.assign(items.size(), kNone);
    replaces[i] = at->second;
  }
  return replaces;
}

}  // namespace

BatchPlan makePlan(const BatchOptions& options, FolderWalker* walker) {
  BatchPlan plan;
  if (!options.outputDir.empty()) {
    plan.places.outputRoot = pathOf(platform::nativeFileName(options.outputDir));
  }
  Lister lister(walker, &plan);
  for (const std::string& path : options.paths) lister.addPath(path);
  if (!options.check) {
    plan.sameAs = sharedDocuments(plan.items, plan.places);
    plan.replaces = cachesReplaced(plan.items, plan.places);
  }
  return plan;
}

// The conversion of a cache file of the list: the document beside it, or
// in its place below the output folder, the first "ashx" of its own name
// becoming "xml", the id read from the name's part before its first ".".
Conversion conversionFor(const Item& item, const Places& places) {
  const fs::path input = places.input(item);
  const fs::path output = places.output(item);
  Conversion c;
  c.inputPath = item.named == Item::kFound ? displayPath(input) : places.named[item.named];
  c.inputName = nativeName(input);
  // A link met in a folder may have been planted there by another user.
  if (item.named == Item::kFound) c.inputLinks = platform::InputFile::Links::kTrustedOnly;
  c.output.name = nativeName(output);
  c.output.placement = platform::Placement::kBatch;
  c.outputPath = displayPath(output);
  const std::string ownName = displayPath(input.filename());
  c.id = parseVideoId(std::string_view(ownName).substr(0, ownName.find('.')));
  return c;
}


}  // namespace ordil
