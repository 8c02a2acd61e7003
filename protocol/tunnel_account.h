// The built-in account of the encrypted tunnel. Every client opens its tunnel sessions on
// the inner transport with it, and every server that serves the tunnel accepts it; the real
// user name and password travel sealed inside the tunnel. Both values must never change.
#pragma once

#include <string_view>

namespace vantera {

// 11 ASCII letters.
inline constexpr std::string_view kTunnelUserName = "VanteraTunl";
// 15 ASCII letters.
inline constexpr std::string_view kTunnelPassword = "SalattuKanavaVx";

static_assert(kTunnelUserName.size() == 11, "the tunnel user name is 11 letters");
static_assert(kTunnelPassword.size() == 15, "the tunnel password is 15 letters");

}  // namespace vantera
