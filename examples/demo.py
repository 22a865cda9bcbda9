"""Parse a bank statement and print a readable summary of it.

    python3.14 examples/demo.py [FILE] [--json]

FILE defaults to the UTF-8 sample next to this script.  With --json the
whole statement is printed as JSON instead.
"""

from __future__ import annotations

import argparse
import json
import sys
from decimal import Decimal
from pathlib import Path

import mirtle_py

SAMPLE = Path(__file__).with_name("statement_utf8.txt")


def statement_as_dict(stmt: mirtle_py.Statement) -> dict:
    def fields(obj, names):
        return {name: getattr(obj, name) for name in names}

    doc_names = [n for n in dir(mirtle_py.Document) if not n.startswith("_")]
    doc_names.sort(key=lambda n: list(vars(mirtle_py.Document)).index(n))
    interval_names = ["date_start", "date_end", "start_amount", "end_amount",
                      "total_income", "total_expense"]
    return {
        "encoding": stmt.encoding,
        "header": stmt.header,
        "accounts": {
            number: [fields(i, interval_names) for i in account.intervals]
            for number, account in stmt.accounts.items()
        },
        "documents": [fields(d, doc_names) for d in stmt.documents],
        "warnings": [{"lineno": n, "message": m} for n, m in stmt.warnings],
    }


def money(text: str | None) -> str:
    # Amounts arrive as exact decimal text; Decimal keeps them exact.
    return "" if text is None else f"{Decimal(text):,.2f}".replace(",", " ")


def print_summary(stmt: mirtle_py.Statement, out) -> None:
    header = stmt.header
    print(f"Statement ({stmt.encoding}) from {header.get('Отправитель', '?')}", file=out)
    print(f"Period: {header.get('ДатаНачала', '?')} – {header.get('ДатаКонца', '?')}\n", file=out)

    print("Accounts", file=out)
    for number, account in stmt.accounts.items():
        print(f"  {number}", file=out)
        for i in account.intervals:
            print(f"    {i.date_start} … {i.date_end or '?':10}  opening {money(i.start_amount):>16}"
                  f"  in {money(i.total_income):>14}  out {money(i.total_expense):>14}"
                  f"  closing {money(i.end_amount):>16}", file=out)

    print(f"\nDocuments ({len(stmt.documents)})", file=out)
    print(f"  {'No.':>6}  {'Date':10}  {'Amount':>16}  {'Type':24}  Purpose", file=out)
    for d in stmt.documents:
        purpose = d.purpose if len(d.purpose) <= 50 else d.purpose[:49] + "…"
        print(f"  {d.doc_number:>6}  {d.doc_date:10}  {money(d.amount):>16}  {d.doc_type:24}  {purpose}",
              file=out)

    if stmt.warnings:
        print(f"\nWarnings ({len(stmt.warnings)})", file=out)
        for lineno, message in stmt.warnings:
            print(f"  line {lineno}: {message}", file=out)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description="Summarise a 1CClientBankExchange statement.")
    parser.add_argument("file", nargs="?", type=Path, default=SAMPLE)
    parser.add_argument("--json", action="store_true", help="print the statement as JSON")
    args = parser.parse_args(argv)

    try:
        stmt = mirtle_py.parse(args.file.read_bytes())
    except mirtle_py.SyntaxError as e:
        print(f"{args.file}: line {e.detail.lineno}: {e}", file=sys.stderr)
        return 1
    except (mirtle_py.ParseError, OSError) as e:
        print(f"{args.file}: {e}", file=sys.stderr)
        return 1

    if args.json:
        json.dump(statement_as_dict(stmt), sys.stdout, ensure_ascii=False, indent=2)
        print()
    else:
        print_summary(stmt, sys.stdout)
    return 0


if __name__ == "__main__":
    sys.exit(main())
