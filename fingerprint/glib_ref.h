// Owners for the GLib objects the libfprint backend holds: a GObject reference and a
// GError, each released once when its owner goes.
#pragma once

#include <glib-object.h>

#include <memory>

namespace vantera {

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};

// One reference to a GObject of type T (FpContext, FpDevice, FpImage, GCancellable).
template <typename T>
using GRef = std::unique_ptr<T, GObjectUnref>;

// A new reference to an object someone else holds.
template <typename T>
GRef<T> AddRef(T* object) {
  return GRef<T>(object ? static_cast<T*>(g_object_ref(object)) : nullptr);
}

struct GErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

}  // namespace vantera
