#include "driver/batch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <system_error>
#include <unordered_map>

#include "driver/conversion.h"
#include "text/quote.h"
#include "platform/console.h"
#include "platform/folder.h"
#include "platform/interrupt.h"
#include "platform/thread.h"

namespace ordil {

namespace {

namespace fs = std::filesystem;

static_assert(kMaxJobs <= platform::kMaxPendingFiles, "every job's document must be removable");

platform::NativeFileName nativeName(const fs::path& path) {
  const auto& native = path.native();
  return platform::NativeFileName(native.begin(), native.end());
}

fs::path pathOf(const platform::NativeFileName& name) {
  return fs::path(fs::path::string_type(name.begin(), name.end()));
}

std::string display(const fs::path& path) { return platform::displayFileName(nativeName(path)); }

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
  std::vector<fs::path> folders;
  std::vector<uint32_t> rootOf;  // of each folder, in roots
  std::vector<fs::path> roots;
  std::vector<std::string> named;
  std::optional<fs::path> outputRoot;  // -d: where the documents go instead

  // Opens the folder of a file found in one, from its root and following
  // no link below it, so that a folder replaced by a link since it was
  // listed leads nowhere (platform/folder.h).
  Status openFolder(const Item& item, platform::Folder* folder) const {
    return folder->open(nativeName(roots[rootOf[item.folder]]), below(item));
  }

  // Opens the folder below outputRoot that the item's document goes in,
  // making the folders that are not there, and following no link below
  // outputRoot.
  Status openOutputFolder(const Item& item, platform::Folder* folder) const {
    std::error_code error;
    fs::create_directories(*outputRoot, error);
    if (error) {
      return Status::io("cannot make the folder " + quotedName(display(*outputRoot)) + ": " +
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

  fs::path input(const Item& item) const {
    return item.named == Item::kFound ? folders[item.folder] / pathOf(item.name)
                                      : pathOf(platform::nativeFileName(named[item.named]));
  }

  // The item's document: beside its input, or in its place below
  // outputRoot; the first "ashx" of the input's own name becomes "xml".
  fs::path output(const Item& item) const {
    const fs::path in = input(item);
    const platform::NativeFileName name = documentNameFor(nativeName(in.filename()));
    if (!outputRoot) return in.parent_path() / pathOf(name);
    fs::path folder = *outputRoot;
    for (const platform::NativeFileName& part : below(item)) folder /= pathOf(part);
    return folder / pathOf(name);
  }

 private:
  // The folders between the item's root and its own folder; none for a
  // file named on the command line.
  std::vector<platform::NativeFileName> below(const Item& item) const {
    std::vector<platform::NativeFileName> parts;
    if (item.named != Item::kFound) return parts;
    for (const fs::path& part : folders[item.folder].lexically_relative(roots[rootOf[item.folder]])) {
      if (part != ".") parts.push_back(nativeName(part));
    }
    return parts;
  }
};

// Whether the file's own name holds "ashx".
bool isCacheName(const fs::path& input) {
  platform::NativeFileName name = nativeName(input.filename());
  return replaceFirstAshx(&name);
}

// The conversion of a cache file of the list: the document beside it, or
// in its place below the output folder, the first "ashx" of its own name
// becoming "xml", the id read from the name's part before its first ".".
Conversion conversionFor(const Item& item, const Places& places) {
  const fs::path input = places.input(item);
  const fs::path output = places.output(item);
  Conversion c;
  c.inputPath = item.named == Item::kFound ? display(input) : places.named[item.named];
  c.inputName = nativeName(input);
  // A link met in a folder may have been planted there by another user.
  if (item.named == Item::kFound) c.inputLinks = platform::InputFile::Links::kTrustedOnly;
  c.output.name = nativeName(output);
  c.output.placement = platform::Placement::kBatch;
  c.outputPath = display(output);
  const std::string ownName = display(input.filename());
  c.id = parseVideoId(std::string_view(ownName).substr(0, ownName.find('.')));
  return c;
}

// What the list of files is made from, and the problems met making it.
class Lister {
 public:
  void addPath(const std::string& narrowPath) {
    const fs::path path = pathOf(platform::nativeFileName(narrowPath));
    std::error_code error;
    const fs::file_status status = fs::status(path, error);  // a named link is followed
    if (!fs::exists(status)) {
      problem(narrowPath, Status::usage(error ? error.message() : "No such file or directory"));
      return;
    }
    if (fs::is_directory(status)) {
      places.roots.push_back(path);
      addFolder(path, static_cast<uint32_t>(places.roots.size() - 1));
      return;
    }
    if (!isCacheName(path)) {
      problem(narrowPath, Status::usage("no \"ashx\" in the file's name; not converted"));
      return;
    }
    Item item;
    item.named = static_cast<uint32_t>(places.named.size());
    places.named.push_back(narrowPath);
    items.push_back(std::move(item));
  }

  std::vector<Item> items;
  Places places;
  std::vector<Problem> problems;

 private:
  void problem(std::string path, Status status) {
    problems.push_back({std::move(path), std::move(status)});
  }

  // The regular files inside whose own names hold "ashx", in name order,
  // folders included as they come; links to folders are not followed. A
  // folder whose listing runs out of memory is reported, and the rest
  // listed.
  void addFolder(const fs::path& folder, uint32_t root) {
    try {
      addFolderEntries(folder, root);
    } catch (const std::bad_alloc&) {
      problem(display(folder), Status::noMemory());
    }
  }

  void addFolderEntries(const fs::path& folder, uint32_t root) {
    std::vector<fs::directory_entry> entries;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
      entries.push_back(*it);
    }
    if (error) {
      problem(display(folder), Status::io("cannot read the folder: " + error.message()));
      return;
    }
    std::sort(entries.begin(), entries.end(),
              [](const fs::directory_entry& a, const fs::directory_entry& b) {
                return a.path().filename().native() < b.path().filename().native();
              });
    uint32_t number = Item::kFound;  // this folder's, once a file is found in it
    for (const fs::directory_entry& entry : entries) {
      std::error_code ignored;
      if (entry.is_symlink(ignored)) {
        if (entry.is_directory(ignored)) continue;  // not followed
      } else if (entry.is_directory(ignored)) {
        addFolder(entry.path(), root);
        continue;
      }
      if (entry.is_regular_file(ignored) && isCacheName(entry.path())) {
        if (number == Item::kFound) {
          number = static_cast<uint32_t>(places.folders.size());
          places.folders.push_back(folder);
          places.rootOf.push_back(root);
        }
        Item item;
        item.folder = number;
        item.name = nativeName(entry.path().filename());
        items.push_back(std::move(item));
      }
    }
  }
};

// Whether the document is there and not older than its cache file, as
// make decides. Only a regular file in the document's own place counts,
// looked at in the folder the conversion would write it in: a link or a
// FIFO planted there, whatever its time, is converted (and refused there).
bool upToDate(const Conversion& c) {
  const auto document = platform::modifiedTime(c.output.name, false, c.output.folder);
  const auto cache = platform::modifiedTime(*c.inputName, true, c.folder);
  return document && cache && *document >= *cache;
}

// What became of one file.
struct Result {
  std::string inputPath;  // as messages name it
  Outcome outcome;
  bool skipped = false;  // up to date (--update)
};

// Prints the results in the order of the list as they become ready, and the
// progress line, from whichever job finishes a file; all under one lock, so
// that lines are whole and never interleaved.
class Reporter {
 public:
  Reporter(size_t files, const BatchOptions& options, const RunContext& context)
      : files_(files),
        options_(options),
        context_(context),
        progress_(platform::standardErrorIsTerminal()) {}

  void finished(size_t index, Result result) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!result.outcome.complete()) ++incomplete_;
    ++done_;
    if (index == printed_) {
      print(result);
      ++printed_;
    } else {
      try {
        waiting_.emplace(index, std::move(result));
      } catch (const std::bad_alloc&) {
        // No room to keep it for its turn: printed now, out of order,
        // rather than lost.
        print(result);
      }
    }
    // Only the results that finished before one listed ahead of them wait.
    for (auto next = waiting_.begin(); next != waiting_.end() && next->first == printed_;
         next = waiting_.erase(next)) {
      print(next->second);
      ++printed_;
    }
    drawProgress(false);
  }

  // Erases the progress line at the end.
  void end() {
    std::lock_guard<std::mutex> lock(mutex_);
    eraseProgress();
  }

  bool anyIncomplete() const { return incomplete_ > 0; }
  bool undecodable() const { return undecodable_; }

 private:
  // Streams the lines piece by piece, so that printing needs no memory.
  void print(const Result& result) {
    const Outcome& outcome = result.outcome;
    if (outcome.undecodable) undecodable_ = true;
    if (!outcome.complete()) {
      eraseProgress();
      for (const Problem& p : outcome.problems) printProblem(*context_.err, p.path, p.status.message());
      if (outcome.problems.empty()) printProblem(*context_.err, result.inputPath, "not enough memory");
      context_.err->flush();
    }
    if (options_.verbose) {
      if (isPrintableName(result.inputPath)) {
        *context_.out << result.inputPath << ": ";
      } else {
        *context_.out << quotedName(result.inputPath) << ": ";
      }
      if (result.skipped) {
        *context_.out << "up to date";
      } else {
        if (!outcome.complete()) *context_.out << "incomplete, ";
        *context_.out << outcome.comments << " comments";
      }
      *context_.out << '\n';
    }
  }

  // Draws at most ten times a second; a line that cannot be made (no
  // memory) is not drawn.
  void drawProgress(bool force) noexcept {
    if (!progress_) return;
    try {
      drawProgressLine(force);
    } catch (const std::bad_alloc&) {
    }
  }

  void drawProgressLine(bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (!force && shown_ && now - lastDrawn_ < std::chrono::milliseconds(100)) return;
    lastDrawn_ = now;
    std::string line = "ordil: " + std::to_string(done_) + " of " +
                       std::to_string(files_) + " files, " +
                       std::to_string(incomplete_) + " incomplete";
    std::string text = "\r" + line;
    if (line.size() < shownLength_) text.append(shownLength_ - line.size(), ' ');
    *context_.err << text << std::flush;
    shown_ = true;
    shownLength_ = line.size();
  }

  // Needs no memory, as print() does.
  void eraseProgress() {
    if (!shown_) return;
    *context_.err << '\r';
    for (size_t i = 0; i < shownLength_; ++i) context_.err->put(' ');
    *context_.err << '\r' << std::flush;
    shown_ = false;
    shownLength_ = 0;
  }

  const size_t files_;
  const BatchOptions& options_;
  const RunContext& context_;  // its streams: written under mutex_
  const bool progress_;
  // Every job reports through finished(); the fields below are guarded by
  // mutex_, and read without it only once the jobs have ended.
  std::mutex mutex_;
  std::map<size_t, Result> waiting_;  // finished, not printed yet
  size_t done_ = 0, printed_ = 0, incomplete_ = 0;
  bool undecodable_ = false;
  bool shown_ = false;
  size_t shownLength_ = 0;
  std::chrono::steady_clock::time_point lastDrawn_;
};

// For each item whose document would be that of an item before it in the
// list, that item's number, kNone for the others; empty when no two items
// share a document.
constexpr uint32_t kNone = UINT32_MAX;
std::vector<uint32_t> sharedDocuments(const std::vector<Item>& items, const Places& places) {
  std::unordered_map<platform::NativeFileName, uint32_t> first;
  std::vector<uint32_t> sameAs;
  for (uint32_t i = 0; i < items.size(); ++i) {
    const auto [at, isFirst] = first.emplace(
        platform::comparableFileName(nativeName(places.output(items[i]).lexically_normal())), i);
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
    platform::NativeFileName own = nativeName(places.output(items[i]).filename());
    if (!replaceFirstAshx(&own)) continue;
    if (inputs.empty()) {
      for (uint32_t j = 0; j < items.size(); ++j) {
        inputs.emplace(platform::comparableFileName(nativeName(places.input(items[j]).lexically_normal())), j);
      }
    }
    const auto at = inputs.find(
        platform::comparableFileName(nativeName(places.output(items[i]).lexically_normal())));
    if (at == inputs.end()) continue;
    if (replaces.empty()) replaces.assign(items.size(), kNone);
    replaces[i] = at->second;
  }
  return replaces;
}

// A file's document written whole to its hidden file, not yet in place,
// with the folder it is made in, which stays open until then.
struct Finished {
  std::unique_ptr<Destination> document;
  std::unique_ptr<platform::Folder> folder;
  std::string outputPath;  // as messages name it
};

// A group is made durable when it holds this many documents, or this many
// bytes of them, whichever comes first (fewer documents where the open
// files allowed are few: each keeps its folder open).
constexpr size_t kGroupDocuments = 256;
constexpr uint64_t kGroupBytes = uint64_t{64} << 20;

// Every job's file may be pending beside a group being put in place and the
// next one, filling.
static_assert(2 * kGroupDocuments + kMaxJobs <= platform::kMaxPendingFiles,
              "every hidden file must be removable when the run is interrupted");

// The documents written to their hidden files and not yet in place, made
// durable a group at a time, as Git's batch mode and dpkg do: one flush for
// the group (OutputFile::makeDurable), then each hidden file renamed over
// its document, and only then is the file counted and reported. A power
// loss leaves each name with its old document or the whole new one: a name
// changes only once the bytes behind it are on the device. A group holds
// names and closed files, not documents; the hidden files pending are those
// of the group being put in place, of the next one, filling, and those the
// jobs are writing. Any job adds; the job that fills a group makes it
// durable and puts it in place while the others go on converting and fill
// the next one (a job that would overfill it waits), so that a slow flush
// holds up one job, not all of them.
class DurableGroups {
 public:
  // documents: how many a group holds at most (1 to kGroupDocuments).
  DurableGroups(Reporter* reporter, size_t documents)
      : reporter_(reporter), documents_(documents) {
    filling_.reserve(kGroupDocuments);
    flushing_.reserve(kGroupDocuments);
    files_.reserve(kGroupDocuments);
    flushed_.reserve(kGroupDocuments);
  }

  // Takes a file's finished document; when the group is full, makes it
  // durable and puts it in place on this thread, once the group before is
  // in place. Needs no memory.
  void add(size_t index, Result result, Finished finished) {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return filling_.size() < documents_; });
    bytes_ += finished.document->bytesWritten();
    filling_.push_back({index, std::move(result), std::move(finished)});
    if (!full()) return;
    done_.wait(lock, [this] { return !busy_; });
    // Another job that found the group full while this one waited may have
    // put it in place already.
    if (full()) putInPlaceLocked(&lock);
  }

  // Puts the rest in place: at the end of the batch, once every job has
  // ended.
  void finish() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return !busy_; });
    if (!filling_.empty()) putInPlaceLocked(&lock);
  }

 private:
  struct Entry {
    size_t index;
    Result result;
    Finished finished;
  };

  // Whether the filling group is due to be made durable; mutex_ held.
  bool full() const { return filling_.size() >= documents_ || bytes_ >= kGroupBytes; }

  // Takes the group for this thread, makes it durable and puts each
  // document in place outside the lock, then reports each file.
  void putInPlaceLocked(std::unique_lock<std::mutex>* lock) {
    std::swap(filling_, flushing_);  // each keeps its room
    bytes_ = 0;
    busy_ = true;
    done_.notify_all();  // the next group may fill
    lock->unlock();
    files_.clear();
    for (Entry& e : flushing_) files_.push_back(e.finished.document->file());
    bool flushed = true;
    try {
      platform::OutputFile::makeDurable(files_, &flushed_);
    } catch (...) {
      flushed = false;  // no memory for a failure's message: none is put in place
    }
    for (size_t i = 0; i < flushing_.size(); ++i) {
      Entry& e = flushing_[i];
      const Status& placed = !flushed             ? noMemory_
                             : !flushed_[i].ok() ? flushed_[i]
                                                 : e.finished.document->commitFinished();
      if (!placed.ok()) {
        e.result.outcome.comments = 0;
        if (&placed == &noMemory_) e.result.outcome.outOfMemory = true;
        try {
          e.result.outcome.problems.push_back({e.finished.outputPath, placed});
        } catch (...) {
          e.result.outcome.outOfMemory = true;
        }
      }
      e.finished = Finished();  // removes a hidden file not renamed, closes the folder
      reporter_->finished(e.index, std::move(e.result));
    }
    flushing_.clear();
    lock->lock();
    busy_ = false;
    done_.notify_all();
  }

  Reporter* const reporter_;
  const size_t documents_;
  const Status noMemory_ = Status::noMemory();
  std::mutex mutex_;
  std::condition_variable done_;  // busy_ became false, or filling_ was taken
  std::vector<Entry> filling_;    // guarded by mutex_
  uint64_t bytes_ = 0;            // of filling_'s documents; guarded by mutex_
  bool busy_ = false;             // a group is being put in place; guarded by mutex_
  // The thread that set busy_ alone uses these until it clears it.
  std::vector<Entry> flushing_;
  std::vector<platform::OutputFile*> files_;
  std::vector<Status> flushed_;
};

// Converts one file of the list, or finds it up to date, or, when its
// document is that of an item before it (sharesWith), reports that. A
// document written whole is left in *finished, to be made durable with
// others and put in place; the result then counts it as in place. Throws
// nothing: what is thrown becomes the file's outcome.
Result convertItem(const Item& item, const Item* sharesWith, const Item* replacesCache,
                   const Places& places, const BatchOptions& options, Converter* converter,
                   Finished* finished) noexcept {
  Result result;
  try {
    Conversion conversion = conversionFor(item, places);
    result.inputPath = conversion.inputPath;
    if (sharesWith != nullptr) {
      const Conversion first = conversionFor(*sharesWith, places);
      result.outcome.problems.push_back(
          {result.inputPath, Status::io("same document as " + quotedName(first.inputPath) + " (" +
                                        quotedName(first.outputPath) + "); not converted")});
      return result;
    }
    if (replacesCache != nullptr && !options.check) {
      result.outcome.problems.push_back(
          {result.inputPath,
           Status::io("not converted: its document would replace the cache file " +
                      quotedName(conversionFor(*replacesCache, places).inputPath))});
      return result;
    }
    const auto notConverted = [&](const Status& why) {
      result.outcome.problems.push_back({result.inputPath, why.withContext("not converted")});
      return result;
    };
    auto folder = std::make_unique<platform::Folder>();
    if (item.named == Item::kFound) {
      if (const Status opened = places.openFolder(item, folder.get()); !opened.ok()) {
        return notConverted(opened);
      }
      conversion.folder = folder.get();
      conversion.output.folder = folder.get();
    }
    std::unique_ptr<platform::Folder> outputFolder;
    if (options.check) {
      conversion.output.kind = OutputTarget::Kind::kNothing;
    } else if (places.outputRoot) {
      outputFolder = std::make_unique<platform::Folder>();
      if (const Status opened = places.openOutputFolder(item, outputFolder.get()); !opened.ok()) {
        return notConverted(opened);
      }
      conversion.output.folder = outputFolder.get();
    }
    if (options.update && !options.check && upToDate(conversion)) {
      result.skipped = true;
    } else {
      result.outcome = converter->convert(conversion, options.check ? nullptr : &finished->document);
      if (finished->document != nullptr) {
        finished->folder = outputFolder != nullptr ? std::move(outputFolder) : std::move(folder);
        finished->outputPath = std::move(conversion.outputPath);
      }
    }
  } catch (...) {
    const std::exception_ptr thrown = std::current_exception();
    if (result.inputPath.empty()) {
      try {
        result.inputPath = display(places.input(item));  // its name failed to be made
      } catch (...) {
      }
    }
    addFailure(thrown, result.inputPath, &result.outcome);
  }
  return result;
}

}  // namespace

int runBatch(const BatchOptions& options, const RunContext& context) {
  // The whole list is made before the first conversion, so that documents
  // written during the run are never taken for inputs.
  Lister lister;
  if (!options.outputDir.empty()) {
    // A link along it that another user planted would lead the documents
    // into a folder of the runner's.
    if (const Status links = platform::checkLinksAlong(platform::nativeFileName(options.outputDir));
        !links.ok()) {
      printProblem(*context.err, options.outputDir, links.message());
      return kExitIncomplete;
    }
    lister.places.outputRoot = pathOf(platform::nativeFileName(options.outputDir));
  }
  for (const std::string& path : options.paths) lister.addPath(path);
  ExitStatus status;
  for (const Problem& p : lister.problems) {
    printProblem(*context.err, p.path, p.status.message());
    status.add(p.status);
  }
  const std::vector<Item>& items = lister.items;
  const Places& places = lister.places;
  // Found before the first conversion, so that which file wins does not
  // depend on the jobs.
  const std::vector<uint32_t> sameAs =
      places.outputRoot && !options.check ? sharedDocuments(items, places) : std::vector<uint32_t>();
  const auto sharesWith = [&](size_t i) -> const Item* {
    return sameAs.empty() || sameAs[i] == kNone ? nullptr : &items[sameAs[i]];
  };
  const std::vector<uint32_t> replaces =
      options.check ? std::vector<uint32_t>() : cachesReplaced(items, places);
  const auto replacesCache = [&](size_t i) -> const Item* {
    return replaces.empty() || replaces[i] == kNone ? nullptr : &items[replaces[i]];
  };

  // Each document waiting to be put in place keeps its folder open: two
  // groups of them at most, beside a few files for each job and the
  // process's own.
  const size_t openFiles = platform::allowManyOpenFiles();
  Reporter reporter(items.size(), options, context);
  unsigned jobs = options.jobs != 0 ? options.jobs : platform::processorCount();
  jobs = static_cast<unsigned>(std::min<size_t>({jobs, kMaxJobs, std::max<size_t>(items.size(), 1)}));
  std::vector<platform::Thread> threads;
  // The files that ran out of memory while other jobs ran beside them: each
  // is converted again once the jobs have ended, alone, so that what
  // converts does not depend on the number of jobs. A bit for each file,
  // taken before the jobs start, so that putting one off takes no memory.
  // Guarded by deferredMutex.
  std::vector<bool> deferred(jobs > 1 ? items.size() : 0);
  std::mutex deferredMutex;
  std::atomic<size_t> next{0};
  const size_t spare = openFiles > 64 + 8 * size_t{jobs} ? openFiles - 64 - 8 * size_t{jobs} : 0;
  DurableGroups groups(&reporter, std::clamp<size_t>(spare / 2, 1, kGroupDocuments));
  // Converts a file and hands its result on: to the group when its
  // document waits to be put in place, to the reporter otherwise.
  const auto convertAndReport = [&](size_t i, Converter* converter, bool mayDefer) {
    Finished finished;
    Result result =
        convertItem(items[i], sharesWith(i), replacesCache(i), places, options, converter, &finished);
    // Out of memory or of open files beside other jobs: tried again alone.
    if ((result.outcome.outOfMemory || result.outcome.outOfFiles()) && mayDefer) {
      const std::lock_guard<std::mutex> lock(deferredMutex);
      deferred[i] = true;
    } else if (finished.document != nullptr) {
      groups.add(i, std::move(result), std::move(finished));
    } else {
      reporter.finished(i, std::move(result));
    }
  };
  const auto work = [&](Converter* converter) {
    for (size_t i; (i = next.fetch_add(1)) < items.size();) convertAndReport(i, converter, jobs > 1);
  };
  try {
    threads.reserve(jobs);
    for (unsigned j = 1; j < jobs; ++j) {
      threads.emplace_back([&work] {
        Converter converter;
        work(&converter);
      });
    }
  } catch (...) {
    // No more threads to be had: the jobs started share the list.
  }
  {
    Converter converter;
    work(&converter);  // this thread is a job too
  }
  for (platform::Thread& t : threads) t.join();
  // Every other job's memory is released now, and its files closed once
  // the documents waiting are in place; each file put off is converted on
  // one thread, with the least memory a conversion takes.
  groups.finish();
  for (size_t i = 0; i < deferred.size(); ++i) {
    if (!deferred[i]) continue;
    Converter alone(Converter::Threads::kOne);
    convertAndReport(i, &alone, false);
  }
  groups.finish();
  reporter.end();

  if (reporter.undecodable()) context.presentFailureMessage(kFailureCaption, kFailureMessage);
  if (reporter.anyIncomplete() || !outputWasWritten(context)) status.addIncomplete();
  return status.value();
}

}  // namespace ordil
