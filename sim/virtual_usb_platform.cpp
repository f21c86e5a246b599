#include "virtual_usb_platform.h"

namespace velmora::sim {

void VirtualUsbPlatform::Record(TranscriptEvent event) {
  if (transcript_) transcript_->Add(std::move(event));
}

VirtualUsbPlatform::Slot* VirtualUsbPlatform::Find(const std::string& path) {
  for (auto& slot : slots_) {
    if (slot.path == path) return &slot;
  }
  return nullptr;
}

void VirtualUsbPlatform::Plug(const std::string& path, VirtualDevice* device,
                              Visibility visibility) {
  if (Slot* slot = Find(path)) {
    *slot = Slot{path, device, visibility, true};
    return;
  }
  slots_.push_back(Slot{path, device, visibility, true});
}

void VirtualUsbPlatform::Unplug(const std::string& path) {
  if (Slot* slot = Find(path)) slot->plugged = false;
}

bool VirtualUsbPlatform::IsPlugged(const std::string& path) const {
  for (const auto& slot : slots_) {
    if (slot.path == path) return slot.plugged;
  }
  return false;
}

bool VirtualUsbPlatform::EnumerateInterfaces(Backend backend, std::vector<std::string>& paths) {
  TranscriptEvent e;
  e.kind = TranscriptEvent::Kind::Enumerate;
  e.backend = backend;
  e.ok = !enumeration_fails_;
  Record(e);
  paths.clear();
  if (enumeration_fails_) return false;
  for (const auto& slot : slots_) {
    if (!slot.plugged) continue;
    if (slot.visibility == Visibility::GenericOnly && backend != Backend::Generic) continue;
    if (slot.visibility == Visibility::PropertyOnly && backend != Backend::Property) continue;
    paths.push_back(slot.path);
  }
  return true;
}

void VirtualUsbPlatform::SetOpenFails(const std::string& path, bool fails) {
  if (fails) {
    unopenable_.insert(path);
  } else {
    unopenable_.erase(path);
  }
}

UsbHandle VirtualUsbPlatform::Open(const std::string& path) {
  TranscriptEvent e;
  e.kind = TranscriptEvent::Kind::Open;
  e.path = path;
  const Slot* slot = Find(path);
  const bool refused = unopenable_.count(path) != 0;
  if (slot == nullptr || !slot->plugged || refused) {
    last_error_ = (refused ? "no permission to open " : "no such device: ") + path;
    e.handle = kInvalidHandle;
    Record(e);
    return kInvalidHandle;
  }
  const UsbHandle handle = next_handle_++;
  handles_[handle] = path;
  e.handle = handle;
  e.ok = true;
  Record(e);
  return handle;
}

void VirtualUsbPlatform::Close(UsbHandle handle) {
  TranscriptEvent e;
  e.kind = TranscriptEvent::Kind::Close;
  e.handle = handle;
  Record(e);
  handles_.erase(handle);
}

VirtualDevice* VirtualUsbPlatform::DeviceOf(UsbHandle handle) {
  const auto it = handles_.find(handle);
  if (it == handles_.end()) return nullptr;
  Slot* slot = Find(it->second);
  if (slot == nullptr || !slot->plugged) return nullptr;
  return slot->device;
}

bool VirtualUsbPlatform::ControlTransfer(UsbHandle handle, Backend backend,
                                         const ControlSetup& setup, std::uint8_t* data,
                                         std::uint32_t length) {
  TranscriptEvent e;
  e.kind = TranscriptEvent::Kind::Transfer;
  e.backend = backend;
  e.handle = handle;
  e.setup = setup;
  e.length = length;
  if (data == nullptr && length > 0) {
    last_error_ = "data stage without a buffer";
    Record(e);
    return false;
  }
  if (!setup.DeviceToHost() && length > 0) e.data.assign(data, data + length);
  VirtualDevice* device = DeviceOf(handle);
  if (device == nullptr) {
    last_error_ = "device not available";
    Record(e);
    return false;
  }
  e.ok = device->HandleControl(backend, setup, data, length);
  if (e.ok && setup.DeviceToHost() && length > 0) e.data.assign(data, data + length);
  Record(e);
  return e.ok;
}

bool VirtualUsbPlatform::Probe(UsbHandle handle, Backend backend) {
  TranscriptEvent e;
  e.kind = TranscriptEvent::Kind::Probe;
  e.backend = backend;
  e.handle = handle;
  VirtualDevice* device = DeviceOf(handle);
  e.ok = device != nullptr && device->HandleProbe(backend);
  Record(e);
  return e.ok;
}

}  // namespace velmora::sim
