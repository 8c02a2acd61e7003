// Address, port and protocol resolution of the message-server client.
//
// Each function takes the property text as the user gave it and either returns the resolved
// value or throws ESocketException with the resolver's own message (no "Error N in
// function" prefix). Host names wait for the system resolver; dotted addresses do not.
#pragma once

#include <netinet/in.h>
#include <cstdint>
#include <string>

namespace vantera {

// True when the text, after leading blanks, is a dotted IPv4 address: digits and exactly
// three dots, no leading dot, each dot followed by a digit, each part at most 255, and
// optionally trailing blanks.
bool WSocketIsDottedIP(const std::string& text);

// The IPv4 address of a dotted address or a host name (the first address the resolver
// returns). Errors: "WSocketResolveHost: '<text>' Invalid Hostname." (empty or more than
// 256 characters), "WSocketResolveHost: Cannot convert host address '<text>', Error #<code>".
in_addr WSocketResolveHost(const std::string& text);

// The protocol number: leading digits when the text begins with a digit, else the system's
// protocol table ("tcp" 6, "udp" 17 even without one). Errors: "WSocketResolveProto:
// Invalid Protocol.", "WSocketResolveProto: Cannot convert protocol '<text>', Error #<code>".
int WSocketResolveProto(const std::string& text);

// The port number (host order): leading digits when the text begins with a digit (cut to 16
// bits), else the service of that name for the protocol named `proto`. Errors:
// "WSocketResolvePort: Invalid Port.", "WSocketResolvePort: Invalid Proto.",
// "WSocketResolvePort: Cannot convert port '<text>', Error #<code>".
uint16_t WSocketResolvePort(const std::string& text, const std::string& proto);

}  // namespace vantera
