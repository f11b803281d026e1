#include "driver/batch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <ostream>
#include <system_error>
#include <thread>

#include "driver/conversion.h"
#include "platform/console.h"
#include "platform/interrupt.h"
#include "xml/comment_xml_writer.h"

namespace ordil {

namespace {

namespace fs = std::filesystem;

static_assert(kMaxJobs <= platform::kMaxPendingFiles, "every job's document must be removable");

// One cache file to convert.
struct Item {
  fs::path input;
  fs::path output;
  std::string inputPath;   // as messages name them
  std::string outputPath;
  int32_t id = 0;
};

platform::NativeFileName nativeName(const fs::path& path) {
  const auto& native = path.native();
  return platform::NativeFileName(native.begin(), native.end());
}

fs::path pathOf(const platform::NativeFileName& name) {
  return fs::path(fs::path::string_type(name.begin(), name.end()));
}

std::string display(const fs::path& path) { return platform::displayFileName(nativeName(path)); }

// The item for a cache file, or none when its own name holds no "ashx".
std::optional<Item> itemFor(const fs::path& input) {
  platform::NativeFileName name = nativeName(input.filename());
  if (!replaceFirstAshx(&name)) return std::nullopt;
  Item item;
  item.input = input;
  item.output = input.parent_path() / pathOf(name);
  item.inputPath = display(input);
  item.outputPath = display(item.output);
  const std::string ownName = display(input.filename());
  item.id = parseVideoId(std::string_view(ownName).substr(0, ownName.find('.')));
  return item;
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
      addFolder(path);
      return;
    }
    std::optional<Item> item = itemFor(path);
    if (!item) {
      problem(narrowPath, Status::usage("no \"ashx\" in the file's name; not converted"));
      return;
    }
    item->inputPath = narrowPath;
    items.push_back(std::move(*item));
  }

  std::vector<Item> items;
  std::vector<Problem> problems;

 private:
  void problem(std::string path, Status status) {
    problems.push_back({std::move(path), std::move(status)});
  }

  // The regular files inside whose own names hold "ashx", in name order,
  // folders included as they come; links to folders are not followed.
  void addFolder(const fs::path& folder) {
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
    for (const fs::directory_entry& entry : entries) {
      std::error_code ignored;
      if (entry.is_symlink(ignored)) {
        if (entry.is_directory(ignored)) continue;  // not followed
      } else if (entry.is_directory(ignored)) {
        addFolder(entry.path());
        continue;
      }
      if (!entry.is_regular_file(ignored)) continue;
      if (std::optional<Item> item = itemFor(entry.path())) items.push_back(std::move(*item));
    }
  }
};

// Whether the document is there and not older than its cache file, as
// make decides.
bool upToDate(const Item& item) {
  std::error_code error;
  const auto document = fs::last_write_time(item.output, error);
  if (error) return false;
  const auto cache = fs::last_write_time(item.input, error);
  return !error && document >= cache;
}

// What became of one file.
struct Result {
  Outcome outcome;
  bool skipped = false;  // up to date (--update)
};

// Prints the results in the order of the list as they become ready, and the
// progress line, from whichever job finishes a file; all under one lock, so
// that lines are whole and never interleaved.
class Reporter {
 public:
  Reporter(const std::vector<Item>& items, const BatchOptions& options,
           const RunContext& context)
      : items_(items),
        results_(items.size()),
        options_(options),
        context_(context),
        progress_(platform::standardErrorIsTerminal()) {}

  void finished(size_t index, Result result) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!result.outcome.complete()) ++incomplete_;
    results_[index] = std::move(result);
    ++done_;
    while (printed_ < results_.size() && results_[printed_]) {
      print(items_[printed_], *results_[printed_]);
      results_[printed_].reset();
      ++printed_;
    }
    drawProgress(false);
  }

  // Erases the progress line at the end.
  void end() {
    std::lock_guard<std::mutex> lock(mutex_);
    eraseProgress();
  }

  int status() const { return incomplete_ > 0 ? kExitIncomplete : kExitOk; }
  bool undecodable() const { return undecodable_; }

 private:
  void print(const Item& item, const Result& result) {
    const Outcome& outcome = result.outcome;
    if (outcome.undecodable) undecodable_ = true;
    std::string err;
    for (const Problem& p : outcome.problems) {
      err += "ordil: " + p.path + ": " + p.status.message() + "\n";
    }
    if (!err.empty()) {
      eraseProgress();
      *context_.err << err << std::flush;
    }
    if (options_.verbose) {
      std::string line = item.inputPath + ": ";
      if (result.skipped) {
        line += "up to date";
      } else {
        if (!outcome.complete()) line += "incomplete, ";
        line += std::to_string(outcome.comments) + " comments";
      }
      *context_.out << line << '\n';
    }
  }

  void drawProgress(bool force) {
    if (!progress_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && shown_ && now - lastDrawn_ < std::chrono::milliseconds(100)) return;
    lastDrawn_ = now;
    std::string line = "ordil: " + std::to_string(done_) + " of " +
                       std::to_string(results_.size()) + " files, " +
                       std::to_string(incomplete_) + " incomplete";
    std::string text = "\r" + line;
    if (line.size() < shownLength_) text.append(shownLength_ - line.size(), ' ');
    *context_.err << text << std::flush;
    shown_ = true;
    shownLength_ = line.size();
  }

  void eraseProgress() {
    if (!shown_) return;
    *context_.err << '\r' << std::string(shownLength_, ' ') << '\r' << std::flush;
    shown_ = false;
    shownLength_ = 0;
  }

  const std::vector<Item>& items_;
  std::vector<std::optional<Result>> results_;
  const BatchOptions& options_;
  const RunContext& context_;
  const bool progress_;
  std::mutex mutex_;
  size_t done_ = 0, printed_ = 0, incomplete_ = 0;
  bool undecodable_ = false;
  bool shown_ = false;
  size_t shownLength_ = 0;
  std::chrono::steady_clock::time_point lastDrawn_;
};

}  // namespace

int runBatch(const BatchOptions& options, const RunContext& context) {
  // The whole list is made before the first conversion, so that documents
  // written during the run are never taken for inputs.
  Lister lister;
  for (const std::string& path : options.paths) lister.addPath(path);
  int status = kExitOk;
  for (const Problem& p : lister.problems) {
    *context.err << "ordil: " + p.path + ": " + p.status.message() + "\n";
    status = std::max(status, p.status.kind() == Status::Kind::kUsage ? kExitUsage
                                                                      : kExitIncomplete);
  }
  const std::vector<Item>& items = lister.items;

  Reporter reporter(items, options, context);
  std::atomic<size_t> next{0};
  const auto work = [&] {
    Converter converter;
    for (size_t i; (i = next.fetch_add(1)) < items.size();) {
      const Item& item = items[i];
      Result result;
      if (options.update && upToDate(item)) {
        result.skipped = true;
      } else {
        Conversion conversion;
        conversion.inputPath = item.inputPath;
        conversion.inputName = nativeName(item.input);
        conversion.output.name = nativeName(item.output);
        conversion.outputPath = item.outputPath;
        conversion.id = item.id;
        result.outcome = converter.convert(conversion);
      }
      reporter.finished(i, std::move(result));
    }
  };
  unsigned jobs = options.jobs != 0 ? options.jobs : platform::processorCount();
  jobs = static_cast<unsigned>(std::min<size_t>({jobs, kMaxJobs, std::max<size_t>(items.size(), 1)}));
  std::vector<std::thread> threads;
  for (unsigned j = 1; j < jobs; ++j) threads.emplace_back(work);
  work();  // this thread is a job too
  for (std::thread& t : threads) t.join();
  reporter.end();

  if (reporter.undecodable()) context.presentFailureMessage(kFailureCaption, kFailureMessage);
  context.out->flush();
  return std::max(status, reporter.status());
}

}  // namespace ordil
