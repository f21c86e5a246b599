// What the window does once it is built, before it is first shown.
#include <QCheckBox>

#include "tform1.h"
#include "ui_tform1.h"

void TForm1::FormCreate() {
  // Detection is on from creation: ticking the box runs its handler like a click.
  ui->chkDetectUSB->setChecked(true);
}
