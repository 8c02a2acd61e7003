// Error codes of the database client and their texts.
//
// Every engine and transport operation returns a 32-bit code, 0 for success. The table
// below gives each known code its text; components put that text into the messages of
// their exceptions (nxllException.h). A code outside the table reads as the text of
// kUnknownErrorText.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantera {

// Codes that the client itself produces or tests for, by name.
namespace nxcode {
inline constexpr uint32_t kSuccess = 0;
inline constexpr uint32_t kBeginningOfTable = 8705;         // $2201
inline constexpr uint32_t kEndOfTable = 8706;               // $2202
inline constexpr uint32_t kRecordDeleted = 8708;            // $2204
inline constexpr uint32_t kNoCurrentRecord = 8709;          // $2205
inline constexpr uint32_t kRecordNotFound = 8710;           // $2206
inline constexpr uint32_t kOutOfMemory = 9473;              // $2501
inline constexpr uint32_t kTooManyIndexes = 9487;           // $250F
inline constexpr uint32_t kInvalidParameter = 9986;         // $2702
inline constexpr uint32_t kInvalidHandle = 9990;            // $2706
inline constexpr uint32_t kInvalidBlobOffset = 9998;        // $270E
inline constexpr uint32_t kInvalidDescriptorNumber = 9999;  // $270F
inline constexpr uint32_t kInvalidRecordStructure = 10003;  // $2713
inline constexpr uint32_t kInvalidDescriptor = 10004;       // $2714
inline constexpr uint32_t kNameNotUnique = 10009;           // $2719
inline constexpr uint32_t kUnknownDatabase = 10014;         // $271E
inline constexpr uint32_t kCursorOfOtherTable = 10020;      // $2724
inline constexpr uint32_t kTableDoesNotExist = 10024;       // $2728
inline constexpr uint32_t kUnknownUserOrPassword = 10036;   // $2734
inline constexpr uint32_t kInvalidFilterHandle = 10050;     // $2742
inline constexpr uint32_t kRecordChangedByOther = 10259;    // $2813
inline constexpr uint32_t kRecordDeletedByOther = 10260;    // $2814
inline constexpr uint32_t kReadOnlyField = 10502;           // $2906
inline constexpr uint32_t kNotApplicable = 10756;           // $2A04
inline constexpr uint32_t kNotSameSession = 10760;          // $2A08
inline constexpr uint32_t kOperatingSystemError = 11047;    // $2B27
inline constexpr uint32_t kLostCommunication = 11276;       // $2C0C
inline constexpr uint32_t kCannotConnect = 11278;           // $2C0E
inline constexpr uint32_t kNotSupported = 12289;            // $3001
inline constexpr uint32_t kFilterTimedOut = 15444;          // $3C54
inline constexpr uint32_t kTimedOut = 15461;                // $3C65
inline constexpr uint32_t kSessionNotConnected = 15465;     // $3C69
inline constexpr uint32_t kIncompatibleStream = 15498;      // $3C8A
inline constexpr uint32_t kUnsupportedDescriptor = 15499;   // $3C8B
inline constexpr uint32_t kDictionaryReadOnly = 15500;      // $3C8C
inline constexpr uint32_t kDuplicatedAutoInc = 15501;       // $3C8D
inline constexpr uint32_t kServerNameNotSet = 15505;        // $3C91
inline constexpr uint32_t kDuplicatedRecRev = 15506;        // $3C92
inline constexpr uint32_t kExceptionWithoutCode = 15520;    // $3CA0, not in the text table
inline constexpr uint32_t kUnexpectedException = 15521;     // $3CA1
inline constexpr uint32_t kMessageUnrecognized = 15522;     // $3CA2
}  // namespace nxcode

// Text of a code missing from the table.
inline constexpr const char* kUnknownErrorText =
    "Unknown (server exception object has unknown error code)";

struct ErrorTableEntry {
  uint32_t code;
  const char* text;
};

// The text of `code` from the table, or kUnknownErrorText.
std::string nxErrorText(uint32_t code);

// True when `code` has an entry of its own in the table.
bool nxErrorKnown(uint32_t code);

// The whole table in ascending code order (for listings and tests).
const ErrorTableEntry* nxErrorTable(size_t* count);

}  // namespace vantera
