#include <gtest/gtest.h>

#include <string>

#include "support/testing.h"

namespace {

using staging::Policy;
using testing_support::ImportTest;
using testing_support::Rows;

constexpr auto n = std::nullopt;

const std::string kExample = "2014-06-30_13-52-45.74308705329895_invoice.xml";
const std::string kCorporateExample = "2014-07-02_09-15-03.11820394857122_invoice.xml";

std::string example(const std::string& name) {
  return testing_support::readFile(testing_support::sourceDir() + "/examples/" + name);
}

class InvoiceImport : public ImportTest, public ::testing::WithParamInterface<Policy> {
 protected:
  std::optional<std::string> import(const std::string& name, const std::string& xml) {
    return importText(dm, &TDataModule2::Invoice, name, xml);
  }
  // Every column of the rows of `table` that `where` selects, in table order, as {column, value}.
  Rows columns(const std::string& table, const std::string& where = "true") {
    return db.query("SELECT j.key, j.value FROM " + table +
                    " t, json_each_text(row_to_json(t)) WITH ORDINALITY AS j(key, value, n) WHERE " + where +
                    " ORDER BY t.ctid, j.n");
  }
  // Only the columns that are not NULL.
  Rows filled(const std::string& table, const std::string& where = "true") {
    Rows all = columns(table, where), out;
    for (auto& r : all)
      if (r[1]) out.push_back(std::move(r));
    return out;
  }
  // Replaces the server function by one that counts its calls in `calls`.
  void countCalls() {
    db.countCalls("o_insert_factci_mivo");
  }

  TDataModule2 dm{settings(GetParam())};
};

// ---- The full sample invoice, column by column ----

const Rows kHeader = {
    {"nume_fisier", kExample},
    {"operation", "insert"},
    {"id", "48213"},
    {"doc_type", "invoice"},
    {"invoice_number", "0004217"},
    {"invoice_series", "MVB"},
    {"invoice_date", "2014-06-30"},
    {"moneda", "EUR"},
    {"curs", "4.3892"},
    {"data_scadenta", "2014-07-15"},
    {"comentarii", "Conferinta anuala Tehnoplast, Frankfurt, 10-14 iulie 2014"},
    {"partener_id", "1587"},
    {"partener_tip", "corporate"},
    {"pf_firstname", "Andrei"},
    {"pf_middlename", "Mihai"},
    {"pf_lastname", "Popescu"},
    {"pf_cnp", "1780512400123"},
    {"pf_adresa", "Str. Lalelelor 12, bl. A3, ap. 7"},
    {"pf_cod_postal", "021345"},
    {"pf_cod_tara", "RO"},
    {"pf_tara", "Romania"},
    {"pf_judet", "Bucuresti"},
    {"pf_oras", "Sector 2"},
    {"pf_banca_nume", "Banca Comerciala Romana"},
    {"pf_banca_office", "Sucursala Obor"},
    {"pf_cont_banca", "RO49RNCB0082004435910001"},
    {"pf_cont_moneda", "RON"},
    {"pj_tip", "SRL"},
    {"pj_alias", "Tehnoplast"},
    {"pj_company_sufix", "SRL"},
    {"pj_company_prefix", "SC"},
    {"pj_company", "Tehnoplast Industrie"},
    {"pj_trust", "Grupul Tehno"},
    {"pj_cod_fiscal", "RO14399012"},
    {"pj_vat", "RO14399012"},
    {"pj_reg_com", "J40/1234/2001"},
    {"pj_c_tip_office", "central"},
    {"pj_c_office_name", "Sediul central"},
    {"pj_c_office_cod_tara", "RO"},
    {"pj_c_office_tara", "Romania"},
    {"pj_c_office_oras", "Voluntari"},
    {"pj_c_office_judet", "Ilfov"},
    {"pj_c_office_adresa", "Bd. Pipera 1/VII"},
    {"pj_c_office_cod_postal", "077190"},
    {"pj_c_office_banca_nume", "ING Bank"},
    {"pj_c_office_banca_office", "Agentia Pipera"},
    {"pj_c_office_cont_moneda", "RON"},
    {"pj_c_office_cont_banca", "RO66INGB0000999901234567"},
    {"pj_s_tip_office", "selected"},
    {"pj_s_office_name", "Punct de lucru Cluj"},
    {"pj_s_office_cod_tara", "RO"},
    {"pj_s_office_tara", "Romania"},
    {"pj_s_office_oras", "Cluj-Napoca"},
    {"pj_s_office_judet", "Cluj"},
    {"pj_s_office_adresa", "Str. Fabricii 22"},
    {"pj_s_office_cod_postal", "400632"},
    {"pj_s_office_banca_nume", "Banca Transilvania"},
    {"pj_s_office_banca_office", "Sucursala Cluj"},
    {"pj_s_office_cont_moneda", "EUR"},
    {"pj_s_office_cont_banca", "RO21BTRLEURCRT0123456701"},
    {"emitent_resp_firstname", "Ioana"},
    {"emitent_resp_lastname", "Marinescu"},
    {"emitent_resp_cnp", "2850923410056"},
    {"emitent_resp_ci_seria", "RT"},
    {"emitent_resp_ci_numar", "482913"},
    {"emitent_resp_ci_elib", "SPCEP Sector 3"},
    {"emitent_resp_ci_data_elib", "2011-03-15"},
    {"emitent_resp_office", "Bucuresti Unirii"},
    {"emitent_resp_departament", "Corporate"},
};

// The first eight columns of a row of the sample: the header's, then the row's id and position.
Rows rowStart(const char* idScv, const char* scv) {
  return {
      {"nume_fisier", kExample},      {"operation", "insert"}, {"invoice_number", "0004217"}, {"invoice_series", "MVB"},
      {"invoice_date", "2014-06-30"}, {"dp_id", "48213"},      {"dp_id_scv", idScv},          {"dp_scv", scv}};
}
Rows operator+(Rows a, const Rows& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Two tickets: the first one's number. Offer components, a reservation with its MICE project and user.
const Rows kRow1 = rowStart("90311", "1") + Rows{
                                                {"dp_tip", "service"},
                                                {"dp_location_code", "OTP"},
                                                {"dp_calculation_type_code", "COM"},
                                                {"dp_calculation_type", "Comision"},
                                                {"dp_service_code", "AIR"},
                                                {"dp_service_name", "Bilet avion"},
                                                {"dp_ticket_number", "2202412345678"},
                                                {"dp_offer_ext_id", "AMA-5XK2LP"},
                                                {"dp_offer_moneda", "EUR"},
                                                {"dp_offer_commissionable", "true"},
                                                {"dp_offer_supplier_value", "824.6"},
                                                {"dp_offer_supplier_vat", "0"},
                                                {"dp_offer_commission_value", "40"},
                                                {"dp_offer_commission_vat", "9.6"},
                                                {"dp_offer_discount_value", "0"},
                                                {"dp_offer_discount_vat", "0"},
                                                {"dp_offer_service_fee_value", "15"},
                                                {"dp_offer_service_fee_vat", "3.6"},
                                                {"dp_offer_tax_value", "212.4"},
                                                {"dp_offer_tax_vat", "0"},
                                                {"dp_offer_penalty_value", "0"},
                                                {"dp_offer_penalty_vat", "0"},
                                                {"dp_reservation_number", "R-2014-06-1187"},
                                                {"dp_reservation_start_date", "2014-07-10"},
                                                {"dp_reservation_end_date", "2014-07-14"},
                                                {"dp_reservation_miceproject_id", "311"},
                                                {"dp_reservation_miceproject_name", "Conferinta anuala Tehnoplast"},
                                                {"dp_reservation_miceproject_code", "CONF14"},
                                                {"dp_reservation_user_lastname", "Dinu"},
                                                {"dp_reservation_user_firstname", "Radu"},
                                                {"dp_reservation_user_office", "Bucuresti Unirii"},
                                                {"dp_reservation_user_departament", "MICE"},
                                                {"dp_description", "Bilet avion OTP-FRA-OTP, 2 pasageri"},
                                                {"dp_measureunit", "buc"},
                                                {"dp_quantity", "2"},
                                                {"dp_unitprice", "546.3"},
                                                {"dp_value", "1092.6"},
                                                {"dp_vat", "13.2"},
                                                {"dp_vatpercent", "24"},
                                                {"dp_vatquota", "S"},
                                                {"dp_company", "Deutsche Lufthansa AG"},
                                                {"dp_company_cui", "DE122119035"},
                                                {"dp_departament", "Aviatie"},
                                                {"dp_cont_debit", "4111"},
                                                {"dp_cont_credit", "704"},
                                                {"dp_cont_tva", "4427"},
                                            };

// An empty ticket list, negative discounts, a reservation without a MICE project.
const Rows kRow2 =
    rowStart("90312", "2") + Rows{
                                 {"dp_tip", "service"},
                                 {"dp_location_code", "FRA"},
                                 {"dp_calculation_type_code", "NET"},
                                 {"dp_calculation_type", "Cost plus adaos"},
                                 {"dp_service_code", "HOT"},
                                 {"dp_service_name", "Cazare hotel"},
                                 {"dp_ticket_number", n},
                                 {"dp_offer_ext_id", "HB-77812093"},
                                 {"dp_offer_moneda", "EUR"},
                                 {"dp_offer_commissionable", "false"},
                                 {"dp_offer_supplier_value", "1120"},
                                 {"dp_offer_supplier_vat", "78.4"},
                                 {"dp_offer_commission_value", "112"},
                                 {"dp_offer_commission_vat", "26.88"},
                                 {"dp_offer_discount_value", "-20"},
                                 {"dp_offer_discount_vat", "-4.8"},
                                 {"dp_offer_service_fee_value", "0"},
                                 {"dp_offer_service_fee_vat", "0"},
                                 {"dp_offer_tax_value", "32"},
                                 {"dp_offer_tax_vat", "0"},
                                 {"dp_offer_penalty_value", "0"},
                                 {"dp_offer_penalty_vat", "0"},
                                 {"dp_reservation_number", "R-2014-06-1188"},
                                 {"dp_reservation_start_date", "2014-07-10"},
                                 {"dp_reservation_end_date", "2014-07-14"},
                                 {"dp_reservation_miceproject_id", n},
                                 {"dp_reservation_miceproject_name", n},
                                 {"dp_reservation_miceproject_code", n},
                                 {"dp_reservation_user_lastname", "Dinu"},
                                 {"dp_reservation_user_firstname", "Radu"},
                                 {"dp_reservation_user_office", "Bucuresti Unirii"},
                                 {"dp_reservation_user_departament", "MICE"},
                                 {"dp_description", "Cazare Frankfurt Marriott, 2 camere duble, 4 nopti"},
                                 {"dp_measureunit", "noapte"},
                                 {"dp_quantity", "8"},
                                 {"dp_unitprice", "155.5"},
                                 {"dp_value", "1244"},
                                 {"dp_vat", "100.48"},
                                 {"dp_vatpercent", "9"},
                                 {"dp_vatquota", "R"},
                                 {"dp_company", "Marriott Hotel Frankfurt"},
                                 {"dp_company_cui", "DE811234567"},
                                 {"dp_departament", "Cazare"},
                                 {"dp_cont_debit", "4111"},
                                 {"dp_cont_credit", "7041"},
                                 {"dp_cont_tva", "4427"},
                             };

// A fee: no location, tickets, offer, reservation or supplier; the quantity is kept as written.
const Rows kRow3 = rowStart("90313", "3") + Rows{
                                                {"dp_tip", "fee"},
                                                {"dp_location_code", n},
                                                {"dp_calculation_type_code", "FIX"},
                                                {"dp_calculation_type", "Tarif fix"},
                                                {"dp_service_code", "SF"},
                                                {"dp_service_name", "Taxa de serviciu"},
                                                {"dp_ticket_number", n},
                                                {"dp_offer_ext_id", n},
                                                {"dp_offer_moneda", n},
                                                {"dp_offer_commissionable", n},
                                                {"dp_offer_supplier_value", n},
                                                {"dp_offer_supplier_vat", n},
                                                {"dp_offer_commission_value", n},
                                                {"dp_offer_commission_vat", n},
                                                {"dp_offer_discount_value", n},
                                                {"dp_offer_discount_vat", n},
                                                {"dp_offer_service_fee_value", n},
                                                {"dp_offer_service_fee_vat", n},
                                                {"dp_offer_tax_value", n},
                                                {"dp_offer_tax_vat", n},
                                                {"dp_offer_penalty_value", n},
                                                {"dp_offer_penalty_vat", n},
                                                {"dp_reservation_number", n},
                                                {"dp_reservation_start_date", n},
                                                {"dp_reservation_end_date", n},
                                                {"dp_reservation_miceproject_id", n},
                                                {"dp_reservation_miceproject_name", n},
                                                {"dp_reservation_miceproject_code", n},
                                                {"dp_reservation_user_lastname", n},
                                                {"dp_reservation_user_firstname", n},
                                                {"dp_reservation_user_office", n},
                                                {"dp_reservation_user_departament", n},
                                                {"dp_description", "Consultanta organizare eveniment"},
                                                {"dp_measureunit", "ora"},
                                                {"dp_quantity", "1,5"},
                                                {"dp_unitprice", "40"},
                                                {"dp_value", "60"},
                                                {"dp_vat", "14.4"},
                                                {"dp_vatpercent", "24"},
                                                {"dp_vatquota", "S"},
                                                {"dp_company", n},
                                                {"dp_company_cui", n},
                                                {"dp_departament", n},
                                                {"dp_cont_debit", "4111"},
                                                {"dp_cont_credit", "706"},
                                                {"dp_cont_tva", "4427"},
                                            };

TEST_P(InvoiceImport, SampleInvoiceIsStagedColumnByColumnAndPosted) {
  ASSERT_EQ(import(kExample, example(kExample)), std::nullopt);
  EXPECT_EQ(columns("mivo_import_fc"), kHeader);
  EXPECT_EQ(db.count("mivo_import_fc_poz"), 3);
  EXPECT_EQ(columns("mivo_import_fc_poz", "dp_scv = 1"), kRow1);
  EXPECT_EQ(columns("mivo_import_fc_poz", "dp_scv = 2"), kRow2);
  EXPECT_EQ(columns("mivo_import_fc_poz", "dp_scv = 3"), kRow3);

  EXPECT_EQ(db.query("SELECT id::text, doc_type, serie, numar, data::text, data_scadenta::text, moneda, curs::text, "
                     "comentarii, partener_id::text, partener_tip, partener_nume, partener_cod_fiscal, emitent, "
                     "total_valoare::text, total_tva::text, nume_fisier FROM contab_factci"),
            (Rows{{"48213", "invoice", "MVB", "0004217", "2014-06-30", "2014-07-15", "EUR", "4.3892",
                   "Conferinta anuala Tehnoplast, Frankfurt, 10-14 iulie 2014", "1587", "corporate",
                   "Tehnoplast Industrie", "RO14399012", "Ioana Marinescu", "2396.6", "128.08", kExample}}));
  EXPECT_EQ(db.query("SELECT id_factura::text, pozitie::text, id_rand::text, tip, cod_serviciu, bilet, rezervare, "
                     "data_inceput::text, um, cantitate::text, pret_unitar::text, valoare::text, tva::text, "
                     "procent_tva::text, cota_tva, furnizor, cont_debit, cont_credit, cont_tva "
                     "FROM contab_factci_poz ORDER BY pozitie"),
            (Rows{{"48213", "1", "90311", "service", "AIR", "2202412345678", "R-2014-06-1187", "2014-07-10", "buc", "2",
                   "546.3", "1092.6", "13.2", "24", "S", "Deutsche Lufthansa AG", "4111", "704", "4427"},
                  {"48213", "2", "90312", "service", "HOT", n, "R-2014-06-1188", "2014-07-10", "noapte", "8", "155.5",
                   "1244", "100.48", "9", "R", "Marriott Hotel Frankfurt", "4111", "7041", "4427"},
                  {"48213", "3", "90313", "fee", "SF", n, n, n, "ora", "1.5", "40", "60", "14.4", "24", "S", n, "4111",
                   "706", "4427"}}));
}

TEST_P(InvoiceImport, CorporateSampleMixesTwoCentralOffices) {
  ASSERT_EQ(import(kCorporateExample, example(kCorporateExample)), std::nullopt);
  // The later central office lacks a bank: its name and address win, the bank stays the earlier one's.
  EXPECT_EQ(db.query("SELECT pj_c_office_name, pj_c_office_adresa, pj_c_office_banca_nume, pj_s_office_name, "
                     "pf_firstname FROM mivo_import_fc"),
            (Rows{{"Sediul social (mutat)", "Bd. Republicii 9", "CEC Bank", "Sucursala Timisoara", n}}));
  EXPECT_EQ(db.query("SELECT dp_scv::text, dp_ticket_number, dp_offer_discount_value::text, "
                     "dp_offer_penalty_value::text FROM mivo_import_fc_poz ORDER BY dp_scv"),
            (Rows{{"1", "2812400011223", n, n}, {"2", n, n, "100"}}));
  EXPECT_EQ(db.query("SELECT partener_nume, partener_cod_fiscal, total_valoare::text FROM contab_factci"),
            (Rows{{"Energo Montaj", "RO2817734", "2616.96"}}));
}

// ---- Header ----

TEST_P(InvoiceImport, OnlyAnIdYieldsOneBareHeaderAndTheFunctionStillRuns) {
  countCalls();
  for (const char* doc : {"<invoice id='5'/>", "<invoice id='5'><invoiceRows/></invoice>"}) {
    ASSERT_EQ(import("a_invoice.xml", doc), std::nullopt) << doc;
    EXPECT_EQ(filled("mivo_import_fc"), (Rows{{"nume_fisier", "a_invoice.xml"}, {"id", "5"}})) << doc;
    EXPECT_EQ(db.count("mivo_import_fc_poz"), 0) << doc;
  }
  EXPECT_EQ(db.count("calls"), 2);
}

TEST_P(InvoiceImport, EmptyOrMissingHeaderValuesLeaveNulls) {
  countCalls();
  ASSERT_EQ(import("a_invoice.xml",
                   "<invoice id='6' docType=''><invoiceDate/><invoiceSeries></invoiceSeries>"
                   "<currency>RON</currency><responsibleUser><lastName>Marinescu</lastName></responsibleUser>"
                   "</invoice>"),
            std::nullopt);
  // An empty attribute is an empty text; no client, no exchange rate, no release date: NULL.
  EXPECT_EQ(filled("mivo_import_fc"), (Rows{{"nume_fisier", "a_invoice.xml"},
                                            {"id", "6"},
                                            {"doc_type", ""},
                                            {"moneda", "RON"},
                                            {"emitent_resp_lastname", "Marinescu"}}));
}

TEST_P(InvoiceImport, MissingIdFailsBeforeAnyRowIsStaged) {
  ASSERT_EQ(import(kExample, example(kExample)), std::nullopt);
  const auto err = import("b_invoice.xml",
                          "<invoice operation='insert'><invoiceNumber>7</invoiceNumber>"
                          "<invoiceRows><row id='1'/><row id='2'/></invoiceRows></invoice>");
  ASSERT_TRUE(err.has_value());
  EXPECT_NE(err->find("23502"), std::string::npos) << *err;  // not-null violation
  EXPECT_NE(err->find("\"id\""), std::string::npos) << *err;
  EXPECT_EQ(db.count("mivo_import_fc"), 0);
  EXPECT_EQ(db.count("mivo_import_fc_poz"), 0);
  // The function did not run: the earlier posting is untouched.
  EXPECT_EQ(db.scalar("SELECT nume_fisier FROM contab_factci"), kExample);
}

// ---- Invoice rows ----

TEST_P(InvoiceImport, RowsTakeTheirPositionAndTheHeaderColumns) {
  countCalls();
  ASSERT_EQ(import("c_invoice.xml",
                   "<invoice id='900' operation='update'><invoiceNumber>0042</invoiceNumber>"
                   "<invoiceSeries>MVB</invoiceSeries><invoiceDate>01.07.2014</invoiceDate>"
                   "<invoiceRows><row id='13'/><line><type>fee</type></line><row id='11'/></invoiceRows></invoice>"),
            std::nullopt);
  // Document order, whatever the rows' names; an invoice row without id has dp_id_scv NULL.
  EXPECT_EQ(db.query("SELECT nume_fisier, operation, invoice_number, invoice_series, invoice_date::text, "
                     "dp_id::text, dp_id_scv::text, dp_scv::text, dp_tip FROM mivo_import_fc_poz ORDER BY ctid"),
            (Rows{{"c_invoice.xml", "update", "0042", "MVB", "2014-07-01", "900", "13", "1", n},
                  {"c_invoice.xml", "update", "0042", "MVB", "2014-07-01", "900", n, "2", "fee"},
                  {"c_invoice.xml", "update", "0042", "MVB", "2014-07-01", "900", "11", "3", n}}));

  // Header columns that are NULL are copied as NULL.
  ASSERT_EQ(import("d_invoice.xml", "<invoice id='901'><invoiceRows><row/></invoiceRows></invoice>"), std::nullopt);
  EXPECT_EQ(filled("mivo_import_fc_poz"), (Rows{{"nume_fisier", "d_invoice.xml"}, {"dp_id", "901"}, {"dp_scv", "1"}}));
}

TEST_P(InvoiceImport, RowEdgeCases) {
  countCalls();
  ASSERT_EQ(
      import("e_invoice.xml",
             "<invoice id='1'><invoiceRows>"
             // 1: the first of two tickets
             "<row><service><ticketsList><ticket number='A1'/><ticket number='A2'/></ticketsList></service></row>"
             // 2: a first ticket without number hides the second's
             "<row><service><ticketsList><ticket/><ticket number='B2'/></ticketsList></service></row>"
             // 3: the supplier's Departament only; exportConfigs names matched exactly
             "<row><supplier><Departament>Aviatie</Departament><departament>x</departament></supplier>"
             "<exportConfigs><Departament>Alt</Departament><Cont_tva>4427</Cont_tva><cont_debit>1</cont_debit>"
             "<Cont_credit>704</Cont_credit></exportConfigs></row>"
             // 4: a quantity with a comma stays text, the same text as a price converts
             "<row><quantity>1,5</quantity><unitPrice>1,5</unitPrice><vatQuota>9,0</vatQuota></row>"
             // 5: empty attributes are texts; an empty element is NULL
             "<row><location code=''/><calculationType code='C'/><service code='' name='X'/></row>"
             // 6: the invoice's responsibleUser is not the reservation's
             "<row><responsibleUser><lastName>Nu</lastName></responsibleUser>"
             "<reservation number='R1'><responsibleUser><lastName>Da</lastName></responsibleUser></reservation></row>"
             "</invoiceRows></invoice>"),
      std::nullopt);
  const auto row = [&](int scv) { return filled("mivo_import_fc_poz", "dp_scv = " + std::to_string(scv)); };
  const Rows key = {{"nume_fisier", "e_invoice.xml"}, {"dp_id", "1"}};
  const auto at = [&](int scv) { return key + Rows{{"dp_scv", std::to_string(scv)}}; };
  EXPECT_EQ(row(1), (at(1) + Rows{{"dp_ticket_number", "A1"}}));
  EXPECT_EQ(row(2), at(2));
  EXPECT_EQ(row(3), (at(3) + Rows{{"dp_departament", "Aviatie"}, {"dp_cont_credit", "704"}}));
  EXPECT_EQ(row(4), (at(4) + Rows{{"dp_quantity", "1,5"}, {"dp_unitprice", "1.5"}, {"dp_vatquota", "9,0"}}));
  EXPECT_EQ(row(5), (at(5) + Rows{{"dp_location_code", ""},
                                  {"dp_calculation_type_code", "C"},
                                  {"dp_service_code", ""},
                                  {"dp_service_name", "X"}}));
  EXPECT_EQ(row(6), (at(6) + Rows{{"dp_reservation_number", "R1"}, {"dp_reservation_user_lastname", "Da"}}));
}

// ---- Failures ----

struct BadValue {
  const char* name;
  const char* header;      // extra header content
  const char* badRow;      // the third of five rows
  long stagedRows;         // rows left in mivo_import_fc_poz
  const char* message[3];  // parts of the failure message
};

const BadValue kBadValues[] = {
    {"UnitPrice",
     "",
     "<row id='3'><unitPrice>12 lei</unitPrice></row>",
     2,
     {"12 lei", "dp_unitprice", "double precision"}},
    {"OfferValue",
     "",
     "<row id='3'><service><offerComponents><taxValue>1.2.3</taxValue></offerComponents></service></row>",
     2,
     {"1.2.3", "taxValue", "dp_offer_tax_value"}},
    {"ReservationDate",
     "",
     "<row id='3'><reservation><endDate>2014-02-30</endDate></reservation></row>",
     2,
     {"2014-02-30", "dp_reservation_end_date", "date"}},
    {"MiceProjectId",
     "",
     "<row id='3'><reservation><miceProject id='P-1'/></reservation></row>",
     2,
     {"P-1", "dp_reservation_miceproject_id", "bigint"}},
    {"EmptyRowId", "", "<row id=''/>", 2, {"atributul \"id\"", "dp_id_scv", "bigint"}},
    {"ElementInText",
     "",
     "<row id='3'><description>Bilet <b>avion</b></description></row>",
     2,
     {"Element \"description\" does not contain a single text node", "", ""}},
    {"ExchangeRate",
     "<currency exchangeRate='4.38.92'>EUR</currency>",
     "<row id='3'/>",
     0,
     {"4.38.92", "curs", "double precision"}},
    {"DueDate", "<dueDate>31/07/2014</dueDate>", "<row id='3'/>", 0, {"31/07/2014", "data_scadenta", "date"}},
    {"PartnerId", "<client id='C1587'/>", "<row id='3'/>", 0, {"C1587", "partener_id", "bigint"}},
};

TEST_P(InvoiceImport, BadValueFailsTheFileKeepingTheRowsBeforeIt) {
  ASSERT_EQ(import(kExample, example(kExample)), std::nullopt);
  for (const auto& c : kBadValues) {
    const auto err = import("f_invoice.xml", std::string("<invoice id='77'>") + c.header +
                                                 "<invoiceRows><row id='1'/><row id='2'/>" + c.badRow +
                                                 "<row id='4'/><row id='5'/></invoiceRows></invoice>");
    ASSERT_TRUE(err.has_value()) << c.name;
    for (const char* part : c.message) EXPECT_NE(err->find(part), std::string::npos) << c.name << ": " << *err;
    EXPECT_EQ(db.query("SELECT string_agg(dp_id_scv::text, ',' ORDER BY dp_scv) FROM mivo_import_fc_poz"),
              (Rows{{c.stagedRows == 0 ? std::nullopt : std::optional<std::string>("1,2")}}))
        << c.name;
    // No server function ran for the file.
    EXPECT_EQ(db.query("SELECT id::text, nume_fisier FROM contab_factci"), (Rows{{"48213", kExample}})) << c.name;
  }
}

// ---- Posting ----

TEST_P(InvoiceImport, ImportedAgainReplacesTheEarlierPosting) {
  ASSERT_EQ(import(kExample, example(kExample)), std::nullopt);
  ASSERT_EQ(import(kCorporateExample, example(kCorporateExample)), std::nullopt);
  // The same invoice again, now with one row and another partner.
  ASSERT_EQ(import("z_invoice.xml",
                   "<invoice id='48213' operation='update'><invoiceNumber>0004217</invoiceNumber>"
                   "<invoiceDate>2014-06-30</invoiceDate><client id='9'><individualDetails><firstName>Ana</firstName>"
                   "<lastName>Pop</lastName><PNC>2900101</PNC></individualDetails></client>"
                   "<invoiceRows><row id='1'><quantity> 3 </quantity><value>10.10</value><vat>2.02</vat></row>"
                   "</invoiceRows></invoice>"),
            std::nullopt);
  EXPECT_EQ(db.query("SELECT id::text, operation, partener_nume, partener_cod_fiscal, total_valoare::text, "
                     "nume_fisier FROM contab_factci ORDER BY id"),
            (Rows{{"48213", "update", "Ana Pop", "2900101", "10.1", "z_invoice.xml"},
                  {"48240", "insert", "Energo Montaj", "RO2817734", "2616.96", kCorporateExample}}));
  EXPECT_EQ(db.query("SELECT id_factura::text, count(*)::text FROM contab_factci_poz GROUP BY 1 ORDER BY 1"),
            (Rows{{"48213", "1"}, {"48240", "2"}}));
  EXPECT_EQ(db.scalar("SELECT cantitate::text FROM contab_factci_poz WHERE id_factura = 48213"), "3");

  // Operation "delete" removes the posting, and only that one.
  ASSERT_EQ(import("y_invoice.xml", "<invoice id='48213' operation='delete'/>"), std::nullopt);
  EXPECT_EQ(db.query("SELECT id::text FROM contab_factci"), (Rows{{"48240"}}));
  EXPECT_EQ(db.count("contab_factci_poz"), 2);
}

TEST_P(InvoiceImport, UnpostableInvoiceFailsWithAClearMessage) {
  ASSERT_EQ(import(kExample, example(kExample)), std::nullopt);
  struct Case {
    const char* doc;
    const char* message;
  };
  const char* valid = "<invoiceNumber>0004217</invoiceNumber><invoiceDate>2014-06-30</invoiceDate><client id='1'/>";
  const Case cases[] = {
      {"<invoice id='48213'><invoiceDate>2014-06-30</invoiceDate><client id='1'/></invoice>",
       "Factura 48213 din fisierul u_invoice.xml nu are numar (invoiceNumber)"},
      {"<invoice id='48213'><invoiceNumber>1</invoiceNumber><client id='1'/></invoice>",
       "Factura 48213 din fisierul u_invoice.xml nu are data (invoiceDate)"},
      {"<invoice id='48213'><invoiceNumber>1</invoiceNumber><invoiceDate>2014-06-30</invoiceDate></invoice>",
       "Factura 48213 din fisierul u_invoice.xml nu are client (client/@id)"},
  };
  std::vector<Case> all(std::begin(cases), std::end(cases));
  const std::string badQuantity = std::string("<invoice id='48213'>") + valid +
                                  "<invoiceRows><row><quantity>1</quantity></row><row><quantity>doi</quantity></row>"
                                  "<row><quantity>1.</quantity></row></invoiceRows></invoice>";
  all.push_back({badQuantity.c_str(),
                 "Factura 48213 din fisierul u_invoice.xml: randul 2 are cantitatea \"doi\", care nu este un numar "
                 "(quantity)"});
  for (const auto& c : all) {
    const auto err = import("u_invoice.xml", c.doc);
    ASSERT_TRUE(err.has_value()) << c.doc;
    EXPECT_NE(err->find(c.message), std::string::npos) << *err;
    EXPECT_NE(err->find("P0001"), std::string::npos) << *err;
    // The staged rows stay; the earlier posting is untouched.
    EXPECT_EQ(db.scalar("SELECT nume_fisier FROM mivo_import_fc"), "u_invoice.xml");
    EXPECT_EQ(db.query("SELECT nume_fisier, numar FROM contab_factci"), (Rows{{kExample, "0004217"}}));
    EXPECT_EQ(db.count("contab_factci_poz"), 3);
  }
  // The connection is usable after the failures.
  EXPECT_EQ(import(kCorporateExample, example(kCorporateExample)), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Policies, InvoiceImport, ::testing::Values(Policy::Fast, Policy::Original),
                         [](const auto& p) { return p.param == Policy::Fast ? "Fast" : "Original"; });

// ---- The staging tables as declared, and a whole run ----

using InvoiceTables = ImportTest;

TEST_F(InvoiceTables, DeclaredTypesKeyAndNoDefaults) {
  TDataModule2 dm(settings());
  dm.Connect();
  dm.PgScript_temp_mivo_import_fc.Execute();
  const std::string columns =
      "SELECT column_name::text, data_type::text, is_nullable::text FROM information_schema.columns "
      "WHERE table_schema = current_schema() AND table_name = $1 AND (data_type <> 'text' OR is_nullable = 'NO') "
      "ORDER BY ordinal_position";
  // Every other column is a nullable text.
  EXPECT_EQ(db.query(columns, {"mivo_import_fc"}), (Rows{{"nume_fisier", "text", "NO"},
                                                         {"id", "bigint", "NO"},
                                                         {"invoice_date", "date", "YES"},
                                                         {"curs", "double precision", "YES"},
                                                         {"data_scadenta", "date", "YES"},
                                                         {"partener_id", "bigint", "YES"},
                                                         {"emitent_resp_ci_data_elib", "date", "YES"}}));
  const std::string d = "double precision";
  EXPECT_EQ(db.query(columns, {"mivo_import_fc_poz"}), (Rows{{"invoice_date", "date", "YES"},
                                                             {"dp_id", "bigint", "YES"},
                                                             {"dp_id_scv", "bigint", "YES"},
                                                             {"dp_scv", "integer", "YES"},
                                                             {"dp_offer_supplier_value", d, "YES"},
                                                             {"dp_offer_supplier_vat", d, "YES"},
                                                             {"dp_offer_commission_value", d, "YES"},
                                                             {"dp_offer_commission_vat", d, "YES"},
                                                             {"dp_offer_discount_value", d, "YES"},
                                                             {"dp_offer_discount_vat", d, "YES"},
                                                             {"dp_offer_service_fee_value", d, "YES"},
                                                             {"dp_offer_service_fee_vat", d, "YES"},
                                                             {"dp_offer_tax_value", d, "YES"},
                                                             {"dp_offer_tax_vat", d, "YES"},
                                                             {"dp_offer_penalty_value", d, "YES"},
                                                             {"dp_offer_penalty_vat", d, "YES"},
                                                             {"dp_reservation_start_date", "date", "YES"},
                                                             {"dp_reservation_end_date", "date", "YES"},
                                                             {"dp_reservation_miceproject_id", "bigint", "YES"},
                                                             {"dp_unitprice", d, "YES"},
                                                             {"dp_value", d, "YES"},
                                                             {"dp_vat", d, "YES"},
                                                             {"dp_vatpercent", d, "YES"}}));
  EXPECT_EQ(db.query("SELECT conrelid::regclass::text, conname::text, pg_get_constraintdef(oid) FROM pg_constraint "
                     "WHERE conrelid IN ('mivo_import_fc'::regclass, 'mivo_import_fc_poz'::regclass)"),
            (Rows{{"mivo_import_fc", "r_mivo_import_fc", "PRIMARY KEY (nume_fisier, id)"}}));
  EXPECT_EQ(db.scalar("SELECT count(*) FROM information_schema.columns WHERE table_schema = current_schema() "
                      "AND table_name IN ('mivo_import_fc', 'mivo_import_fc_poz') AND column_default IS NOT NULL"),
            "0");
}

TEST_F(InvoiceTables, RunPostsTheSamplesAndFailsABadFile) {
  drop(kExample, example(kExample));
  drop(kCorporateExample, example(kCorporateExample));
  drop("2014-07-03_10-00-00.1_invoice.xml", "<invoice><invoiceNumber>1</invoiceNumber></invoice>");
  drop("2014-07-03_10-00-01.1_invoice.xml", "<supplierInvoice id='1'/>");
  TDataModule2 dm(settings());
  dm.DataModuleCreate();
  EXPECT_EQ(dm.totals.imported, 2u);
  EXPECT_EQ(dm.totals.notAdmitted, 1u);
  EXPECT_EQ(dm.totals.failed, 1u);
  EXPECT_EQ(testing_support::listFolder(processed()),
            (std::vector<std::string>{kExample, kCorporateExample, "2014-07-03_10-00-01.1_invoice.xml"}));
  EXPECT_EQ(testing_support::listFolder(failed()), (std::vector<std::string>{"2014-07-03_10-00-00.1_invoice.xml"}));
  EXPECT_EQ(db.query("SELECT id::text FROM contab_factci ORDER BY id"), (Rows{{"48213"}, {"48240"}}));
  EXPECT_EQ(db.query("SELECT nume_fisier FROM mivo_import_log_err"), (Rows{{"2014-07-03_10-00-00.1_invoice.xml"}}));
}

}  // namespace
