// Exceptions of the data dictionary. Every one carries a code and reads
// "KantaDB: TEXT [$CODE/DEC]"; TEXT is the formatted text where the dictionary gives one,
// else the code's text from the error table.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/nxllException.h"

namespace vantera {

class EnxDataDictionaryException : public EnxBaseException {
 public:
  using EnxBaseException::EnxBaseException;
};

class EnxFieldDescriptorException : public EnxDataDictionaryException {
 public:
  using EnxDataDictionaryException::EnxDataDictionaryException;
};

class EnxFileDescriptorException : public EnxDataDictionaryException {
 public:
  using EnxDataDictionaryException::EnxDataDictionaryException;
};

class EnxIndexDescriptorException : public EnxDataDictionaryException {
 public:
  using EnxDataDictionaryException::EnxDataDictionaryException;
};

class EnxKeyDescriptorException : public EnxDataDictionaryException {
 public:
  using EnxDataDictionaryException::EnxDataDictionaryException;
};

class EnxKeyFieldDescriptorException : public EnxDataDictionaryException {
 public:
  using EnxDataDictionaryException::EnxDataDictionaryException;
};

class EnxDefaultValueDescriptorException : public EnxDataDictionaryException {
 public:
  using EnxDataDictionaryException::EnxDataDictionaryException;
};

class EnxRecordDescriptorException : public EnxDataDictionaryException {
 public:
  using EnxDataDictionaryException::EnxDataDictionaryException;
};

class EnxBlobDescriptorException : public EnxDataDictionaryException {
 public:
  using EnxDataDictionaryException::EnxDataDictionaryException;
};

class EnxHeapDescriptorException : public EnxDataDictionaryException {
 public:
  using EnxDataDictionaryException::EnxDataDictionaryException;
};

class EnxBlockHeapDescriptorException : public EnxDataDictionaryException {
 public:
  using EnxDataDictionaryException::EnxDataDictionaryException;
};

class EnxCustomDescriptorException : public EnxDataDictionaryException {
 public:
  using EnxDataDictionaryException::EnxDataDictionaryException;
};

}  // namespace vantera
