#include "qt_dialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace velmora {

QString QtNameFilter(const QString& designed_filter) {
  const QStringList parts = designed_filter.split('|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
    for (QString& pattern : patterns) pattern = pattern.trimmed();
    filters << QString("%1 (%2)").arg(parts[i], patterns.join(' '));
  }
  return filters.join(";;");
}

QString QtDefaultSuffix(const QString& default_ext) {
  QString suffix = default_ext;
  while (suffix.startsWith('*') || suffix.startsWith('.')) suffix.remove(0, 1);
  return suffix;
}

namespace {

std::optional<QString> RunFileDialog(const FileDialogDesign& design) {
  QFileDialog dialog(nullptr);
  const bool open = design.kind == FileDialogDesign::Kind::Open;
  dialog.setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  dialog.setFileMode(open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  dialog.setNameFilter(QtNameFilter(design.filter));
  dialog.setDefaultSuffix(QtDefaultSuffix(design.default_ext));
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !design.overwrite_prompt);
  if (!design.folder.isEmpty()) dialog.setDirectory(design.folder);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front();
}

}  // namespace

void QtDialogs::ShowMessage(const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, "Dialog", text, QMessageBox::Ok);
  box.exec();
}

void QtDialogs::ShowError(const QString& text) {
  QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), text,
                  QMessageBox::Ok);
  box.exec();
}

std::optional<QString> QtDialogs::OpenFile(const FileDialogDesign& design) {
  return RunFileDialog(design);
}

std::optional<QString> QtDialogs::SaveFile(const FileDialogDesign& design) {
  return RunFileDialog(design);
}

}  // namespace velmora
