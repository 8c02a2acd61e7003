#include "protocol/nxllErrors.h"

#include <algorithm>
#include <iterator>

namespace vantera {
namespace {

// Ascending by code; nxErrorText searches it by bisection.
constexpr ErrorTableEntry kErrorTable[] = {
    {8455, "System has been illegally re-entered."},                                // $2107
    {8705, "At beginning of table."},                                               // $2201
    {8706, "At end of table."},                                                     // $2202
    {8708, "Record/Key deleted."},                                                  // $2204
    {8709, "No current record."},                                                   // $2205
    {8710, "Could not find record."},                                               // $2206
    {8711, "End of BLOB."},                                                         // $2207
    {8712, "Could not find object."},                                               // $2208
    {8962, "Corrupt file - other than header."},                                    // $2302
    {9217, "Read failure."},                                                        // $2401
    {9218, "Write failure."},                                                       // $2402
    {9221, "Cannot access file. File may be in use by another process."},           // $2405
    {9473, "Insufficient memory for this operation."},                              // $2501
    {9479, "Table is full."},                                                       // $2507
    {9487, "Too many indexes on table."},                                           // $250F
    {9729, "Key violation."},                                                       // $2601
    {9732, "Field value required."},                                                // $2604
    {9734, "Master has detail records. Cannot delete or modify."},                  // $2606
    {9740, "Field is blank."},                                                      // $260C
    {9986, "Invalid parameter."},                                                   // $2702
    {9990, "Invalid handle to the function."},                                      // $2706
    {9992, "Cannot open file."},                                                    // $2708
    {9997, "Index does not exist."},                                                // $270D
    {9998, "Invalid offset into the BLOB."},                                        // $270E
    {9999, "Invalid descriptor number."},                                           // $270F
    {10000, "Invalid field type."},                                                 // $2710
    {10001, "Invalid field descriptor."},                                           // $2711
    {10002, "Invalid field transformation."},                                       // $2712
    {10003, "Invalid record structure."},                                           // $2713
    {10004, "Invalid descriptor."},                                                 // $2714
    {10009, "Name not unique in this context."},                                    // $2719
    {10014, "Unknown database."},                                                   // $271E
    {10018, "The alias references a directory that does not exist."},               // $2722
    {10019, "Translate Error. Value out of bounds."},                               // $2723
    {10020, "Cannot set cursor of one table to another."},                          // $2724
    {10021, "Bookmarks do not match table."},                                       // $2725
    {10023, "Invalid index descriptor."},                                           // $2727
    {10024, "Table does not exist."},                                               // $2728
    {10027, "Index already exists."},                                               // $272B
    {10029, "Invalid BLOB length."},                                                // $272D
    {10030, "Invalid BLOB handle in record buffer."},                               // $272E
    {10031, "Table is open."},                                                      // $272F
    {10036, "Unknown user name or password."},                                      // $2734
    {10038, "Invalid field name."},                                                 // $2736
    {10039, "Invalid table name."},                                                 // $2737
    {10042, "Invalid file extension."},                                             // $273A
    {10050, "Filter handle is invalid"},                                            // $2742
    {10241, "Record locked by another user."},                                      // $2801
    {10245, "File is locked."},                                                     // $2805
    {10249, "Lock time out."},                                                      // $2809
    {10253, "Object cannot be opened for exclusive use."},                          // $280D
    {10255, "A deadlock was detected. You need to rollback this transaction."},     // $280F
    {10256, "A user transaction is already in progress."},                          // $2810
    {10257, "No user transaction is currently in progress."},                       // $2811
    {10258, "Record lock failed."},                                                 // $2812
    {10259, "Couldn't perform the edit because another user changed the record."},  // $2813
    {10260,
     "Couldn't perform the edit because another user deleted or moved the record."},  // $2814
    {10498, "Insufficient table rights for operation. Password required."},           // $2902
    {10501, "Database is read only."},                                                // $2905
    {10502, "Trying to modify read-only field."},                                     // $2906
    {10503, "Encrypted tables not supported."},                                       // $2907
    {10753, "Field is not a BLOB."},                                                  // $2A01
    {10756, "Operation not applicable."},                                             // $2A04
    {10760, "Objects are not owned by the same session."},                            // $2A08
    {10763, "Table is read only."},                                                   // $2A0B
    {10764, "No associated index."},                                                  // $2A0C
    {11047, "Unknown internal operating system error."},                              // $2B27
    {11114, "No ServerEngine is connected to the CommandHandler."},                   // $2B6A
    {11276, "Lost communication with network server."},                               // $2C0C
    {11278, "Cannot locate or connect to network server."},                           // $2C0E
    {11896, "General BLOB error."},                                                   // $2E78
    {12039, "Server is incompatible version."},                                       // $2F07
    {12040, "Higher table level required"},                                           // $2F08
    {12289, "Capability not supported."},                                             // $3001
    {13058, "BLOB has been modified."},                                               // $3302
    {13060, "Table already exists."},                                                 // $3304
    {13062, "Update aborted."},                                                       // $3306
    {15360, "TnxBaseFile contains invalid data"},                                     // $3C00
    {15363, "File could not be closed"},                                              // $3C03
    {15392, "Error when copying a file"},                                             // $3C20
    {15393, "Error when deleting a file"},                                            // $3C21
    {15394, "Error when renaming a file"},                                            // $3C22
    {15409, "Block number is either < 0, or >= number of blocks in file"},            // $3C31
    {15412, "Record reference number is invalid"},                                    // $3C34
    {15413, "Block read from file is not a data block"},                              // $3C35
    {15414, "Server configuration is invalid."},                                      // $3C36
    {15415,
     "The table cannot be opened because it was created with a newer version of "
     "KantaDB."},                                                                 // $3C37
    {15416, "Block read from file is not a heap block"},                          // $3C38
    {15421, "Block read from file is not a stream block"},                        // $3C3D
    {15424, "Block read from file is not an index block"},                        // $3C40
    {15425, "Index number passed to routine is out of range"},                    // $3C41
    {15440, "An error occurred when opening the external file for a file BLOB"},  // $3C50
    {15441, "An error occurred when reading the external file for a file BLOB"},  // $3C51
    {15442, "An error occurred when closing the external file for a file BLOB"},  // $3C52
    {15443,
     "The transaction was corrupt due to an earlier failure. No commit took place. You need to "
     "rollback this transaction."},                                         // $3C53
    {15444, "The filter timed out."},                                       // $3C54
    {15461, "The operation could not be completed in the allotted time."},  // $3C65
    {15465, "The session is not connected to a server engine."},            // $3C69
    {15488,
     "The cursor dictionaries are incompatible. Verify the correct field types, lengths, units, "
     "and decimal places have been specified."},                                     // $3C80
    {15489, "The cursors may not reference the same table for this operation."},     // $3C81
    {15490, "BLOB size exceeds maximum size."},                                      // $3C82
    {15491, "Sub-Engine is incompatible with the selected file header structure."},  // $3C83
    {15492, "Invalid segment number"},                                               // $3C84
    {15493, "Segment has been deleted"},                                             // $3C85
    {15494, "Maximum key size has been exceeded"},                                   // $3C86
    {15495, "Maximum record size has been exceeded"},                                // $3C87
    {15496, "Temporary Storage: Invalid block number"},                              // $3C88
    {15497, "Temporary Storage: Full"},                                              // $3C89
    {15498, "Incompatible stream"},                                                  // $3C8A
    {15499, "Unsupported dictionary descriptor"},                                    // $3C8B
    {15500, "The data dictionary is read only"},                                     // $3C8C
    {15501, "Duplicated autoinc field"},                                             // $3C8D
    {15502, "Object is currently in use"},                                           // $3C8E
    {15503, "Specified sub-engine is not supported"},                                // $3C8F
    {15504, "Specified file header access is not supported"},                        // $3C90
    {15505, "Servername of the transport is not set"},                               // $3C91
    {15506, "Duplicated RecRev field"},                                              // $3C92
    {15521, "Unknown (unexpected exception object raised)"},                         // $3CA1
    {15522, "Message is unrecognized."},                                             // $3CA2
};

const ErrorTableEntry* Find(uint32_t code) {
  auto it = std::lower_bound(std::begin(kErrorTable), std::end(kErrorTable), code,
                             [](const ErrorTableEntry& e, uint32_t c) { return e.code < c; });
  if (it == std::end(kErrorTable) || it->code != code)
    return nullptr;
  return &*it;
}

}  // namespace

std::string nxErrorText(uint32_t code) {
  const ErrorTableEntry* e = Find(code);
  return e ? e->text : kUnknownErrorText;
}

bool nxErrorKnown(uint32_t code) {
  return Find(code) != nullptr;
}

const ErrorTableEntry* nxErrorTable(size_t* count) {
  *count = std::size(kErrorTable);
  return kErrorTable;
}

}  // namespace vantera
