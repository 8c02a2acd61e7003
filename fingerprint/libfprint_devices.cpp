#include "fingerprint/libfprint_devices.h"

#include <ostream>

#include "fingerprint/glib_ref.h"

namespace vantera {
namespace {

std::string TextOf(const gchar* text) {
  return text ? std::string(text) : std::string();
}

}  // namespace

ReaderDevice DescribeDevice(FpDevice* device) {
  ReaderDevice d;
  d.driver = TextOf(fp_device_get_driver(device));
  d.name = TextOf(fp_device_get_name(device));
  d.id = TextOf(fp_device_get_device_id(device));
  d.images = fp_device_has_feature(device, FP_DEVICE_FEATURE_CAPTURE);
  return d;
}

FpDevice* ChooseDevice(FpContext* context, std::string_view choice) {
  GPtrArray* devices = fp_context_get_devices(context);  // owned by the context
  if (devices == nullptr)
    return nullptr;
  for (guint i = 0; i < devices->len; ++i) {
    auto* device = static_cast<FpDevice*>(g_ptr_array_index(devices, i));
    ReaderDevice d = DescribeDevice(device);
    if (choice == kReaderLibfprint ? d.images : (d.id == choice || d.driver == choice))
      return device;
  }
  return nullptr;
}

int ListReaders(std::ostream& out) {
  GRef<FpContext> context(fp_context_new());
  GPtrArray* devices = fp_context_get_devices(context.get());
  guint count = devices ? devices->len : 0;
  if (count == 0) {
    out << "No fingerprint readers found.\n";
    return 0;
  }
  out << "Fingerprint readers (driver, name, id, images):\n";
  for (guint i = 0; i < count; ++i) {
    ReaderDevice d = DescribeDevice(static_cast<FpDevice*>(g_ptr_array_index(devices, i)));
    out << d.driver << "\t" << d.name << "\t" << d.id << "\t"
        << (d.images ? "images" : "no images (not usable)") << "\n";
  }
  return 0;
}

}  // namespace vantera
