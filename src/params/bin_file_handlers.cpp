// The "Gen. Bin File" tab: load a firmware image, find its user table, write the seven fields
// from the edit boxes and save the whole image to a new file. The table codec does the work; the
// handlers read the controls and paint the labels.
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <span>

#include "atomic_file.h"
#include "convert_error.h"
#include "flash_texts.h"
#include "labeled_edit.h"
#include "program_file.h"
#include "tform1.h"
#include "ui_tform1.h"
#include "user_table.h"

namespace {

constexpr const char* kLoadFileReady = "Load file ready";
constexpr const char* kLoadFileInvalid = "Load file is invalid for modify";
constexpr const char* kNoTableToSave = "No user table in the loaded file: nothing saved";

// An identifier edit read as hexadecimal, as the toolkit converts "0x" and the text; the bits
// above the 16 the table holds are dropped.
std::uint16_t HexIdentifier(const QString& text) {
  return static_cast<std::uint16_t>(
      static_cast<std::uint32_t>(velmora::StrToIntOrRaise("0x" + text)) & 0xFFFF);
}

}  // namespace

void TForm1::CurrentFileBitBtnClick() {
  const std::optional<QString> chosen = Execute(OpenBinFileDialog);
  if (!chosen) return;
  ModifyFileName = *chosen;
  ReadModifyFile();
  if (FindUserTable()) {
    ui->GroupBox9->setEnabled(true);
    ui->btnSaveBitBin->setEnabled(true);
    ui->lblStatusReport->setText(kLoadFileReady);
  } else {
    ui->lblStatusReport->setText(kLoadFileInvalid);
  }
}

void TForm1::ReadModifyFile() {
  ui->lblCurrentFilePath->setText(ModifyFileName);
  // Loaded into a scratch image of the tab's own: what the ISP page programs stays as it was.
  velmora::ProgramImage loaded;
  const velmora::ImageLoadResult result =
      velmora::LoadProgramFile(QFile::encodeName(ModifyFileName).toStdString(), loaded);
  // A file that did not load (missing, damaged, or an extension that picks no loader) leaves no
  // image behind, so the search after it fails instead of finding the previous file's table.
  ModifyImageLength = result.ok ? loaded.length : 0;
  std::copy_n(loaded.bytes.begin(), ModifyImageLength, ModifyImage.begin());
  ui->btnCheck->setEnabled(true);  // whether or not a table will be found
}

bool TForm1::FindUserTable() {
  const velmora::UserTableSearch search =
      velmora::FindUserTable(std::span<const std::uint8_t>(ModifyImage).first(ModifyImageLength));
  // A marker whose table runs past the end of the image counts as no table.
  UserTableOffset.reset();
  if (search.Found()) UserTableOffset = search.offset;
  return UserTableOffset.has_value();
}

void TForm1::btnCheckClick() {
  ui->lblSaveDone->setText("");
  if (FindUserTable()) ui->GroupBox9->setEnabled(true);
}

void TForm1::btnSaveBitBinClick() {
  const std::optional<QString> chosen = Execute(SaveBinFIleDialog);
  if (!chosen) return;
  SaveFileName = *chosen;
  ui->lblSaveBinPath->setText(SaveFileName);
  ui->btnSaveBin->setEnabled(true);  // the file is created by " Save"
}

void TForm1::btnSaveBinClick() {
  // The controls stay enabled after a later load without a table: refuse rather than write the
  // fields over whatever lies at the start of that image.
  if (!UserTableOffset) {
    ui->lblSaveDone->setText("");
    ui->lblStatusReport->setText(kNoTableToSave);
    return;
  }
  velmora::UserTableFields fields;
  for (std::size_t k = 0; k < velmora::kUserStringCount; ++k) {
    // The fields hold one byte per character; characters beyond Latin-1 become '?'.
    const auto* edit = FindFamilyMember<QLineEdit>("edtNewStr", static_cast<int>(k));
    fields.strings[k] = edit->text().toLatin1().toStdString();
  }
  // Both identifiers are converted before anything is written: a bad one ends the handler here
  // with the conversion error, and no file and no label change.
  fields.vid = HexIdentifier(ui->labedtNewVID->text());
  fields.pid = HexIdentifier(ui->labedtNewPID->text());

  const std::span<std::uint8_t> image = std::span(ModifyImage).first(ModifyImageLength);
  const velmora::PatchResult patched = velmora::PatchUserTable(image, *UserTableOffset, fields);
  ui->lblSaveDone->setText("");
  if (!patched.ok) {  // the search only finds tables that fit; this guards the invariant
    ui->lblStatusReport->setText(kNoTableToSave);
    return;
  }
  // All or nothing: the file either holds the whole new image or is left as it was.
  const velmora::FileWriteResult written =
      velmora::WriteFileAtomically(QFile::encodeName(SaveFileName).toStdString(), image);
  if (!written.ok) {
    ui->lblStatusReport->setText(QString::fromLocal8Bit(written.error));
    return;
  }
  // A table was found, so the status reads as it did after the load (a failed save's words go).
  ui->lblStatusReport->setText(kLoadFileReady);
  ui->lblSaveDone->setText(QString::fromStdString(velmora::texts::Hex(patched.sum, 4)));
}
