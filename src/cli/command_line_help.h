// What velmora-isp's command line does for a person at a terminal: help wrapped to the
// terminal's width, and the word it did not understand named, with the nearest it knows.
#pragma once

#include <CLI/CLI.hpp>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::cli {

// `text` with every line longer than `width` broken at spaces. A broken line of an option or
// command list (it starts with a space) goes on under its description column `column`; any
// other line goes on at its own indentation. A word longer than the line stays whole.
std::string WrapToWidth(const std::string& text, std::size_t width, std::size_t column);

// CLI11's help, wrapped to `width` columns. Set it on the application before adding the
// commands: each command takes its formatter from its parent when it is made.
class WrappingFormatter final : public CLI::Formatter {
 public:
  explicit WrappingFormatter(std::size_t width) : width_(width) {}
  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode mode) const override;

 private:
  std::size_t width_;
};

// Insertions, deletions and substitutions that turn `a` into `b`.
std::size_t EditDistance(std::string_view a, std::string_view b);

// The first word of `args` (the command line after the program's name) that names neither a
// command where a command is due nor an option of the commands given so far, said as an error:
// "Unknown command "frobnicate" (commands: detect, auto, ...)", "Unknown option --no-verfy;
// did you mean --no-verify?". Nothing when every word is known; values are not judged here.
std::optional<std::string> FindUnknownWord(const CLI::App& app,
                                           const std::vector<std::string>& args);

}  // namespace velmora::cli
