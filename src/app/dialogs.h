// The dialogs seam: message boxes and file dialogs of the window. The window never builds a
// dialog itself, so tests script the answers and never block on a modal box.
#pragma once

#include <QString>
#include <optional>

namespace velmora {

// What a file dialog of the design asks for. The filter is written the designed way,
// "Hex File|*.hex;*.h00|Binary File|*.bin": description and pattern list, alternating.
struct FileDialogDesign {
  enum class Kind { Open, Save };
  Kind kind = Kind::Open;
  QString filter;
  QString default_ext;  // "*.hex": added to a chosen name that has no extension
  bool overwrite_prompt = true;
  QString folder;  // where the dialog opens; empty: the toolkit's choice
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A "Dialog" message box without owner window and with one OK button, showing `text` as it
  // stands (trailing spaces included). Returns when the user has closed it.
  virtual void ShowMessage(const QString& text) = 0;
  // The application's display of an error that ended a handler (a conversion error, say).
  virtual void ShowError(const QString& text) = 0;
  // Runs a file-open dialog; the chosen path, or nothing when the user cancelled.
  virtual std::optional<QString> OpenFile(const FileDialogDesign& design) = 0;
  // Runs a file-save dialog; the chosen path, or nothing when the user cancelled.
  virtual std::optional<QString> SaveFile(const FileDialogDesign& design) = 0;
};

// The designed filter in Qt's form: "Hex File (*.hex *.h00);;Binary File (*.bin)".
QString QtNameFilter(const QString& designed_filter);
// The suffix Qt appends to a name without one: "*.hex" -> "hex".
QString QtDefaultSuffix(const QString& default_ext);

}  // namespace velmora
