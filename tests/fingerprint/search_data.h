// Many customers for the search dialog's tests and benchmark, written straight into a data
// folder: customer i (1 .. count) is "Asiakas 0000i" with the number 100000 + i and one
// card, customer 1 has three. Names, numbers and cards sort in the same order.
#pragma once

#include <cstdio>
#include <span>
#include <string>

#include "server/engine/local_table.h"
#include "server/engine/record_text.h"

namespace vantera::testing {

inline std::string StoredNumber(int customer) {
  std::string s = std::to_string(100000 + customer);
  return std::string(15 - s.size(), ' ') + s;
}

inline std::string CustomerName(int customer) {
  char text[32];
  std::snprintf(text, sizeof text, "Asiakas %05d", customer);
  return text;
}

// The card number of card k (1 ..) of a customer: 16 digits.
inline std::string CardNumber(int customer, int k) {
  char text[32];
  std::snprintf(text, sizeof text, "6390%06d0000%02d", 100000 + customer, k);
  return text;
}

inline std::string ShortNumber(int customer, int k) {
  return std::to_string(100000 + customer) + "0" + std::to_string(k);
}

inline void PutText(const LocalTable& table, Bytes* record, const char* field,
                    const std::string& text) {
  auto mapper = CreateFieldMapper(table.dict(), table.dict().FieldNumber(field));
  FieldFromText(*mapper, std::span<char>(record->data(), record->size()), text);
}

// Adds the customers and their cards to a prepared folder, one transaction per table.
inline void FillCustomers(const std::string& folder, int count) {
  {
    LocalTable customers(folder, "ASIAKAS", true);
    customers.Begin();
    for (int i = 1; i <= count; ++i) {
      Bytes c = customers.NewRecord();
      PutText(customers, &c, "AsNo", StoredNumber(i));
      PutText(customers, &c, "AsNimi", CustomerName(i));
      customers.Insert(c);
    }
    customers.Commit();
  }
  LocalTable cards(folder, "KORTTI", true);
  cards.Begin();
  for (int i = 1; i <= count; ++i) {
    for (int k = 1; k <= (i == 1 ? 3 : 1); ++k) {
      Bytes card = cards.NewRecord();
      PutText(cards, &card, "KorttiNro", CardNumber(i, k));
      PutText(cards, &card, "KorttiLyh", ShortNumber(i, k));
      PutText(cards, &card, "AsNo", StoredNumber(i));
      cards.Insert(card);
    }
  }
  cards.Commit();
}

}  // namespace vantera::testing
