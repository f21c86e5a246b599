// The dialogs seam for tests: records every box and file dialog, answers file dialogs from a
// script, and never blocks.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <optional>
#include <vector>

#include "dialogs.h"

namespace velmora::test {

class ScriptedDialogs final : public Dialogs {
 public:
  void ShowMessage(const QString& text) override { messages.push_back(text); }
  void ShowError(const QString& text) override { errors.push_back(text); }
  std::optional<QString> OpenFile(const FileDialogDesign& design) override {
    return Answer(design);
  }
  std::optional<QString> SaveFile(const FileDialogDesign& design) override {
    return Answer(design);
  }

  // The next file dialog returns `path`; nullopt scripts a cancel. Unscripted dialogs cancel.
  void ScriptFile(std::optional<QString> path) { file_answers.push_back(std::move(path)); }

  QStringList messages;
  QStringList errors;
  std::vector<FileDialogDesign> file_dialogs;  // every file dialog run, in order
  std::deque<std::optional<QString>> file_answers;

 private:
  std::optional<QString> Answer(const FileDialogDesign& design) {
    file_dialogs.push_back(design);
    if (file_answers.empty()) return std::nullopt;
    // Copied out field by field: moving the optional out trips GCC's -Wmaybe-uninitialized at -O2.
    const bool chosen = file_answers.front().has_value();
    const QString path = file_answers.front().value_or(QString());
    file_answers.pop_front();
    if (!chosen) return std::nullopt;
    return path;
  }
};

}  // namespace velmora::test
