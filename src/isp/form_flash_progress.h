// The ISP page's side of FlashProgress: the three progress labels, the window's event pump and
// the stop flag that a click on "Stop" raises while the automatic sequence runs.
#pragma once

#include <QLabel>
#include <QPointer>
#include <string>

#include "event_pump.h"
#include "flash_progress.h"

namespace velmora {

class FormFlashProgress final : public FlashProgress {
 public:
  // process: lblUSBProcessInfo, address: lblUSBISPProcess, status: lblUSBISPStatusReg.
  FormFlashProgress(QLabel* process, QLabel* address, QLabel* status, EventPump& pump)
      : process_(process), address_(address), status_(status), pump_(pump) {}

  void ProcessText(const std::string& text) override { Show(process_, text); }
  void AddressText(const std::string& text) override { Show(address_, text); }
  void StatusText(const std::string& text) override { Show(status_, text); }
  void Pump() override { pump_.Pump(); }

  bool StopRequested() const override { return stop_requested_; }
  // Asked for by a click that arrives while a run is in progress; seen at the next boundary.
  void RequestStop() { stop_requested_ = true; }
  // A run starts and ends with no stop pending, so a late request cannot cut the next job short.
  void ClearStop() { stop_requested_ = false; }

 private:
  // The labels belong to the window; a pump that closes it must not leave dangling pointers.
  static void Show(const QPointer<QLabel>& label, const std::string& text) {
    if (label) label->setText(QString::fromStdString(text));
  }

  QPointer<QLabel> process_;
  QPointer<QLabel> address_;
  QPointer<QLabel> status_;
  EventPump& pump_;
  bool stop_requested_ = false;
};

}  // namespace velmora
