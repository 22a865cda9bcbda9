"""The type stub declares what the module really has."""

import ast
import inspect
from pathlib import Path

import pytest

import mirtle_py

STUB = Path(__file__).resolve().parents[2] / "mirtle_py" / "__init__.pyi"

if not STUB.exists():
    pytest.skip(f"no stub at {STUB}", allow_module_level=True)

TREE = ast.parse(STUB.read_text(encoding="utf-8"), filename=str(STUB))


def _targets(node):
    if isinstance(node, ast.Assign):
        return [t.id for t in node.targets if isinstance(t, ast.Name)]
    if isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
        return [node.target.id]
    if isinstance(node, (ast.ClassDef, ast.FunctionDef, ast.AsyncFunctionDef)):
        return [node.name]
    if isinstance(node, ast.TypeAlias):
        return [node.name.id]
    return []


def _public(names):
    return [n for n in names if not n.startswith("_")]


def _declared(body):
    """Public names a body declares, in order, each once."""
    out = []
    for node in body:
        for name in _public(_targets(node)):
            if name not in out:
                out.append(name)
    return out


CLASSES = {node.name: node for node in TREE.body if isinstance(node, ast.ClassDef)}
FUNCTIONS = {node.name: node for node in TREE.body if isinstance(node, ast.FunctionDef)}

TOP_LEVEL = _declared(TREE.body)


def test_stub_declares_exactly_the_public_names():
    assert set(TOP_LEVEL) == set(mirtle_py.__all__)


def test_stub_all_matches_when_given():
    for node in TREE.body:
        if "__all__" in _targets(node):
            assert ast.literal_eval(node.value) == mirtle_py.__all__
            break



def _syntax_error():
    try:
        mirtle_py.parse("1CClientBankExchange\nFoo\n")
    except mirtle_py.SyntaxError as e:
        return e


# attributes that live in the instance dictionary rather than on the class
INSTANCE_ATTRIBUTES = {"SyntaxError": vars(_syntax_error())}


@pytest.mark.parametrize("name", [n for n in mirtle_py.__all__ if n != "parse"])
def test_class_attributes_match(name):
    assert name in CLASSES, f"{name} is not a class in the stub"
    real = getattr(mirtle_py, name)
    real_names = _public(vars(real)) + _public(INSTANCE_ATTRIBUTES.get(name, {}))
    assert set(_declared(CLASSES[name].body)) == set(real_names)


@pytest.mark.parametrize("name", ["Interval", "Account", "Document", "Statement"])
def test_result_attributes_in_class_order(name):
    real_order = [k for k in vars(getattr(mirtle_py, name)) if not k.startswith("_")]
    assert _declared(CLASSES[name].body) == real_order


@pytest.mark.parametrize("name", [n for n in mirtle_py.__all__ if n.endswith("Error")
                                  and issubclass(getattr(mirtle_py, n), BaseException)])
def test_exception_bases(name):
    bases = [ast.unparse(b) for b in CLASSES[name].bases]
    expected = [b.__name__ for b in getattr(mirtle_py, name).__bases__]
    assert bases == expected


@pytest.mark.parametrize("name", ["UnexpectedSection", "UnexpectedAttribute", "UnrecognizedLine", "MissingField",
                                  "AccountParseError", "DocumentParseError", "HookError"])
def test_detail_constructor_parameters(name):
    ctor = [n for n in CLASSES[name].body if isinstance(n, ast.FunctionDef) and n.name in ("__new__", "__init__")]
    assert ctor, f"{name} declares no constructor"
    params = [a.arg for a in ctor[0].args.args[1:]] + [a.arg for a in ctor[0].args.kwonlyargs]
    real = getattr(mirtle_py, name).__text_signature__.strip("()").split(", ")
    assert params == real


def test_parse_signature():
    node = FUNCTIONS["parse"]
    declared = [a.arg for a in node.args.posonlyargs + node.args.args]
    real = inspect.signature(mirtle_py.parse)
    assert declared == list(real.parameters)
    assert [ast.literal_eval(d) for d in node.args.defaults] == [None]
