#include "protocol/nxllException.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "protocol/nxllErrors.h"

namespace vantera {
namespace {

class TnxTestCursor : public TnxComponent {
 public:
  using TnxComponent::TnxComponent;
};

template <typename F>
std::exception_ptr Capture(F f) {
  try {
    f();
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

TEST(ErrorTable, HoldsEveryCodeInOrderWithItsText) {
  size_t count = 0;
  const ErrorTableEntry* table = nxErrorTable(&count);
  ASSERT_EQ(count, 119u);
  for (size_t i = 1; i < count; ++i)
    EXPECT_LT(table[i - 1].code, table[i].code) << i;
  EXPECT_EQ(table[0].code, 8455u);
  EXPECT_EQ(table[count - 1].code, 15522u);

  EXPECT_EQ(nxErrorText(8455), "System has been illegally re-entered.");
  EXPECT_EQ(nxErrorText(8706), "At end of table.");
  EXPECT_EQ(nxErrorText(9221), "Cannot access file. File may be in use by another process.");
  EXPECT_EQ(nxErrorText(10050), "Filter handle is invalid");
  EXPECT_EQ(nxErrorText(10259),
            "Couldn't perform the edit because another user changed the record.");
  EXPECT_EQ(nxErrorText(11114), "No ServerEngine is connected to the CommandHandler.");
  EXPECT_EQ(nxErrorText(11278), "Cannot locate or connect to network server.");
  EXPECT_EQ(nxErrorText(12040), "Higher table level required");
  EXPECT_EQ(nxErrorText(15409), "Block number is either < 0, or >= number of blocks in file");
  EXPECT_EQ(nxErrorText(15488),
            "The cursor dictionaries are incompatible. Verify the correct field types, lengths, "
            "units, and decimal places have been specified.");
  EXPECT_EQ(nxErrorText(15521), "Unknown (unexpected exception object raised)");
  EXPECT_EQ(nxErrorText(15522), "Message is unrecognized.");
  EXPECT_TRUE(nxErrorKnown(15414));
  EXPECT_FALSE(nxErrorText(15414).empty());

  // Codes outside the table, 0 and the "exception without a code" code among them.
  for (uint32_t code : {0u, 99u, 8704u, 15520u, 15523u, 0xFFFFFFFFu}) {
    EXPECT_FALSE(nxErrorKnown(code)) << code;
    EXPECT_EQ(nxErrorText(code), "Unknown (server exception object has unknown error code)");
  }
}

TEST(ExceptionMessages, EveryFormByteForByte) {
  TnxTestCursor tbl("TblAsSormi");
  EnxDatabaseError end(&tbl, 8706);
  EXPECT_STREQ(end.what(), "KantaDB: TblAsSormi: At end of table. [$2202/8706]");
  EXPECT_EQ(end.BareText(), "At end of table.");
  EXPECT_EQ(end.ErrorCode(), 8706u);
  EXPECT_EQ(end.ComponentName(), "TblAsSormi");

  // Own text with a code; hexadecimal upper case, no leading zeros.
  EnxPooledTransportException t(&tbl, "Cannot locate or connect to network server.", 11278);
  EXPECT_EQ(t.Message(),
            "KantaDB: TblAsSormi: Cannot locate or connect to network server. "
            "[$2C0E/11278]");
  EXPECT_EQ(EnxComponentException(&tbl, "x", 10).Message(), "KantaDB: TblAsSormi: x [$A/10]");
  EXPECT_EQ(EnxComponentException(&tbl, "x", 0xFFFFFFFFu).Message(),
            "KantaDB: TblAsSormi: x [$FFFFFFFF/4294967295]");

  // Without a code.
  EnxRemoteServerEngineException noCode(&tbl, "Transport required");
  EXPECT_EQ(noCode.Message(), "KantaDB: TblAsSormi: Transport required [no error code]");
  EXPECT_EQ(noCode.BareText(), "Transport required");
  EXPECT_EQ(noCode.ErrorCode(), 0u);

  // Unnamed and missing components.
  TnxTestCursor unnamed;
  EXPECT_EQ(EnxStateComponentException(&unnamed, "Invalid state transition.").Message(),
            "KantaDB: <unnamed TnxTestCursor instance>: Invalid state transition. "
            "[no error code]");
  EXPECT_EQ(EnxTransportException(nullptr, 11276).Message(),
            "KantaDB: <nil pointer>: Lost communication with network server. [$2C0C/11276]");

  // Base errors: the prefix and the code, no component.
  EXPECT_EQ(EnxBaseException(15498).Message(), "KantaDB: Incompatible stream [$3C8A/15498]");
  EXPECT_EQ(EnxBaseException("Duplicated field name: AsNo", 10009).Message(),
            "KantaDB: Duplicated field name: AsNo [$2719/10009]");
  EXPECT_EQ(EnxBaseException("Duplicated field name: AsNo", 10009).BareText(),
            "Duplicated field name: AsNo");

  // Database errors without a component: no prefix at all.
  EXPECT_EQ(EnxDatabaseError::WithoutComponent(8711).Message(), "End of BLOB. [$2207/8711]");
  EnxDatabaseError recRev =
      EnxDatabaseError::WithoutComponent(12289, "RecRev fields are read-only");
  EXPECT_STREQ(recRev.what(), "RecRev fields are read-only [$3001/12289]");
  EXPECT_EQ(recRev.BareText(), "RecRev fields are read-only");

  // Unknown code: the unknown text with the code.
  EXPECT_EQ(EnxDatabaseError(&tbl, 99).Message(),
            "KantaDB: TblAsSormi: Unknown (server exception object has unknown error code) "
            "[$63/99]");

  // Operating-system errors.
  EXPECT_STREQ(EnxOSError::WithCode(5, "Access is denied.", "opening the pipe").what(),
               "Operating system error while opening the pipe: Access is denied. ($5/5)");
  EXPECT_STREQ(EnxOSError::WithCode(10061, "Connection refused").what(),
               "Operating system error: Connection refused ($274D/10061)");
  EXPECT_EQ(EnxOSError::WithCode(10061, "Connection refused").OSErrorCode(), 10061u);
  EXPECT_STREQ(EnxOSError::WithoutCode("creating the event").what(),
               "A call to an OS function failed while creating the event");
  EXPECT_STREQ(EnxOSError::WithoutCode().what(), "A call to an OS function failed.");
}

TEST(ExceptionConversion, GivesTheCodeOfEachKind) {
  TnxTestCursor tbl("TblAsSormi");
  EXPECT_EQ(nxExceptionToCode(nullptr), 0u);
  EXPECT_EQ(nxExceptionToCode(Capture([] { throw EnxBaseException("no code"); })), 15520u);
  EXPECT_EQ(nxExceptionToCode(Capture([] { throw EnxBaseException(15498); })), 15498u);
  EXPECT_EQ(nxExceptionToCode(Capture([&] { throw EnxDatabaseError(&tbl, 10036); })), 10036u);
  EXPECT_EQ(nxExceptionToCode(Capture([&] { throw EnxTransportException(&tbl, "guard"); })),
            15520u);
  EXPECT_EQ(nxExceptionToCode(Capture([] { throw EnxOSError::WithoutCode(); })), 11047u);
  EXPECT_EQ(nxExceptionToCode(Capture([] { throw std::bad_alloc(); })), 9473u);
  EXPECT_EQ(nxExceptionToCode(Capture([] { throw std::runtime_error("boom"); })), 15521u);
  EXPECT_EQ(nxExceptionToCode(Capture([] { throw 42; })), 15521u);
  EXPECT_EQ(nxExceptionToCode(Capture([] { throw EnxAbortStateChange(); })), 15521u);

  // The converter writes the message to its event log first.
  MemoryEventLog log;
  tbl.SetEventLog(&log);
  auto e = Capture([&] { throw EnxDatabaseError(&tbl, 8706); });
  EXPECT_EQ(nxConvertException(e, &tbl), 8706u);
  EXPECT_EQ(nxConvertException(Capture([] { throw 1; }), &tbl), 15521u);
  EXPECT_EQ(nxConvertException(e, nullptr), 8706u);
  ASSERT_EQ(log.Lines().size(), 2u);
  EXPECT_EQ(log.Lines()[0], "Exception Cvt: KantaDB: TblAsSormi: At end of table. [$2202/8706]");
  EXPECT_EQ(log.Lines()[1], "Exception Cvt: Unknown exception");

  EXPECT_EQ(nxExceptionClassName(e), "EnxDatabaseError");
  EXPECT_EQ(nxExceptionClassName(Capture([] { throw std::runtime_error("x"); })), "runtime_error");
}

}  // namespace
}  // namespace vantera
