#include "app/ini_profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "core/win1252.h"

namespace vantera {
namespace {

constexpr std::string_view kBlanks = " \t\r\v\f";

std::string_view Trim(std::string_view s) {
  size_t begin = s.find_first_not_of(kBlanks);
  if (begin == std::string_view::npos)
    return {};
  size_t end = s.find_last_not_of(kBlanks);
  return s.substr(begin, end - begin + 1);
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Win1252Upper(static_cast<unsigned char>(a[i])) !=
        Win1252Upper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// One line of a profile text, classified.
struct ProfileLine {
  enum Kind { kOther, kSection, kSetting } kind = kOther;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // setting value, trimmed, quotes still on
};

ProfileLine ClassifyLine(std::string_view raw) {
  ProfileLine line;
  std::string_view text = Trim(raw);
  if (!text.empty() && text.front() == '[') {
    line.kind = ProfileLine::kSection;
    std::string_view inner = text.substr(1);
    line.name = Trim(inner.substr(0, inner.find(']')));
    return line;
  }
  size_t eq = text.find('=');
  if (eq != std::string_view::npos) {
    line.kind = ProfileLine::kSetting;
    line.name = Trim(text.substr(0, eq));
    line.value = Trim(text.substr(eq + 1));
  }
  return line;
}

// Splits a text into lines (LF or CR LF); keeps views into the text.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  if (text.substr(0, 3) == "\xEF\xBB\xBF")
    text.remove_prefix(3);
  while (!text.empty()) {
    size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    lines.push_back(line);
    if (nl == std::string_view::npos)
      break;
    text.remove_prefix(nl + 1);
  }
  return lines;
}

std::string CleanValue(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  value = value.substr(0, value.find('\0'));
  return std::string(value.substr(0, kProfileValueMax));
}

// True when the name can be written as a section or key name and read back as the same.
bool WritableName(std::string_view name, bool is_key) {
  if (name.empty() || Trim(name) != name)
    return false;
  for (char c : name) {
    if (c == '\n' || c == '\r' || c == '\0' || c == ']' || (is_key && c == '='))
      return false;
  }
  return !(is_key && name.front() == '[');
}

}  // namespace

std::optional<std::string> FindProfileValue(std::string_view file_text, std::string_view section,
                                            std::string_view key) {
  bool in_section = false;
  for (std::string_view raw : SplitLines(file_text)) {
    ProfileLine line = ClassifyLine(raw);
    if (line.kind == ProfileLine::kSection)
      in_section = SameName(line.name, section);
    else if (line.kind == ProfileLine::kSetting && in_section && SameName(line.name, key))
      return CleanValue(line.value);
  }
  return std::nullopt;
}

std::optional<std::string> ReadProfileFile(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos)
    return std::nullopt;
  // O_NONBLOCK keeps a FIFO from blocking the open; only regular files are read.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return std::nullopt;
  struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    return std::nullopt;
  std::string text;
  char buffer[8192];
  while (text.size() < kProfileFileMax) {
    size_t want = std::min(sizeof buffer, kProfileFileMax - text.size());
    ssize_t got = ::read(fd, buffer, want);
    if (got < 0)
      return std::nullopt;
    if (got == 0)
      break;
    text.append(buffer, static_cast<size_t>(got));
  }
  return text;
}

std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view default_value) {
  if (std::optional<std::string> text = ReadProfileFile(path)) {
    if (std::optional<std::string> value = FindProfileValue(*text, section, key))
      return *value;
  }
  std::string_view fallback = default_value.substr(0, default_value.find('\0'));
  size_t end = fallback.find_last_not_of(kBlanks);
  fallback = end == std::string_view::npos ? std::string_view{} : fallback.substr(0, end + 1);
  return std::string(fallback.substr(0, kProfileValueMax));
}

bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
  if (!WritableName(section, false) || !WritableName(key, true))
    return false;
  if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
    return false;

  std::string old_text;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode) || static_cast<size_t>(st.st_size) > kProfileFileMax)
      return false;
    std::optional<std::string> text = ReadProfileFile(path);
    if (!text || text->size() != static_cast<size_t>(st.st_size))
      return false;
    old_text = std::move(*text);
  }
  const std::string eol = old_text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  const std::string setting = std::string(key) + "=" + std::string(value);

  std::vector<std::string_view> lines = SplitLines(old_text);
  std::vector<std::string> out;
  out.reserve(lines.size() + 2);
  bool done = false;
  bool in_section = false;
  bool section_seen = false;
  for (std::string_view raw : lines) {
    ProfileLine line = ClassifyLine(raw);
    if (!done && line.kind == ProfileLine::kSection) {
      if (in_section) {  // leaving the first matching section without the key
        out.push_back(setting);
        done = true;
      }
      in_section = !section_seen && SameName(line.name, section);
      section_seen = section_seen || in_section;
    } else if (!done && in_section && line.kind == ProfileLine::kSetting &&
               SameName(line.name, key)) {
      out.push_back(setting);
      done = true;
      continue;
    }
    out.emplace_back(raw);
  }
  if (!done) {
    if (!in_section)
      out.push_back("[" + std::string(section) + "]");
    out.push_back(setting);
  }

  std::string new_text;
  for (const std::string& line : out)
    new_text += line + eol;

  const std::string temp = path + ".tmp";
  std::FILE* file = std::fopen(temp.c_str(), "wb");
  if (file == nullptr)
    return false;
  bool ok = std::fwrite(new_text.data(), 1, new_text.size(), file) == new_text.size();
  ok = (std::fclose(file) == 0) && ok;
  if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace vantera
