#include "command_line_help.h"

#include <algorithm>
#include <numeric>
#include <sstream>

namespace velmora::cli {
namespace {

// Appends `line` to `out`, broken at spaces before `width`; continuation lines start with
// `indent` spaces. The spacing before the break (an option's padded name) stays as it was.
void WrapLine(std::string line, std::size_t width, std::size_t indent, std::string& out) {
  while (line.size() > width) {
    std::size_t cut = line.rfind(' ', width);
    if (cut == std::string::npos || cut <= indent || cut <= line.find_first_not_of(' ')) {
      cut = line.find(' ', width);  // one long word: it overhangs
      if (cut == std::string::npos) break;
    }
    const std::size_t rest = line.find_first_not_of(' ', cut);
    out += line.substr(0, line.find_last_not_of(' ', cut) + 1);
    if (rest == std::string::npos) return;
    out += '\n';
    line = std::string(indent, ' ') + line.substr(rest);
  }
  out += line;
}

// The known word nearest `word`, when it is near enough to be a slip of the fingers.
std::optional<std::string> Nearest(const std::string& word, const std::vector<std::string>& known) {
  std::optional<std::string> best;
  std::size_t best_distance = std::max<std::size_t>(2, word.size() / 4) + 1;
  for (const std::string& candidate : known) {
    const std::size_t distance = EditDistance(word, candidate);
    if (distance < best_distance) {
      best = candidate;
      best_distance = distance;
    }
  }
  return best;
}

std::vector<const CLI::App*> Commands(const CLI::App& app) {
  return app.get_subcommands([](const CLI::App*) { return true; });
}

// The option `name` ("--log", "-q") of the innermost command that has it.
const CLI::Option* FindOption(const std::vector<const CLI::App*>& chain, const std::string& name) {
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (const CLI::Option* option = (*it)->get_option_no_throw(name)) return option;
  }
  return nullptr;
}

std::vector<std::string> LongOptionNames(const std::vector<const CLI::App*>& chain) {
  std::vector<std::string> names{"--help"};
  for (const CLI::App* app : chain) {
    for (const CLI::Option* option : app->get_options()) {
      for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
    }
  }
  return names;
}

}  // namespace

std::string WrapToWidth(const std::string& text, std::size_t width, std::size_t column) {
  std::string out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.size() <= width) {
      out += line;
    } else {
      const std::size_t own = line.find_first_not_of(' ');
      const bool listed = own != 0 && own != std::string::npos && column + 20 <= width;
      WrapLine(line, width, listed ? column : std::min(own, width / 2), out);
    }
    out += '\n';
  }
  return out;
}

std::string WrappingFormatter::make_help(const CLI::App* app, std::string name,
                                         CLI::AppFormatMode mode) const {
  return WrapToWidth(CLI::Formatter::make_help(app, std::move(name), mode), width_,
                     get_column_width());
}

std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  std::iota(row.begin(), row.end(), std::size_t{0});
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::optional<std::string> FindUnknownWord(const CLI::App& app,
                                           const std::vector<std::string>& args) {
  std::vector<const CLI::App*> chain{&app};
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word == "--") break;
    if (word.starts_with("--")) {
      const std::string name = word.substr(0, word.find('='));
      const CLI::Option* option = FindOption(chain, name);
      if (option == nullptr) {
        std::string says = "Unknown option " + name;
        if (const auto near = Nearest(name, LongOptionNames(chain))) {
          says += "; did you mean " + *near + "?";
        }
        return says;
      }
      // A value given as the next word is the option's, whatever it looks like.
      if (name.size() == word.size() && option->get_items_expected_max() > 0) ++i;
      continue;
    }
    if (word.starts_with("-") && word.size() > 1) continue;  // short options: CLI11 judges them
    const std::vector<const CLI::App*> subs = Commands(*chain.back());
    if (subs.empty()) continue;  // a command's own argument
    const auto named = std::find_if(subs.begin(), subs.end(),
                                    [&](const CLI::App* sub) { return sub->check_name(word); });
    if (named != subs.end()) {
      chain.push_back(*named);
      continue;
    }
    std::vector<std::string> commands;
    for (const CLI::App* sub : subs) commands.push_back(sub->get_name());
    std::string says = "Unknown command \"" + word + "\"";
    if (const auto near = Nearest(word, commands)) says += "; did you mean \"" + *near + "\"?";
    std::string all;
    for (const std::string& command : commands) all += (all.empty() ? "" : ", ") + command;
    return says + " (commands: " + all + ")";
  }
  return std::nullopt;
}

}  // namespace velmora::cli
