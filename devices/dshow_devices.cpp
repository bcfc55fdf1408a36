#include "devices/dshow_devices.h"

#include "devices/com_win.h"

namespace quillon {
namespace {

// The moniker's "FriendlyName"; false when the property bag or the name cannot be read.
bool ReadFriendlyName(IMoniker* moniker, std::string* name) {
  ComRef<IPropertyBag> bag;
  if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid()))) {
    return false;
  }
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  const bool read = bag->Read(L"FriendlyName", &value, nullptr) == S_OK && value.vt == VT_BSTR;
  if (read) *name = WideToUtf8(value.bstrVal);
  VariantClear(&value);
  return read;
}

}  // namespace

bool ForEachCamera(
    const std::function<bool(int position, IMoniker* moniker, const std::string* name)>& visit) {
  ComRef<ICreateDevEnum> devices;
  if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                              IID_ICreateDevEnum, devices.PutVoid()))) {
    return false;
  }
  ComRef<IEnumMoniker> cameras;
  // An empty category answers S_FALSE and no enumerator.
  if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, cameras.Put(), 0) != S_OK ||
      !cameras) {
    return false;
  }
  cameras->Reset();
  for (int position = 0;; ++position) {
    ComRef<IMoniker> moniker;
    if (cameras->Next(1, moniker.Put(), nullptr) != S_OK || !moniker) break;
    std::string name;
    const bool named = ReadFriendlyName(moniker.Get(), &name);
    if (!visit(position, moniker.Get(), named ? &name : nullptr)) break;
  }
  return true;
}

}  // namespace quillon
