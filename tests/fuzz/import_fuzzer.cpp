// libFuzzer target over the road from XML bytes to staging rows, without a database: the staging layer
// records what it would send. The first byte picks the import method, the rest is the document.
//
// Checks, beyond the sanitizers: every staged row has exactly its table's columns, and every value is
// well-formed UTF-8 (what the server would accept).
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "app/text.h"
#include "imports/data_module.h"
#include "staging/ddl.h"
#include "staging/scripts.h"

namespace {

class CheckingRecorder : public staging::Recorder {
 public:
  CheckingRecorder() {
    for (const auto& [kind, text] : staging::embeddedScripts())
      for (auto& [table, columns] : staging::tablesOfScript(text)) widths_[table] = columns.size();
  }
  void script(std::string_view) override {}
  void function(const std::string&) override {}
  void row(const std::string& table, const pg::Params& values) override {
    const auto it = widths_.find(table);
    if (it == widths_.end() || it->second != values.size()) {
      std::fprintf(stderr, "row of %zu values for table %s\n", values.size(), table.c_str());
      std::abort();
    }
    for (const auto& v : values)
      if (v && !app::validUtf8(*v)) {
        std::fprintf(stderr, "value that is not UTF-8 for table %s\n", table.c_str());
        std::abort();
      }
  }

 private:
  std::map<std::string, std::size_t, std::less<>> widths_;
};

// In the order of the file lists; the seed corpus (tests/fuzz/corpus) starts each document with the
// index of its method here.
constexpr TDataModule2::ImportMethod kMethods[] = {
    &TDataModule2::Corporation,         &TDataModule2::Supplier,          &TDataModule2::Invoice,
    &TDataModule2::SupplierInvoice,     &TDataModule2::CashingPaymentOrder, &TDataModule2::CashingCreditCard,
    &TDataModule2::CashingReceipt,      &TDataModule2::Payment,           &TDataModule2::CashingTradeExchange,
    &TDataModule2::Balance,
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CheckingRecorder recorder;
  static TDataModule2* dm = [] {
    auto* m = new TDataModule2(RunSettings{});
    m->staging.record(&recorder);
    return m;
  }();
  if (size < 1) return 0;
  const auto method = kMethods[data[0] % std::size(kMethods)];
  try {
    dm->X.loadMemory(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1), "fuzz.xml");
  } catch (const xml::Error&) {
    return 0;
  }
  dm->root = dm->X.documentElement();
  (void)dm->Import(method, "fuzz.xml");
  return 0;
}
