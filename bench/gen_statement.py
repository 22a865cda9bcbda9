#!/usr/bin/env python3.14
"""Writes a synthetic "1CClientBankExchange" statement for benchmarks and fuzzing.

The output is deterministic for a given seed and size: the same arguments
always give the same bytes.  Companies, banks, INN, BIC and account numbers
are invented (the checksums are computed so that they look like real ones).

    gen_statement.py --size 50MB --encoding cp1251 -o bench/data/s.txt
    gen_statement.py --documents 1000 --seed 7 -o small.txt

Sizes use powers of 1024 (1KB = 1024 bytes); the file is cut at the first
document that reaches the size, so it is at most one document longer.
About one document in 500 is deliberately broken (a bad amount, an
impossible date or a missing number) so that parsers meet warnings.
"""

from __future__ import annotations

import argparse
import datetime as dt
import random
import re
import sys

_UNITS = {"": 1, "B": 1, "KB": 1024, "K": 1024, "MB": 1024**2, "M": 1024**2,
          "GB": 1024**3, "G": 1024**3}

BANKS = [
    # name, city; the BIC is derived from the position in this list
    ("АО КБ «Берестень»", "г. Москва"),
    ("ПАО «Кедровый расчетный банк»", "г. Новосибирск"),
    ("ООО «Банк Полынь»", "г. Екатеринбург"),
    ("АО «Среднерусский клиринговый банк»", "г. Тула"),
    ("ПАО Банк «Озерный край»", "г. Петрозаводск"),
    ("АО «Донской вексельный банк»", "г. Ростов-на-Дону"),
    ("ООО КБ «Янтарная гавань»", "г. Калининград"),
    ("АО «Камский сберегательный дом»", "г. Пермь"),
]

FORMS = ["ООО", "ООО", "ООО", "АО", "ПАО", "ИП"]
ROOTS = [
    "Лесная кладовая", "Тихий берег", "Медный ключ", "ТрансЛогика-Урал",
    "Северное сияние", "Гранит-Строй", "Вектор Плюс", "Зеленый квартал",
    "Агрокомплекс Заречье", "Полярная звезда", "Инжиниринг Системс",
    "Белый парус", "СтройМонтажСервис", "Теплоресурс", "Дубрава",
    "Сибирский хлебозавод №3", "Ладья", "Мастерская «Ёлка»", "Кварц",
    "Промснаб-Волга", "Фабрика Заря", "Орион-Техно", "Уютный дом",
    "Артель Кузнец", "Солнечный луч", "ТоргИнвест", "Южный ветер",
]
SURNAMES = ["Кузьмин Андрей Петрович", "Соколова Елена Викторовна",
            "Тимофеев Олег Игоревич", "Жукова Мария Сергеевна",
            "Павлов Денис Алексеевич", "Ёлкин Степан Ильич"]

GOODS = [
    "строительных материалов", "канцелярских товаров", "запасных частей",
    "продуктов питания", "офисной мебели", "программного обеспечения",
    "топлива дизельного", "упаковочной тары", "электротехнической продукции",
    "спецодежды", "лакокрасочных материалов",
]
SERVICES = [
    "транспортные услуги", "услуги связи", "аренду нежилого помещения",
    "техническое обслуживание оборудования", "охранные услуги",
    "консультационные услуги", "клининговые услуги", "рекламные услуги",
]

# (type, share); shares are per mille.
DOC_TYPES = [
    ("Платежное поручение", 800),
    ("Банковский ордер", 80),
    ("Мемориальный ордер", 40),
    ("Платежное требование", 40),
    ("Инкассовое поручение", 20),
    ("Платежный ордер", 20),
]


def parse_size(text: str) -> int:
    m = re.fullmatch(r"\s*(\d+(?:\.\d+)?)\s*([KMG]?B?)\s*", text.upper())
    if not m:
        raise argparse.ArgumentTypeError(f"bad size {text!r} (use e.g. 2KB, 50MB)")
    return int(float(m.group(1)) * _UNITS[m.group(2)])


def _digits(rng: random.Random, n: int) -> str:
    return "".join(rng.choice("0123456789") for _ in range(n))


def inn10(rng: random.Random) -> str:
    """A 10-digit INN of an organisation, with its check digit."""
    body = str(rng.choice([77, 78, 50, 54, 66, 71, 10, 61, 39, 59])) + _digits(rng, 7)
    weights = (2, 4, 10, 3, 5, 9, 4, 6, 8)
    check = sum(int(d) * w for d, w in zip(body, weights)) % 11 % 10
    return body + str(check)


def inn12(rng: random.Random) -> str:
    """A 12-digit INN of a private entrepreneur, with both check digits."""
    body = str(rng.choice([77, 50, 66, 54])) + _digits(rng, 8)
    w1 = (7, 2, 4, 10, 3, 5, 9, 4, 6, 8)
    c1 = sum(int(d) * w for d, w in zip(body, w1)) % 11 % 10
    body += str(c1)
    w2 = (3, 7, 2, 4, 10, 3, 5, 9, 4, 6, 8)
    c2 = sum(int(d) * w for d, w in zip(body, w2)) % 11 % 10
    return body + str(c2)


def account_number(rng: random.Random, bic: str, prefix: str = "40702810") -> str:
    """A 20-digit account number whose key digit matches the BIC."""
    rest = _digits(rng, 11)
    digits = prefix + "0" + rest
    weights = (7, 1, 3) * 8
    total = sum(int(d) * w % 10 for d, w in zip(bic[-3:] + digits, weights))
    key = total % 10 * 3 % 10
    return prefix + str(key) + rest


def bank_table(rng: random.Random) -> list[dict[str, str]]:
    banks = []
    for i, (name, city) in enumerate(BANKS):
        region = ["45", "50", "65", "70", "86", "60", "27", "57"][i]
        bic = "04" + region + _digits(rng, 2) + f"{100 + 37 * i:03d}"[-3:]
        banks.append({"name": name, "city": city, "bic": bic,
                      "cor": "30101810" + _digits(rng, 9) + bic[-3:]})
    return banks


def company_table(rng: random.Random, banks: list[dict[str, str]], n: int) -> list[dict[str, str]]:
    companies = []
    for _ in range(n):
        form = rng.choice(FORMS)
        bank = rng.choice(banks)
        if form == "ИП":
            name = "ИП " + rng.choice(SURNAMES)
            inn, kpp = inn12(rng), ""
            acct = account_number(rng, bank["bic"], "40802810")
        else:
            name = f"{form} «{rng.choice(ROOTS)}»"
            inn = inn10(rng)
            kpp = inn[:4] + rng.choice(["01001", "01001", "43001"])
            acct = account_number(rng, bank["bic"])
        companies.append({"name": name, "inn": inn, "kpp": kpp, "account": acct, "bank": bank})
    return companies


def money(rng: random.Random, low: float, high: float) -> str:
    # Log-uniform, so that small payments outnumber large ones.
    value = round(10 ** rng.uniform(low, high), 2)
    return f"{value:.2f}"


def purpose(rng: random.Random, date: str, amount: str) -> str:
    kind = rng.random()
    n = rng.randint(1, 9999)
    if kind < 0.45:
        vat = f"{float(amount) / 6:.2f}"
        return (f"Оплата по счету № {n} от {date} за поставку {rng.choice(GOODS)}. "
                f"В том числе НДС (20%) {vat} руб.")
    if kind < 0.75:
        return (f"Оплата за {rng.choice(SERVICES)} по договору № {n}/{rng.randint(20, 24)} "
                f"от {date}. НДС не облагается")
    if kind < 0.85:
        return f"Возврат излишне перечисленных денежных средств по п/п № {n} от {date}. Без НДС"
    if kind < 0.93:
        return (f"Перечисление заработной платы за {rng.choice(MONTHS)} по реестру № {n}. "
                "Без налога (НДС)")
    return f"Комиссия за ведение счета за {rng.choice(MONTHS)} согласно тарифам банка"


MONTHS = ["январь", "февраль", "март", "апрель", "май", "июнь", "июль",
          "август", "сентябрь", "октябрь", "ноябрь", "декабрь"]


class Generator:
    def __init__(self, seed: int, encoding: str, accounts: int, start: dt.date, days: int):
        self.rng = random.Random(seed)
        self.encoding = encoding
        self.start = start
        self.days = days
        self.banks = bank_table(self.rng)
        self.companies = company_table(self.rng, self.banks, 300)
        # Our own accounts: one company, several accounts.
        self.own = next(c for c in self.companies if c["kpp"])  # an organisation
        self.own_accounts = [self.own["account"]] + [
            account_number(self.rng, self.own["bank"]["bic"]) for _ in range(accounts - 1)]
        self.dates = [(start + dt.timedelta(days=i)).strftime("%d.%m.%Y") for i in range(days)]

    def header(self) -> list[str]:
        first, last = self.dates[0], self.dates[-1]
        lines = [
            "1CClientBankExchange",
            "ВерсияФормата=1.03",
            "Кодировка=" + ("Windows" if self.encoding == "cp1251" else "UTF-8"),
            "Отправитель=Бухгалтерия предприятия, редакция 3.0",
            "Получатель=",
            "ДатаСоздания=" + last,
            "ВремяСоздания=" + f"{self.rng.randint(8, 19):02d}:{self.rng.randint(0, 59):02d}:"
                               f"{self.rng.randint(0, 59):02d}",
            "ДатаНачала=" + first,
            "ДатаКонца=" + last,
        ]
        lines += ["РасчСчет=" + a for a in self.own_accounts]
        lines += ["Документ=" + t for t, _ in DOC_TYPES[:3]]
        return lines

    def account_sections(self, periods: int) -> list[str]:
        rng = self.rng
        lines = []
        for acct in self.own_accounts:
            balance = float(money(rng, 4, 7))
            for p in range(periods):
                first = self.start + dt.timedelta(days=p * self.days // periods)
                last = self.start + dt.timedelta(days=(p + 1) * self.days // periods - 1)
                income = float(money(rng, 4, 7))
                expense = round((balance + income) * rng.uniform(0.2, 0.95), 2)
                end = balance + income - expense
                lines += [
                    "СекцияРасчСчет",
                    "ДатаНачала=" + first.strftime("%d.%m.%Y"),
                    "ДатаКонца=" + last.strftime("%d.%m.%Y"),
                    "РасчСчет=" + acct,
                    f"НачальныйОстаток={balance:.2f}",
                    f"ВсегоПоступило={income:.2f}",
                    f"ВсегоСписано={expense:.2f}",
                    f"КонечныйОстаток={end:.2f}",
                    "КонецРасчСчет",
                ]
                balance = end
        return lines

    def document(self, index: int, broken: bool) -> list[str]:
        rng = self.rng
        r = rng.randrange(1000)
        for doc_type, share in DOC_TYPES:
            if r < share:
                break
            r -= share
        date_i = rng.randrange(self.days)
        date = self.dates[date_i]
        booked = self.dates[min(self.days - 1, date_i + rng.choice((0, 0, 0, 1, 2)))]
        outgoing = rng.random() < 0.55
        other = rng.choice(self.companies[1:])
        own = {**self.own, "account": rng.choice(self.own_accounts)}
        payer, payee = (own, other) if outgoing else (other, own)
        amount = money(rng, 2, 6.3)
        if rng.random() < 0.05:
            amount = str(rng.randint(1, 90) * 1000)  # written without kopecks
        number = str(rng.randint(1, 99999)) if rng.random() < 0.9 else str(index + 1)

        lines = [
            "СекцияДокумент=" + doc_type,
            "Номер=" + number,
            "Дата=" + date,
            "Сумма=" + amount,
            "ПлательщикСчет=" + payer["account"],
            "ДатаСписано=" + (booked if outgoing else ""),
            f"Плательщик=ИНН {payer['inn']} {payer['name']}",
            "ПлательщикИНН=" + payer["inn"],
            "ПлательщикКПП=" + payer["kpp"],
            "Плательщик1=" + payer["name"],
            "ПлательщикРасчСчет=" + payer["account"],
            "ПлательщикБанк1=" + payer["bank"]["name"],
            "ПлательщикБанк2=" + payer["bank"]["city"],
            "ПлательщикБИК=" + payer["bank"]["bic"],
            "ПлательщикКорсчет=" + payer["bank"]["cor"],
            "ПолучательСчет=" + payee["account"],
            "ДатаПоступило=" + ("" if outgoing else booked),
            f"Получатель=ИНН {payee['inn']} {payee['name']}",
            "ПолучательИНН=" + payee["inn"],
            "ПолучательКПП=" + payee["kpp"],
            "Получатель1=" + payee["name"],
            "ПолучательРасчСчет=" + payee["account"],
            "ПолучательБанк1=" + payee["bank"]["name"],
            "ПолучательБанк2=" + payee["bank"]["city"],
            "ПолучательБИК=" + payee["bank"]["bic"],
            "ПолучательКорсчет=" + payee["bank"]["cor"],
            "ВидПлатежа=" + rng.choice(("электронно", "электронно", "")),
            "ВидОплаты=" + ("01" if doc_type == "Платежное поручение" else "17"),
            "Код=0",
            "НазначениеПлатежа=" + purpose(rng, date, amount),
        ]
        if rng.random() < 0.3:
            lines.append("НазначениеПлатежа1=Договор № " + str(rng.randint(1, 999)) + "-П")
        lines.append("Очередность=" + ("5" if rng.random() < 0.9 else "3"))
        if rng.random() < 0.15:  # a tax payment carries the budget keys
            lines += [
                "СтатусСоставителя=01",
                "ПоказательКБК=18210301000011000110",
                "ОКАТО=" + _digits(rng, 11),
                "ПоказательОснования=ТП",
                f"ПоказательПериода=КВ.0{rng.randint(1, 4)}.2024",
                "ПоказательНомера=0",
                "ПоказательДаты=0",
                "ПоказательТипа=",
            ]
        if doc_type == "Платежное требование":
            lines.append("СрокАкцепта=5")  # not a document field: ignored
        if rng.random() < 0.1:
            lines.append("КодНазПлатежа=1")

        if broken:
            fault = rng.randrange(3)
            if fault == 0:
                lines[3] = "Сумма=" + amount.replace(".", ",")
            elif fault == 1:
                lines[2] = "Дата=31.02.2024"
            else:
                del lines[1]
        lines.append("КонецДокумента")
        return lines


def generate(args: argparse.Namespace) -> list[bytes]:
    start = dt.date(2024, 1, 1)
    gen = Generator(args.seed, args.encoding, args.accounts, start, args.days)
    nl = "\r\n" if args.newline == "crlf" else "\n"
    enc = args.encoding

    def encode(lines: list[str]) -> bytes:
        return (nl.join(lines) + nl).encode(enc)

    chunks = [encode(gen.header()), encode(gen.account_sections(args.periods))]
    total = sum(map(len, chunks))
    footer = encode(["КонецФайла"])
    limit = args.size if args.documents is None else None
    wanted = args.documents

    batch: list[bytes] = []
    count = 0
    while wanted is None or count < wanted:
        broken = not args.no_warnings and (gen.rng.random() < 0.002 or count == 7)
        doc = encode(gen.document(count, broken))
        count += 1
        batch.append(doc)
        total += len(doc)
        if len(batch) >= 2000:
            chunks.append(b"".join(batch))
            batch.clear()
        if limit is not None and total + len(footer) >= limit:
            break
    if batch:
        chunks.append(b"".join(batch))
    chunks.append(footer)
    return chunks


def main(argv: list[str] | None = None) -> int:
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    g = p.add_mutually_exclusive_group()
    g.add_argument("--size", type=parse_size, default=parse_size("1MB"),
                   help="target size, e.g. 2KB, 1MB, 50MB, 200MB (default 1MB)")
    g.add_argument("--documents", type=int, help="exact number of documents")
    p.add_argument("--encoding", choices=("cp1251", "utf-8"), default="utf-8")
    p.add_argument("--newline", choices=("lf", "crlf"),
                   help="line ends (default: crlf for cp1251, lf for utf-8)")
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--accounts", type=int, default=3)
    p.add_argument("--periods", type=int, default=3, help="account sections per account")
    p.add_argument("--days", type=int, default=91, help="length of the statement period")
    p.add_argument("--no-warnings", action="store_true", help="write no broken documents")
    p.add_argument("-o", "--output", default="-", help="output file (default stdout)")
    args = p.parse_args(argv)
    if args.newline is None:
        args.newline = "crlf" if args.encoding == "cp1251" else "lf"
    if args.accounts < 1 or args.periods < 1 or args.days < args.periods:
        p.error("need at least one account and period, and days >= periods")

    chunks = generate(args)
    if args.output == "-":
        sys.stdout.buffer.writelines(chunks)
    else:
        with open(args.output, "wb") as f:
            f.writelines(chunks)
    return 0


if __name__ == "__main__":
    sys.exit(main())
