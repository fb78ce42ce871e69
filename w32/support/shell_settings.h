#pragma once
// Shell-style settings files (/etc/default/locale, locale.conf, user-dirs.dirs):
// one KEY=VALUE assignment a line.
#include <string_view>

namespace w32 {

// Calls `use` with what follows "KEY=" on every line that assigns `key`,
// leading blanks and an `export ` skipped, in file order: the last one a reader accepts wins,
// as in the shell.
template <typename Use>
void ForEachAssignment(std::string_view text, std::string_view key, Use use) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.substr(0, 7) == "export " || line.substr(0, 7) == "export\t") {
      line.remove_prefix(7);
      while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    }
    if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != '=') continue;
    use(line.substr(key.size() + 1));
  }
}

}  // namespace w32
