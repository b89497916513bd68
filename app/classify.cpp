#include "app/classify.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <system_error>

namespace app {
namespace {

struct NameTest {
  std::string_view text;
  FileList list;
};

// Tried in this order; the first whose text occurs in the name takes the file.
constexpr NameTest kNameTests[] = {
    {"_corporations.xml", FileList::Corporations},
    {"_suppliers.xml", FileList::Suppliers},
    {"_invoice.xml", FileList::ClientInvoices},
    {"_supplierInvoices.xml", FileList::SupplierInvoices},
    {"_cashing_paymentOrder.xml", FileList::Cashings},
    {"_cashing_creditCard.xml", FileList::Cashings},
    {"_cashing_receipt.xml", FileList::Cashings},
    {"_cashing_minuteOfRefund.xml", FileList::Cashings},
    {"_payment.xml", FileList::Payments},
    {"_cashing_tradeExchange.xml", FileList::TradeExchanges},
    {"_balance.xml", FileList::Balances},
};

bool rootNamed(const xml::Node& root, std::string_view name) { return root.exists() && root.name() == name; }

// Cashing files are told apart by the root's `type` attribute alone, whatever the root is called and
// whichever name text put the file into its list.
bool rootTyped(const xml::Node& root, std::string_view type) { return root.attribute("type") == type; }

TDataModule2::ImportMethod cashing(const xml::Node& root) {
  if (rootTyped(root, "cashing_paymentOrder")) return &TDataModule2::CashingPaymentOrder;
  if (rootTyped(root, "cashing_creditCard")) return &TDataModule2::CashingCreditCard;
  if (rootTyped(root, "cashing_receipt")) return &TDataModule2::CashingReceipt;
  if (rootTyped(root, "cashing_minuteOfRefund")) return &TDataModule2::CashingReceipt;
  return nullptr;
}

}  // namespace

const char* listName(FileList list) {
  switch (list) {
    case FileList::Corporations: return "corporatii";
    case FileList::Suppliers: return "furnizori";
    case FileList::ClientInvoices: return "facturi client";
    case FileList::SupplierInvoices: return "facturi furnizor";
    case FileList::Cashings: return "incasari";
    case FileList::Payments: return "plati";
    case FileList::TradeExchanges: return "compensari";
    case FileList::Balances: return "deconturi";
    case FileList::Unrecognised: return "netratate";
  }
  return "";
}

FileList classify(std::string_view name) {
  for (const auto& test : kNameTests)
    if (name.find(test.text) != std::string_view::npos) return test.list;
  return FileList::Unrecognised;
}

TDataModule2::ImportMethod admit(FileList list, const xml::Node& root) {
  switch (list) {
    case FileList::Corporations: return rootNamed(root, "corporation") ? &TDataModule2::Corporation : nullptr;
    case FileList::Suppliers: return rootNamed(root, "supplier") ? &TDataModule2::Supplier : nullptr;
    case FileList::ClientInvoices: return rootNamed(root, "invoice") ? &TDataModule2::Invoice : nullptr;
    case FileList::SupplierInvoices:
      return rootNamed(root, "supplierInvoice") ? &TDataModule2::SupplierInvoice : nullptr;
    case FileList::Cashings: return cashing(root);
    case FileList::Payments: return rootNamed(root, "payment") ? &TDataModule2::Payment : nullptr;
    case FileList::TradeExchanges:
      return rootTyped(root, "cashing_tradeExchange") ? &TDataModule2::CashingTradeExchange : nullptr;
    case FileList::Balances: return rootNamed(root, "invoiceBalance") ? &TDataModule2::Balance : nullptr;
    case FileList::Unrecognised: return nullptr;
  }
  return nullptr;
}

const char* methodName(TDataModule2::ImportMethod method) {
  struct Named {
    TDataModule2::ImportMethod method;
    const char* name;
  };
  static const Named names[] = {
      {&TDataModule2::Corporation, "Corporation"},
      {&TDataModule2::Supplier, "Supplier"},
      {&TDataModule2::Invoice, "Invoice"},
      {&TDataModule2::SupplierInvoice, "SupplierInvoice"},
      {&TDataModule2::CashingPaymentOrder, "CashingPaymentOrder"},
      {&TDataModule2::CashingCreditCard, "CashingCreditCard"},
      {&TDataModule2::CashingReceipt, "CashingReceipt"},
      {&TDataModule2::CashingTradeExchange, "CashingTradeExchange"},
      {&TDataModule2::Payment, "Payment"},
      {&TDataModule2::Balance, "Balance"},
  };
  for (const auto& n : names)
    if (n.method == method) return n.name;
  return "";
}

bool xmlName(std::string_view name) {
  if (name.size() < 4) return false;
  const std::string_view ext = name.substr(name.size() - 4);
  return ext[0] == '.' && (ext[1] == 'x' || ext[1] == 'X') && (ext[2] == 'm' || ext[2] == 'M') &&
         (ext[3] == 'l' || ext[3] == 'L');
}

std::vector<std::string> scan(const std::string& folder, double minAgeSeconds) {
  std::vector<std::string> names;
  std::error_code ec;
  const auto newest = std::filesystem::file_time_type::clock::now() -
                      std::chrono::duration_cast<std::filesystem::file_time_type::duration>(
                          std::chrono::duration<double>(minAgeSeconds));
  std::filesystem::directory_iterator it(folder, ec);
  if (ec) return names;
  for (const std::filesystem::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) break;
    std::string name = it->path().filename().native();
    if (!xmlName(name)) continue;
    if (minAgeSeconds > 0) {
      std::error_code tec;
      const auto written = it->last_write_time(tec);
      if (!tec && written > newest) continue;
    }
    names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::array<std::vector<std::string>, kFileLists> sortIntoLists(std::vector<std::string> names) {
  std::array<std::vector<std::string>, kFileLists> lists;
  for (auto& name : names) {
    const auto list = static_cast<std::size_t>(classify(name));
    lists[list].push_back(std::move(name));
  }
  return lists;
}

}  // namespace app
