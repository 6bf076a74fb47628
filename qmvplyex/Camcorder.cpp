#include "Camcorder.h"

#include <cstdlib>
#include <cstring>

#include "DbgLog.h"
#include "QmvPlyEx.h"

namespace plyex {

std::unique_ptr<Camcorder> FindCamcorder(CamcorderBus& bus) {
  if (!bus.Open()) {
    DbgLog(0, -1, "Error Creating Device Enumerator\n");
    return nullptr;
  }
  std::vector<std::unique_ptr<Camcorder>> devices = bus.Devices();
  if (devices.empty()) {
    DbgLog(0, -1, "Cannot find video Enum\n");
    return nullptr;
  }
  for (std::unique_ptr<Camcorder>& device : devices) {
    if (!device->Bind()) {
      DbgLog(0, -1, "Failed to bind the Moniker to video filter\n");
      continue;
    }
    if (!device->OpenDevice()) {
      DbgLog(0, -1, "Failed to retrieve Video device\n");
      continue;
    }
    // A camcorder in camera mode (or any other device) is passed over quietly.
    if (device->DeviceType() != ED_DEVTYPE_VCR) continue;
    if (!device->OpenTransport()) {
      DbgLog(0, -1, "Failed to retrieve VTR control\n");
      continue;
    }
    return std::move(device);
  }
  DbgLog(0, -1, "Failed to find camcorder in VTR mode\n");
  return nullptr;
}

std::unique_ptr<CamcorderBus> MakeCamcorderBus() {
  const char* tape = std::getenv("VANTREL_DV_TAPE");
  if (tape != nullptr && *tape != '\0') {
    const char* pace = std::getenv("VANTREL_DV_TAPE_PACE");
    const bool paced = pace == nullptr || std::strcmp(pace, "0") != 0;
    return MakeFileCamcorderBus(tape, paced);
  }
  return Make1394Bus();
}

const char* ModeName(int32_t mode) {
  switch (mode) {
    case ED_MODE_STOP:
      return "stop";
    case ED_MODE_PLAY:
      return "play";
    case ED_MODE_RECORD:
      return "record";
    case ED_MODE_FREEZE:
      return "pause";
    case ED_MODE_REW:
      return "rewind";
    case ED_MODE_FF:
      return "fast forward";
    default:
      return "unknown";
  }
}

}  // namespace plyex
