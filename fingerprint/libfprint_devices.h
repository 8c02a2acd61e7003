// The fingerprint devices libfprint sees, and which one the setting [Lukija] Laite picks.
//
// Choice values (docs/settings.md): "LIBFPRINT" takes the first device that delivers
// images; any other text takes the first device whose libfprint device id or driver name
// equals it. "SIMULOITU" is the simulated reader and picks no libfprint device.
#pragma once

// GLib names a struct member "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <fprint.h>
#pragma pop_macro("signals")

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace vantera {

inline constexpr std::string_view kReaderSimulated = "SIMULOITU";
inline constexpr std::string_view kReaderLibfprint = "LIBFPRINT";

struct ReaderDevice {
  std::string driver;  // texts as libfprint gives them (UTF-8)
  std::string name;
  std::string id;
  bool images = false;  // delivers images (libfprint's capture feature)
};

ReaderDevice DescribeDevice(FpDevice* device);

// The device of context that choice picks, or null. Not owned (the context holds it).
FpDevice* ChooseDevice(FpContext* context, std::string_view choice);

// Prints the devices a fresh libfprint context sees, one a line, or a plain line when
// there is none; returns the exit status (0).
int ListReaders(std::ostream& out);

}  // namespace vantera
