"""An XLSX workbook and the balance checks, as the tests expect them: the cells read back with openpyxl
against mirtle_py's values, and the checks computed here with Decimal, apart from the code under test.
Shared by the tool's and the toolkit's suites."""

import datetime as dt
from decimal import Decimal

DATES = {"doc_date", "outcome_date", "income_date"}
ACCOUNT_HEADERS = ["РасчСчет", "ДатаНачала", "ДатаКонца", "Строка", "НачальныйОстаток", "ВсегоПоступило",
                   "ВсегоСписано", "КонечныйОстаток", "arithmetic_ok", "continuity_ok", "documents_income",
                   "documents_expense", "income_difference", "expense_difference"]
ACCOUNT_NAMES = ["account", "date_start", "date_end", "lineno", "opening", "income", "expense", "closing",
                 *ACCOUNT_HEADERS[8:]]


def document_attributes(document_class):
    return [name for name, value in vars(document_class).items() if not name.startswith("_") and not callable(value)]


def statement_date(iso):
    """An ISO date as the statement writes it, dd.mm.yyyy."""
    year, month, day = iso.rsplit("-", 2)
    return f"{day}.{month}.{year}"


def check_date(cell, iso):
    """A date within Excel's calendar is a date cell shown dd.mm.yyyy; any other stays text."""
    if iso is None:
        assert cell.value is None
        return
    year = int(iso.rsplit("-", 2)[0])
    if 1900 <= year <= 9999:
        assert cell.value == dt.datetime.combine(dt.date.fromisoformat(iso), dt.time())
        assert cell.number_format == "dd.mm.yyyy"
    else:
        assert cell.value == statement_date(iso)


def check_amount(cell, text):
    """A number that gives back the amount at its scale, shown with its scale and grouped thousands; else the
    amount's text, and then only where no double gives it back exactly as the file stores numbers."""
    if text is None:
        assert cell.value is None
        return
    scale = len(text.partition(".")[2])
    if isinstance(cell.value, str):
        assert cell.value == text
        value = float(text)
        assert f"{value:.{scale}f}" != text or float(f"{value:.16G}") != value
    else:
        assert isinstance(cell.value, (int, float)) and not isinstance(cell.value, bool)
        assert f"{cell.value:.{scale}f}" == text
        assert cell.number_format == "#,##0" + ("." + "0" * scale if scale else "")


def check_documents_sheet(ws, stmt, lines, names):
    """`lines`: each document's closing line, or None where the cells stay empty."""
    rows = list(ws.iter_rows())
    keys = [c.value for c in rows[0]]
    # The file's keys are checked by the tests of the headers.
    import mirtle_py
    attrs = document_attributes(mirtle_py.Document)
    assert keys == (attrs + ["lineno"] if names else keys[:53] + ["Строка"])
    assert len(rows) == len(stmt.documents) + 1
    assert ws.freeze_panes == "A2" and ws.auto_filter.ref == f"A1:BB{len(rows)}"
    for row, document, line in zip(rows[1:], stmt.documents, lines or [None] * len(stmt.documents)):
        for cell, attr in zip(row, attrs):
            value = getattr(document, attr)
            if attr in DATES:
                check_date(cell, value)
            elif attr == "amount":
                check_amount(cell, value)
            else:  # an empty text leaves the cell empty, as an absent one does
                assert cell.value == (value or None)
        assert row[53].value == line


# --- the balance checks, computed here ------------------------------------------------------------------------

def next_day(iso):
    return (dt.date.fromisoformat(iso) + dt.timedelta(days=1)).isoformat()


def expected_balances(stmt, sections=None):
    """One row per interval in the module's account order: the checks made with Decimal, lines from the raw
    sections, (kind, start_line, [(line, key, value), ...]) each (a repeated interval named by its first
    section); without them the lines are None."""
    first_line = {}
    for kind, start_line, attributes in sections or []:
        if kind == "account":
            values = {k: v for _, k, v in attributes}
            key = (values.get("РасчСчет"), values.get("ДатаНачала"), values.get("ДатаКонца") or None,
                   *(Decimal(values[k].replace(" ", "")) if values.get(k) else None
                     for k in ("НачальныйОстаток", "ВсегоПоступило", "ВсегоСписано", "КонечныйОстаток")))
            first_line.setdefault(key, start_line)
    rows = []
    for number, acct in stmt.accounts.items():
        previous = None
        for i in acct.intervals:
            amounts = [Decimal(x) if x is not None else None
                       for x in (i.start_amount, i.total_income, i.total_expense, i.end_amount)]
            opening, income, expense, closing = amounts
            key = (number, statement_date(i.date_start), statement_date(i.date_end) if i.date_end else None, *amounts)
            within = (lambda d, i=i: d is not None and i.date_start <= d and (i.date_end is None or d <= i.date_end))
            credited = sum((Decimal(d.amount) for d in stmt.documents
                            if d.payee_account == number and within(d.income_date)), Decimal(0))
            debited = sum((Decimal(d.amount) for d in stmt.documents
                           if d.counterparty_account == number and within(d.outcome_date)), Decimal(0))
            touches = previous is not None and previous.date_end and next_day(previous.date_end) == i.date_start \
                and previous.end_amount is not None
            rows.append({
                "account": number, "date_start": i.date_start, "date_end": i.date_end,
                "lineno": first_line[key] if sections is not None else None,
                "arithmetic_ok": None if None in amounts else opening + income - expense == closing,
                "continuity_ok": Decimal(previous.end_amount) == opening if touches else None,
                "documents_income": credited, "documents_expense": debited,
                "income_difference": None if income is None else income - credited,
                "expense_difference": None if expense is None else expense - debited,
                "amounts": amounts})
            previous = i
    return rows


def check_accounts_sheet(ws, expected, names):
    rows = list(ws.iter_rows())
    assert [c.value for c in rows[0]] == (ACCOUNT_NAMES if names else ACCOUNT_HEADERS)
    assert len(rows) == len(expected) + 1 and ws.freeze_panes == "A2"
    for row, e in zip(rows[1:], expected):
        assert row[0].value == e["account"]
        check_date(row[1], e["date_start"])
        check_date(row[2], e["date_end"])
        assert row[3].value == e["lineno"]
        for cell, amount in zip(row[4:8], e["amounts"]):
            assert (cell.value is None) == (amount is None)
            if amount is not None:
                assert Decimal(str(cell.value)) == amount
        assert (row[8].value, row[9].value) == (e["arithmetic_ok"], e["continuity_ok"])
        for cell, key in zip(row[10:14], ["documents_income", "documents_expense", "income_difference",
                                          "expense_difference"]):
            assert (None if cell.value is None else Decimal(str(cell.value))) == e[key]
    assert len(ws._charts) == (1 if expected else 0)
