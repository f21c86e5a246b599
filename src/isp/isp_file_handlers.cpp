// The ISP page's program file: the "File" button, the load behind it and the Auto run, the
// file history in the combo box and the checksum label.
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>

#include "program_file.h"
#include "tform1.h"
#include "ui_tform1.h"

void TForm1::USBLoadFileBitBtnClick() {
  // The dialog opens beside the program file in use, where its next version usually lies.
  velmora::FileDialogDesign dialog = OpenBinFileDialog;
  const QString current = ui->cbxReadISPFile->currentText();
  if (!current.isEmpty()) dialog.folder = QFileInfo(current).absolutePath();
  const std::optional<QString> chosen = Execute(dialog);
  if (!chosen) return;
  ProgramFileName = *chosen;
  ReadProgramFile();
}

void TForm1::ReadProgramFile() {
  if (!ProgramFileName.isEmpty()) AddToFileHistory();
  // The loaders take the name in the platform's file-name encoding.
  const velmora::ImageLoadResult result =
      velmora::LoadProgramFile(QFile::encodeName(ProgramFileName).toStdString(), ProgramImage);
  if (!result.ok) {
    // The image, its length and the checksum label keep the last good load, but nothing may be
    // programmed from it under this name: Auto refuses until a load succeeds.
    ShowMessage(QString::fromLocal8Bit(velmora::LoadFailureDialogText(result)));
    FileReady = false;
    return;
  }
  ui->lblUSBChecksum->setText(QString::fromStdString(velmora::ChecksumLabelText(result.checksum)));
  FileReady = true;
}

void TForm1::AddToFileHistory() {
  QComboBox* history = ui->cbxReadISPFile;
  int index = -1;
  for (int i = 0; i < history->count() && index < 0; ++i) {
    if (history->itemText(i) == ProgramFileName) index = i;  // exact, case-sensitive
  }
  if (index < 0) {
    history->addItem(ProgramFileName);
    index = history->count() - 1;
  }
  history->setCurrentIndex(index);
  history->setEditText(ProgramFileName);
}
