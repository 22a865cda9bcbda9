"""The type stub declares the module's public names, members, bases and signatures."""

import ast
import inspect
from pathlib import Path

import mirtle_py

STUB = ast.parse((Path(__file__).resolve().parents[2] / "mirtle_py" / "__init__.pyi").read_text(encoding="utf-8"))


def declared(body):  # public names, in order, each once
    names = [n.target.id if isinstance(n, ast.AnnAssign) else getattr(n, "name", None) for n in body]
    names += [t.id for n in body if isinstance(n, ast.Assign) for t in n.targets]
    return list(dict.fromkeys(n for n in names if n and not n.startswith("_")))


def test_stub_matches_the_module():
    defs = {n.name: n for n in STUB.body if isinstance(n, (ast.ClassDef, ast.FunctionDef))}
    (stub_all,) = [ast.literal_eval(n.value) for n in STUB.body if ast.unparse(n).startswith("__all__ =")]
    assert stub_all == mirtle_py.__all__ and set(declared(STUB.body)) == set(defs) == set(mirtle_py.__all__)
    for name, node in defs.items():
        real = getattr(mirtle_py, name)
        if name == "parse":  # (statement, hooks=None)
            assert ([a.arg for a in node.args.args], [d.value for d in node.args.defaults]) == (
                list(inspect.signature(real).parameters), [None])
            continue
        own = [k for k in vars(real) if not k.startswith("_")]  # SyntaxError's detail is set on each instance
        assert set(declared(node.body)) == set(own) | ({"detail"} if name == "SyntaxError" else set()), name
        assert [ast.unparse(b) for b in node.bases] == [b.__name__ for b in real.__bases__ if b is not object], name
        if name in ("Interval", "Account", "Document", "Statement"):
            assert declared(node.body) == own, name  # in the class's order
        elif real.__text_signature__:
            (new,) = [n for n in node.body if isinstance(n, ast.FunctionDef) and n.name == "__new__"]
            assert f"({', '.join(a.arg for a in new.args.args[1:])})" == real.__text_signature__, name
