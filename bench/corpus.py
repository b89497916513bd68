#!/usr/bin/env python3
"""Writes a batch of Mivo documents for the benchmark and the soak test.

The documents are the sample files of examples/ with their ids, numbers, dates, amounts and row counts
varied: mostly client invoices with 1 to 50 rows, then cashings of the four kinds, supplier invoices,
payments, invoice balances with up to 100 records, a few corporations and suppliers, and a few bad
files (not well-formed, a value that does not convert, a quantity the server refuses, a document of the
wrong kind, an unrecognised name). The same seed and size always give the same files.

    bench/corpus.py --files 2000 --seed 1 --out DIR
    bench/corpus.py --big-invoice-mb 100 --out DIR     one client invoice of about 100 MB
"""

import argparse
import copy
import datetime
import os
import random
import sys
import xml.etree.ElementTree as ET

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples")
DECLARATION = '<?xml version="1.0" encoding="UTF-8"?>\n'

# Share of each kind in a batch, in files per thousand; the bad files come on top.
MIX = [
    ("invoice", 600),
    ("cashing_paymentOrder", 60),
    ("cashing_creditCard", 50),
    ("cashing_receipt", 40),
    ("cashing_minuteOfRefund", 15),
    ("cashing_tradeExchange", 20),
    ("supplierInvoices", 100),
    ("payment", 70),
    ("balance", 25),
    ("corporations", 10),
    ("suppliers", 10),
]
BAD_PER_THOUSAND = 10

SUFFIX = {
    "invoice": "_invoice.xml",
    "cashing_paymentOrder": "_cashing_paymentOrder.xml",
    "cashing_creditCard": "_cashing_creditCard.xml",
    "cashing_receipt": "_cashing_receipt.xml",
    "cashing_minuteOfRefund": "_cashing_minuteOfRefund.xml",
    "cashing_tradeExchange": "_cashing_tradeExchange.xml",
    "supplierInvoices": "_supplierInvoices.xml",
    "payment": "_payment.xml",
    "balance": "_balance.xml",
    "corporations": "_corporations.xml",
    "suppliers": "_suppliers.xml",
}

CURRENCIES = [("RON", 1.0, 1.0), ("EUR", 4.38, 4.45), ("USD", 3.15, 3.40)]
COMMENTS = [
    "Sejur Antalya, grup {n}",
    "Deplasare echipa service, comanda {n}",
    "Conferinta anuala, Frankfurt, proiect {n}",
    "Bilete avion OTP-LHR-OTP, rezervare {n}",
    "Circuit Italia, contract {n}/2014",
    "Cazare Mamaia, grup scolar {n}",
]
FIRST = ["Andrei", "Ioana", "Mihai", "Elena", "Radu", "Maria", "Ana", "Vlad", "Cristina", "Dan"]
LAST = ["Popescu", "Ionescu", "Marinescu", "Dinu", "Stan", "Georgescu", "Dumitrescu", "Marin", "Pop", "Rusu"]
COMPANIES = ["Tehnoplast Industrie", "Energo Montaj", "Alfa Turism", "Carpatica Industrial", "Hotel Bucegi",
             "Delta Consult", "Mures Logistic", "Vest Construct", "Nord Impex", "Dunarea Trans"]


def template(suffix):
    for name in sorted(os.listdir(EXAMPLES)):
        if name.endswith(suffix):
            yield ET.parse(os.path.join(EXAMPLES, name)).getroot()


def serialize(root):
    return DECLARATION + ET.tostring(root, encoding="unicode") + "\n"


def set_text(node, path, value):
    found = node.find(path)
    if found is not None:
        found.text = value


class Batch:
    def __init__(self, seed):
        self.r = random.Random(seed)
        self.clock = datetime.datetime(2014, 7, 1, 8, 0, 0)
        self.next_id = 200000
        self.next_row = 5000000
        self.templates = {kind: list(template(SUFFIX[kind])) for kind in SUFFIX}
        self.invoice_ids = []

    # ---- small values ----
    def new_id(self):
        self.next_id += self.r.randint(1, 3)
        return self.next_id

    def row_id(self):
        self.next_row += 1
        return self.next_row

    def amount(self, low, high):
        return round(self.r.uniform(low, high), 2)

    def day(self, back=0):
        return (self.clock - datetime.timedelta(days=back)).date()

    def name(self, kind):
        self.clock += datetime.timedelta(seconds=self.r.randint(1, 40))
        fraction = "".join(str(self.r.randint(0, 9)) for _ in range(14))
        return self.clock.strftime("%Y-%m-%d_%H-%M-%S.") + fraction + SUFFIX[kind]

    def currency(self, node):
        code, low, high = self.r.choice(CURRENCIES)
        cur = node.find("currency")
        if cur is not None:
            cur.text = code
            cur.set("exchangeRate", "1" if code == "RON" else f"{self.r.uniform(low, high):.4f}")
        return code

    def remarks(self, node, count):
        items = node.find("remarks/attributes")
        if items is None:
            return
        models = list(items)
        for item in models:
            items.remove(item)
        for i in range(count):
            item = copy.deepcopy(models[i % len(models)])
            if item.text:
                item.text = f"{item.text.split('-')[0]}-{self.r.randint(100, 99999)}"
            items.append(item)

    def client(self, node):
        client = node.find(".//client")
        if client is None:
            return
        client.set("id", str(self.r.randint(1000, 99999)))
        set_text(client, ".//PNC", f"{self.r.choice('12')}{self.r.randint(10**11, 10**12 - 1)}")
        set_text(client, ".//firstName", self.r.choice(FIRST))
        set_text(client, ".//lastName", self.r.choice(LAST))
        set_text(client, "corporateDetails/company", self.r.choice(COMPANIES))
        code = f"RO{self.r.randint(100000, 99999999)}"
        set_text(client, "corporateDetails/fiscalCode", code)
        set_text(client, "corporateDetails/vatCertificateNumber", code)

    def user(self, node):
        set_text(node, "responsibleUser/firstName", self.r.choice(FIRST))
        set_text(node, "responsibleUser/lastName", self.r.choice(LAST))

    # ---- the kinds ----
    def invoice_row(self, model, position_id):
        row = copy.deepcopy(model)
        row.set("id", str(position_id))
        quantity = self.r.randint(1, 12)
        price = self.amount(10, 900)
        value = round(quantity * price, 2)
        vat_percent = self.r.choice([0, 9, 24])
        set_text(row, "quantity", str(quantity) if self.r.random() < 0.9 else f"{quantity},5")
        set_text(row, "unitPrice", f"{price:.2f}")
        set_text(row, "value", f"{value:.2f}")
        set_text(row, "vat", f"{value * vat_percent / 100:.2f}")
        set_text(row, "vatPercent", str(vat_percent))
        for ticket in row.iter("ticket"):
            ticket.set("number", str(self.r.randint(10**12, 10**13 - 1)))
        reservation = row.find("reservation")
        if reservation is not None:
            reservation.set("number", f"R-2014-{self.r.randint(1, 12):02d}-{self.r.randint(1, 9999):04d}")
            start = self.day(-self.r.randint(1, 60))
            set_text(reservation, "startDate", start.isoformat())
            set_text(reservation, "endDate", (start + datetime.timedelta(days=self.r.randint(1, 14))).isoformat())
        offer = row.find("service/offerComponents")
        if offer is not None:
            for component in offer:
                if component.text and component.text[0].isdigit() and component.text != "0":
                    component.text = f"{self.amount(1, 1500):.2f}"
        return row

    def invoice_rows(self):
        # Most invoices are short; a few reach 50 rows.
        return min(50, 1 + int(self.r.expovariate(1 / 7)))

    def invoice(self, rows=None):
        root = copy.deepcopy(self.r.choice(self.templates["invoice"]))
        invoice_id = self.new_id()
        if self.invoice_ids and self.r.random() < 0.02:
            # Now and then an invoice is sent again, changed: it replaces its earlier posting.
            invoice_id = self.r.choice(self.invoice_ids)
            root.set("operation", "update")
        self.invoice_ids.append(invoice_id)
        root.set("id", str(invoice_id))
        set_text(root, "invoiceNumber", f"{invoice_id % 10**7:07d}")
        set_text(root, "invoiceSeries", self.r.choice(["MVB", "MVC", "MVT"]))
        set_text(root, "invoiceDate", self.clock.strftime("%Y-%m-%dT%H:%M:%S"))
        set_text(root, "dueDate", self.day(-self.r.choice([15, 30, 45])).isoformat())
        set_text(root, "invoiceComments", self.r.choice(COMMENTS).format(n=self.r.randint(1, 999)))
        self.currency(root)
        self.client(root)
        self.user(root)
        holder = root.find("invoiceRows")
        models = list(holder)
        for row in models:
            holder.remove(row)
        count = self.invoice_rows() if rows is None else rows
        for _ in range(count):
            holder.append(self.invoice_row(self.r.choice(models), self.row_id()))
        if count:
            holder[-1].tail = models[-1].tail
        return root

    def cashing(self, kind):
        root = copy.deepcopy(self.templates[kind][0])
        root.set("id", str(self.new_id()))
        set_text(root, "docNumber", f"{root.findtext('docNumber').split('-')[0]}-{self.r.randint(1, 99999)}")
        set_text(root, "docDate", self.day().isoformat() + "T00:00:00")
        value = self.amount(50, 9000)
        if kind == "cashing_minuteOfRefund":
            value = -value
        set_text(root, "value", f"{value:.2f}")
        set_text(root, "invoiceCashedValue", f"{value:.2f}")
        self.currency(root)
        details = root.find("invoiceDetails")
        details.set("id", f"{self.r.randint(1, 10**6):07d}")
        set_text(details, "invoiceNumber", f"MV-{self.r.randint(1000, 99999)}")
        set_text(details, "invoiceDate", self.day(self.r.randint(0, 40)).isoformat() + "T00:00:00")
        set_text(details, "invoiceTotalValue", f"{abs(value) * self.r.choice([1, 1, 2]):.2f}")
        self.client(root)
        self.user(root)
        self.remarks(root, self.r.randint(0, 3))
        return root

    def supplier_invoice(self):
        root = copy.deepcopy(self.templates["supplierInvoices"][0])
        invoice_id = self.new_id()
        root.set("id", str(invoice_id))
        set_text(root, "invoiceNumber", f"{invoice_id % 10**7:07d}")
        set_text(root, "invoiceDate", self.day(self.r.randint(0, 10)).isoformat() + "T00:00:00")
        set_text(root, "dueDate", self.day(-30).isoformat())
        self.currency(root)
        root.find("supplier").set("id", str(self.r.randint(1000, 9999)))
        self.user(root)
        self.remarks(root, self.r.randint(0, 2))
        holder = root.find("invoiceRows")
        models = list(holder)
        for row in models:
            holder.remove(row)
        for _ in range(min(20, 1 + int(self.r.expovariate(1 / 3)))):
            row = copy.deepcopy(self.r.choice(models))
            row.set("id", str(self.row_id()))
            quantity = self.r.randint(1, 10)
            price = self.amount(10, 400)
            set_text(row, "quantity", str(quantity))
            set_text(row, "unitPrice", f"{price:.2f}")
            set_text(row, "value", f"{quantity * price:.2f}")
            set_text(row, "reservationNumber", f"BV-{self.r.randint(10000, 99999)}")
            set_text(row, "passenger/lastName", self.r.choice(LAST))
            set_text(row, "passenger/firstName", self.r.choice(FIRST))
            holder.append(row)
        holder[-1].tail = models[-1].tail
        return root

    def payment(self):
        root = copy.deepcopy(self.templates["payment"][0])
        root.set("id", str(self.new_id()))
        set_text(root, "docNumber", str(self.r.randint(1, 99999)))
        set_text(root, "docDate", self.clock.strftime("%Y-%m-%dT%H:%M:%S"))
        value = self.amount(100, 20000)
        set_text(root, "value", f"{value:.2f}")
        set_text(root, "invoicePayedValue", f"{value * self.r.choice([1, 0.5, 0.25]):.2f}")
        self.currency(root)
        details = root.find("invoiceDetails")
        details.set("id", str(self.r.randint(10000, 999999)))
        set_text(details, "invoiceNumber", f"HBV {self.r.randint(1, 9999999):07d}")
        set_text(details, "invoiceDate", self.day(self.r.randint(1, 60)).isoformat())
        details.find("supplier").set("id", str(self.r.randint(1000, 9999)))
        self.user(root)
        self.remarks(root, self.r.randint(0, 3))
        return root

    def balance(self):
        root = copy.deepcopy(self.templates["balance"][0])
        set_text(root, "balanceDetails/number", f"DEC-2014-{self.new_id()}")
        set_text(root, "balanceDetails/date", self.clock.strftime("%Y-%m-%dT%H:%M:%S"))
        records = self.r.randint(1, 100)
        client_records = self.r.randint(0, records)

        def record(model):
            node = copy.deepcopy(model)
            node.set("idInvoice", str(self.r.randint(100000, 999999)))
            node.set("id", str(self.row_id()))
            set_text(node, "invoiceNumber", f"{node.findtext('invoiceNumber').split()[0]} {self.r.randint(1, 999999)}")
            set_text(node, "invoiceDate", self.day(self.r.randint(1, 60)).isoformat())
            return node

        services = root.find("clientServices")
        service_models = list(services)
        invoice_model = service_models[0].find("invoices")[0]
        for s in service_models:
            services.remove(s)
        left = client_records
        while left > 0:
            service = copy.deepcopy(self.r.choice(service_models))
            holder = service.find("invoices")
            for node in list(holder):
                holder.remove(node)
            take = min(left, self.r.randint(1, 10))
            for _ in range(take):
                holder.append(record(invoice_model))
            left -= take
            services.append(service)
        suppliers = root.find("supplierInvoices")
        supplier_model = suppliers[0]
        for node in list(suppliers):
            suppliers.remove(node)
        for _ in range(records - client_records):
            suppliers.append(record(supplier_model))
        return root

    def corporation(self):
        root = copy.deepcopy(self.templates["corporations"][0])
        root.set("id", str(self.new_id()))
        root.set("operation", self.r.choice(["insert", "update"]))
        company = self.r.choice(COMPANIES)
        set_text(root, "company", company)
        set_text(root, "alias", company.upper()[:16])
        code = f"RO{self.r.randint(100000, 99999999)}"
        set_text(root, "fiscalCode", code)
        offices = root.find("offices")
        models = list(offices)
        for office in models:
            offices.remove(office)
        for i in range(self.r.randint(1, 4)):
            office = copy.deepcopy(models[i % len(models)])
            office.set("id", str(self.row_id()))
            office.set("mainOffice", "true" if i == 0 else "false")
            offices.append(office)
        return root

    def supplier(self):
        root = copy.deepcopy(self.templates["suppliers"][0])
        root.set("id", str(self.new_id()))
        set_text(root, "company", self.r.choice(COMPANIES))
        code = f"RO{self.r.randint(100000, 99999999)}"
        set_text(root, "fiscalCode", code)
        set_text(root, "vatCertificateNumber", code)
        accounts = root.find("bankAccountsList")
        for account in list(accounts)[self.r.randint(0, 3):]:
            accounts.remove(account)
        return root

    def document(self, kind):
        if kind == "invoice":
            return self.invoice()
        if kind.startswith("cashing_"):
            return self.cashing(kind)
        return {
            "supplierInvoices": self.supplier_invoice,
            "payment": self.payment,
            "balance": self.balance,
            "corporations": self.corporation,
            "suppliers": self.supplier,
        }[kind]()

    # ---- bad files ----
    def bad(self, which):
        """A file that fails (or is set aside), by design; returns (name, text)."""
        if which == 0:  # not well-formed: cut off in the middle
            text = serialize(self.invoice())
            return self.name("invoice"), text[: len(text) * 2 // 3]
        if which == 1:  # a date that does not exist
            root = self.balance()
            root.find(".//invoiceDate").text = "31.06.2014"
            return self.name("balance"), serialize(root)
        if which == 2:  # a quantity that is not a number: the server refuses the invoice
            root = self.invoice()
            root.find("invoiceRows")[-1].find("quantity").text = "doua"
            return self.name("invoice"), serialize(root)
        if which == 3:  # an amount that does not convert
            root = self.cashing("cashing_paymentOrder")
            root.find("value").text = "12.450,50 lei"
            return self.name("cashing_paymentOrder"), serialize(root)
        if which == 4:  # a document of another kind under an invoice name: set aside, not imported
            return self.name("invoice"), DECLARATION + "<statement>Extras de cont</statement>\n"
        # a name of no known kind
        self.clock += datetime.timedelta(seconds=1)
        return self.clock.strftime("%Y-%m-%d_%H-%M-%S.00000000000001_statement.xml"), (
            DECLARATION + "<statement>Extras de cont</statement>\n")


def plan(files, r):
    """The kinds of a batch of `files` files, in the order they are written (bad files as None)."""
    bad = max(1, files * BAD_PER_THOUSAND // 1000) if files >= 20 else 0
    good = files - bad
    total = sum(share for _, share in MIX)
    kinds = []
    for kind, share in MIX:
        kinds += [kind] * max(1, round(good * share / total))
    while len(kinds) > good:  # rounding: take back from the largest kind
        kinds.remove("invoice")
    while len(kinds) < good:
        kinds.append("invoice")
    kinds += [None] * bad
    r.shuffle(kinds)
    return kinds


def write(path, text):
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def batch(out, files, seed):
    b = Batch(seed)
    counts = {}
    bad = 0
    for kind in plan(files, random.Random(seed ^ 0x5EED)):
        if kind is None:
            name, text = b.bad(bad % 6)
            bad += 1
            kind = "bad"
        else:
            name, text = b.name(kind), serialize(b.document(kind))
        write(os.path.join(out, name), text)
        counts[kind] = counts.get(kind, 0) + 1
    return counts


def big_invoice(out, megabytes, seed):
    """One client invoice of about `megabytes` MB, written row by row."""
    b = Batch(seed)
    root = b.invoice(rows=0)
    root.find("invoiceRows").text = "@ROWS@"
    head, tail = serialize(root).split("@ROWS@")
    models = list(b.templates["invoice"][0].find("invoiceRows"))
    name = os.path.join(out, b.name("invoice"))
    target = megabytes * 1024 * 1024
    rows = 0
    with open(name, "w", encoding="utf-8") as f:
        f.write(head + "\n    ")
        size = len(head)
        while size < target:
            row = b.invoice_row(models[rows % len(models)], b.row_id())
            row.tail = "\n    "
            text = ET.tostring(row, encoding="unicode")
            f.write(text)
            size += len(text)
            rows += 1
        f.write(tail)
    return name, rows


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--out", required=True, help="folder to write into (created if missing)")
    p.add_argument("--files", type=int, default=2000, help="number of files (default 2000)")
    p.add_argument("--seed", type=int, default=1, help="random seed (default 1)")
    p.add_argument("--big-invoice-mb", type=int, default=0, help="write one client invoice of this size instead")
    a = p.parse_args()
    os.makedirs(a.out, exist_ok=True)
    if a.big_invoice_mb > 0:
        name, rows = big_invoice(a.out, a.big_invoice_mb, a.seed)
        print(f"{name}: {os.path.getsize(name)} bytes, {rows} rows")
        return 0
    counts = batch(a.out, a.files, a.seed)
    print(", ".join(f"{k} {v}" for k, v in sorted(counts.items(), key=lambda kv: -kv[1])))
    return 0


if __name__ == "__main__":
    sys.exit(main())
