#include "monitor/ini_file.h"

#include <utility>
#include <vector>

#include "platform/files.h"

namespace ravdel {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back()))
    s.remove_suffix(1);
  return s;
}

char lowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

struct Line {
  std::size_t begin;         // offset of the line in the text
  std::size_t end;           // offset after its '\n', or the text's end
  std::string_view content;  // without the '\n'; a CR before it is still here
};

std::vector<Line> splitLines(std::string_view text) {
  std::vector<Line> lines;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t newline = text.find('\n', pos);
    const std::size_t contentEnd = newline == std::string_view::npos ? text.size() : newline;
    const std::size_t end = newline == std::string_view::npos ? text.size() : newline + 1;
    lines.push_back({pos, end, text.substr(pos, contentEnd - pos)});
    pos = end;
  }
  return lines;
}

enum class LineKind { other, blank, section, key };

struct ParsedLine {
  LineKind kind = LineKind::other;
  std::string_view name;
  std::string_view value;
};

ParsedLine parseLine(std::string_view content, bool firstLine) {
  // A NUL marks binary garbage: such a line is never a header or a key.
  if (content.find('\0') != std::string_view::npos) return {};
  if (firstLine && content.starts_with(kUtf8Bom)) content.remove_prefix(kUtf8Bom.size());
  const std::string_view text = trim(content);
  if (text.empty()) return {LineKind::blank, {}, {}};
  if (text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) return {};
    return {LineKind::section, trim(text.substr(1, close - 1)), {}};
  }
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) return {};
  const std::string_view name = trim(text.substr(0, equals));
  if (name.empty()) return {};
  return {LineKind::key, name, trim(text.substr(equals + 1))};
}

std::string_view unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

std::string_view lineBreakOf(std::string_view text) {
  const std::size_t newline = text.find('\n');
  return newline != std::string_view::npos && newline > 0 && text[newline - 1] == '\r' ? "\r\n"
                                                                                       : "\n";
}

bool storable(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

}  // namespace

std::optional<std::string> findIniValue(std::string_view text, std::string_view section,
                                        std::string_view key) {
  bool inSection = false;
  bool first = true;
  for (const Line& line : splitLines(text)) {
    const ParsedLine parsed = parseLine(line.content, first);
    first = false;
    if (parsed.kind == LineKind::section) {
      if (inSection) break;  // only the first section of that name counts
      inSection = sameName(parsed.name, section);
    } else if (inSection && parsed.kind == LineKind::key && sameName(parsed.name, key)) {
      return std::string(unquote(parsed.value));
    }
  }
  return std::nullopt;
}

std::string withIniValue(std::string_view text, std::string_view section, std::string_view key,
                         std::string_view value) {
  const std::vector<Line> lines = splitLines(text);
  const std::string_view lineBreak = lineBreakOf(text);

  bool inSection = false;
  const Line* lastInSection = nullptr;  // the header or the section's last non-blank line
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    const ParsedLine parsed = parseLine(line.content, i == 0);
    if (parsed.kind == LineKind::section) {
      if (inSection) break;
      inSection = sameName(parsed.name, section);
      if (inSection) lastInSection = &line;
      continue;
    }
    if (!inSection) continue;
    if (parsed.kind == LineKind::key && sameName(parsed.name, key)) {
      // The name keeps its spelling from the file; the line keeps its CR, if any, and its '\n'.
      std::string result(text.substr(0, line.begin));
      result.append(parsed.name).append("=").append(value);
      if (line.content.ends_with('\r')) result += '\r';
      result.append(text.substr(line.begin + line.content.size()));
      return result;
    }
    if (parsed.kind != LineKind::blank) lastInSection = &line;
  }

  std::string result;
  std::string_view rest;
  if (lastInSection != nullptr) {
    result.assign(text.substr(0, lastInSection->end));
    rest = text.substr(lastInSection->end);
  } else {
    result.assign(text);
  }
  if (!result.empty() && result.back() != '\n') result.append(lineBreak);
  if (lastInSection == nullptr) result.append("[").append(section).append("]").append(lineBreak);
  result.append(key).append("=").append(value).append(lineBreak);
  result.append(rest);
  return result;
}

std::size_t iniLinesNotSettings(std::string_view text) {
  std::size_t count = 0;
  bool inSection = false;
  bool first = true;
  for (const Line& line : splitLines(text)) {
    const ParsedLine parsed = parseLine(line.content, first);
    first = false;
    const std::string_view content = trim(line.content);
    const bool comment = content.starts_with(';') || content.starts_with('#');
    if (parsed.kind == LineKind::section) inSection = true;
    if (parsed.kind == LineKind::other ? !comment : parsed.kind == LineKind::key && !inSection)
      ++count;
  }
  return count;
}

bool storableIniEntry(std::string_view section, std::string_view key, std::string_view value) {
  if (!storable(section) || !storable(key) || !storable(value)) return false;
  if (trim(section).empty() || section.find(']') != std::string_view::npos) return false;
  return !trim(key).empty() && key.find('=') == std::string_view::npos && trim(key).front() != '[';
}

std::string readIniValueDirect(const std::string& path, std::string_view section,
                               std::string_view key, std::string_view defaultValue,
                               std::size_t bufferSize) {
  std::string bytes;
  std::optional<std::string> found;
  if (readWholeFile(path, bytes) == FileRead::ok) found = findIniValue(bytes, section, key);
  std::string result = found ? std::move(*found) : std::string(defaultValue);
  if (result.size() >= bufferSize) result.resize(bufferSize > 0 ? bufferSize - 1 : 0);
  return result;
}

bool writeIniValueDirect(const std::string& path, std::string_view section, std::string_view key,
                         std::string_view value) {
  // A line break in a value would write a line of its own: refuse rather than corrupt the file.
  if (!storableIniEntry(section, key, value)) return false;
  std::string bytes;
  if (readWholeFile(path, bytes) == FileRead::failed) return false;
  return replaceFileContents(path, withIniValue(bytes, section, key, value));
}

}  // namespace ravdel
