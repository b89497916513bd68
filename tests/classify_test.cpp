#include <gtest/gtest.h>

#include <filesystem>

#include "app/classify.h"
#include "support/testing.h"

namespace {

using app::FileList;

struct NameCase {
  const char* name;
  FileList list;
};

class Classification : public ::testing::TestWithParam<NameCase> {};

TEST_P(Classification, NameGoesToItsList) {
  EXPECT_EQ(app::classify(GetParam().name), GetParam().list) << GetParam().name;
}

const NameCase kNames[] = {
    {"2014-06-30_13-52-45.74308705329895_invoice.xml", FileList::ClientInvoices},
    {"a_corporations.xml", FileList::Corporations},
    {"a_suppliers.xml", FileList::Suppliers},
    {"a_supplierInvoices.xml", FileList::SupplierInvoices},  // not "_invoice.xml": capital I
    {"a_cashing_paymentOrder.xml", FileList::Cashings},
    {"a_cashing_creditCard.xml", FileList::Cashings},
    {"a_cashing_receipt.xml", FileList::Cashings},
    {"a_cashing_minuteOfRefund.xml", FileList::Cashings},
    {"a_payment.xml", FileList::Payments},
    {"a_cashing_tradeExchange.xml", FileList::TradeExchanges},
    {"a_balance.xml", FileList::Balances},
    {"x_corporations.xml_balance.xml", FileList::Corporations},  // first row that matches wins
    {"x_balance.xml_corporations.xml", FileList::Corporations},
    {"report_invoice.xml.xml", FileList::ClientInvoices},        // anywhere in the name
    {"a_CORPORATIONS.xml", FileList::Unrecognised},              // case matters
    {"a_invoice.XML", FileList::Unrecognised},
    {"invoice.xml", FileList::Unrecognised},
    {"a_cashing.xml", FileList::Unrecognised},
};

INSTANTIATE_TEST_SUITE_P(NameTests, Classification, ::testing::ValuesIn(kNames));

TEST(Admission, RootNamesAndCashingTypes) {
  struct Case {
    FileList list;
    const char* doc;
    TDataModule2::ImportMethod expected;
  };
  const Case cases[] = {
      {FileList::Corporations, "<corporation/>", &TDataModule2::Corporation},
      {FileList::Corporations, "<Corporation/>", nullptr},
      {FileList::Corporations, "<supplier/>", nullptr},
      {FileList::Suppliers, "<supplier id='7'/>", &TDataModule2::Supplier},
      {FileList::Suppliers, "<suppliers/>", nullptr},
      {FileList::Suppliers, "<corporation/>", nullptr},
      {FileList::ClientInvoices, "<supplierInvoice/>", nullptr},
      {FileList::ClientInvoices, "<invoice/>", &TDataModule2::Invoice},
      {FileList::ClientInvoices, "<Invoice/>", nullptr},
      {FileList::SupplierInvoices, "<supplierInvoice/>", &TDataModule2::SupplierInvoice},
      {FileList::SupplierInvoices, "<SupplierInvoice/>", nullptr},
      {FileList::SupplierInvoices, "<supplierInvoices/>", nullptr},
      {FileList::SupplierInvoices, "<invoice/>", nullptr},
      // Cashings go by the root's type alone; the root's name plays no part.
      {FileList::Cashings, "<cashing type='cashing_paymentOrder'/>", &TDataModule2::CashingPaymentOrder},
      {FileList::Cashings, "<cashing type='cashing_creditCard'/>", &TDataModule2::CashingCreditCard},
      {FileList::Cashings, "<cashing type='cashing_receipt'/>", &TDataModule2::CashingReceipt},
      {FileList::Cashings, "<cashing type='cashing_minuteOfRefund'/>", &TDataModule2::CashingReceipt},
      {FileList::Cashings, "<invoice type='cashing_creditCard'/>", &TDataModule2::CashingCreditCard},
      {FileList::Cashings, "<cashing type='cashing_tradeExchange'/>", nullptr},
      {FileList::Cashings, "<cashing type='Cashing_receipt'/>", nullptr},
      {FileList::Cashings, "<cashing type='cashing_receipt '/>", nullptr},
      {FileList::Cashings, "<cashing type=''/>", nullptr},
      {FileList::Cashings, "<cashing/>", nullptr},
      {FileList::Cashings, "<cashing><type>cashing_receipt</type></cashing>", nullptr},
      {FileList::Payments, "<payment/>", &TDataModule2::Payment},
      {FileList::Payments, "<Payment/>", nullptr},
      {FileList::Payments, "<cashing type='payment'/>", nullptr},
      {FileList::TradeExchanges, "<cashing type='cashing_tradeExchange'/>", &TDataModule2::CashingTradeExchange},
      {FileList::TradeExchanges, "<x type='cashing_receipt'/>", nullptr},
      {FileList::TradeExchanges, "<cashing type='cashing_TradeExchange'/>", nullptr},
      {FileList::TradeExchanges, "<cashing/>", nullptr},
      {FileList::Balances, "<payment/>", nullptr},
      {FileList::Balances, "<invoiceBalance/>", &TDataModule2::Balance},
      {FileList::Balances, "<balance/>", nullptr},
  };
  for (const auto& c : cases) {
    xml::Document d;
    d.loadMemory(c.doc);
    EXPECT_EQ(app::admit(c.list, d.documentElement()), c.expected) << app::listName(c.list) << " " << c.doc;
  }
}

TEST(Scan, ListsXmlEntriesOfEveryKindInByteOrder) {
  testing_support::TempDir dir;
  for (const char* name : {"b_invoice.xml", "A_invoice.XML", "a_invoice.Xml", "c.txt", "notes.xml.bak", "Z.xml"})
    testing_support::writeFile(dir.path() + name, "<x/>");
  std::filesystem::create_directory(dir.path() + "folder_invoice.xml");
  EXPECT_EQ(app::scan(dir.path()), (std::vector<std::string>{"A_invoice.XML", "Z.xml", "a_invoice.Xml",
                                                            "b_invoice.xml", "folder_invoice.xml"}));
  EXPECT_TRUE(app::scan(dir.path() + "missing/").empty());
}

}  // namespace
