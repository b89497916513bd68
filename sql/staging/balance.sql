drop table if exists mivo_import_invoice_balances;
create table mivo_import_invoice_balances (
  nume_fisier text,
  operation text,
  nr_decont text,
  data_decont date,
  id_invoice bigint,
  id_row bigint,
  data_doc date,
  tip_doc text,
  nr_doc text
);
