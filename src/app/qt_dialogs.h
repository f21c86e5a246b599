// The dialogs seam on real Qt message boxes and file dialogs.
#pragma once

#include "dialogs.h"

namespace velmora {

class QtDialogs final : public Dialogs {
 public:
  void ShowMessage(const QString& text) override;
  void ShowError(const QString& text) override;
  std::optional<QString> OpenFile(const FileDialogDesign& design) override;
  std::optional<QString> SaveFile(const FileDialogDesign& design) override;
};

}  // namespace velmora
