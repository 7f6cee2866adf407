#include "platform/files.h"

#include <atomic>
#include <charconv>
#include <system_error>

#include "platform/files_system.h"
#include "platform/process.h"

namespace ravdel {
namespace {

constexpr std::string_view kTemporarySuffix = ".tmp";

// The process that made a temporary file named ".NAME.PID-N.tmp"; none for any other name.
std::optional<std::int64_t> temporaryFileOwner(std::string_view name) {
  if (!name.starts_with('.') || !name.ends_with(kTemporarySuffix)) return std::nullopt;
  name.remove_suffix(kTemporarySuffix.size());
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot < 2) return std::nullopt;  // NAME is not empty
  const std::string_view tag = name.substr(dot + 1);
  const std::size_t dash = tag.find('-');
  if (dash == std::string_view::npos || dash == 0 || tag[0] == '0') return std::nullopt;
  std::int64_t pid = 0;
  std::uint64_t counter = 0;
  const char* pidEnd = tag.data() + dash;
  const char* end = tag.data() + tag.size();
  const auto pidRead = std::from_chars(tag.data(), pidEnd, pid);
  const auto counterRead = std::from_chars(pidEnd + 1, end, counter);
  if (pidRead.ec != std::errc() || pidRead.ptr != pidEnd || counterRead.ec != std::errc() ||
      counterRead.ptr != end) {
    return std::nullopt;
  }
  return pid;
}

}  // namespace

std::string temporaryFileName(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  const std::filesystem::path path = pathFromUtf8(target);
  const std::string name = "." + utf8FromPath(path.filename()) + "." +
                           std::to_string(currentProcessId()) + "-" + std::to_string(counter++) +
                           std::string(kTemporarySuffix);
  return utf8FromPath(path.parent_path() / pathFromUtf8(name));
}

StagedFile::~StagedFile() {
  // Closed first: an open file cannot be removed on Windows.
  if (stream_ != nullptr) std::fclose(stream_);
  if (!placed_ && !temp_.empty()) removeFile(temp_);
}

bool ReplacingFile::commit() {
  if (!finishWriting()) return false;
  int error = 0;
  if (moveFile(temp_, target_, true, error) != Moved::done) fail(Stage::commit, error);
  placed_ = ok();
  return placed_;
}

NewFile::NewFile(const std::string& firstName) : StagedFile(firstName) {
  createTemporary(std::nullopt);
}

NewFile::Placed NewFile::commitAs(const std::string& path) {
  if (placed_ || !finishWriting()) return Placed::failed;
  int error = 0;
  switch (moveFile(temp_, path, false, error)) {
    case Moved::done:
      placed_ = true;
      return Placed::done;
    case Moved::taken:
      return Placed::taken;
    case Moved::failed:
      break;
  }
  fail(Stage::commit, error);
  return Placed::failed;
}

std::optional<std::string> unwritableFolderReason(const std::string& folder) {
  // Never given its name: only its temporary file is made, and it goes with the object.
  const NewFile probe(utf8FromPath(pathFromUtf8(folder) / ".ravdel-write-check"));
  if (probe.ok()) return std::nullopt;
  return probe.error();
}

std::size_t removeLeftoverTemporaryFiles(const std::string& folder) {
  std::size_t removed = 0;
  std::error_code error;
  std::filesystem::directory_iterator it(pathFromUtf8(folder), error);
  for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    const std::optional<std::int64_t> owner =
        temporaryFileOwner(utf8FromPath(it->path().filename()));
    std::error_code typeError;
    if (!owner || !it->is_regular_file(typeError) || processRunning(*owner)) continue;
    if (removeFile(utf8FromPath(it->path()))) ++removed;
  }
  return removed;
}

// Through ReplacingFile, whose files_<system>.cpp knows how the system replaces a file.
bool replaceFileContents(const std::string& path, std::string_view bytes) {
  ReplacingFile file(path);
  if (!file.ok()) return false;
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.stream()) != bytes.size())
    return false;
  return file.commit();
}

}  // namespace ravdel
