// Classification of the work folder's names into file lists, and the admission test of a loaded document.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "imports/data_module.h"
#include "xml/xml.h"

namespace app {

// The file lists, in the order in which their name tests are tried and their files processed.
enum class FileList {
  Corporations,
  Suppliers,
  ClientInvoices,
  SupplierInvoices,
  Cashings,
  Payments,
  TradeExchanges,
  Balances,
  Unrecognised,
};
inline constexpr std::size_t kFileLists = 9;

// A short name of the list, for messages and the run summary.
const char* listName(FileList list);

// The list whose text occurs in the name (case-sensitive, anywhere in the name); the first row that
// matches wins.
FileList classify(std::string_view name);

// The import method that admits the document of a file of `list`, or nullptr when it is not admitted.
TDataModule2::ImportMethod admit(FileList list, const xml::Node& root);

// The name of an import method ("Invoice", "CashingReceipt", ...).
const char* methodName(TDataModule2::ImportMethod method);

// True when the name ends in ".xml", without regard to case.
bool xmlName(std::string_view name);

// The names of the entries of `folder` (entries of every kind) that end in ".xml", in byte order. A
// missing or unreadable folder lists nothing. Entries modified less than `minAgeSeconds` ago (still
// being written) are left out.
std::vector<std::string> scan(const std::string& folder, double minAgeSeconds = 0);

// The names of a listing sorted into the nine lists, each in listing order.
std::array<std::vector<std::string>, kFileLists> sortIntoLists(std::vector<std::string> names);

}  // namespace app
